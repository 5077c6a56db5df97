// A console program for the end-to-end tests.
//   kbprobe keys ...  opens the keyboard and prints each key's name until "q".
//   kbprobe wait ...  runs the driver against an empty desktop, so a command waits for
//                     its window.
#include "app/driver.h"
#include "console/kb.h"
#include "console/keynames.h"
#include "errlog/errstack.h"
#include "platform/fake/fake_desktop.h"
#include "runtime/shutdown.h"
#include "runtime/startup.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int Keys(char** argv) {
  ProgramInit(argv);
  ArgText(argv, nullptr);
  OpenKB(true);
  if (!ErrSet) {
    std::printf("ready\n");
    std::fflush(stdout);
  }
  while (!ErrSet) {
    const U2 key = KBReadKey(true, false);
    if (key == 'q') break;
    if (key) std::printf("key=%s\n", KeyName(key));
    std::fflush(stdout);
  }
  return ProgramExit(255);
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  // The mode word is not an argument of the program itself.
  std::vector<char*> args{argv[0]};
  for (int i = 2; i < argc; ++i)
    args.push_back(argv[i]);
  args.push_back(nullptr);
  if (std::strcmp(argv[1], "keys") == 0) return Keys(args.data());
  if (std::strcmp(argv[1], "wait") == 0) {
    static FakeDesktop desktop;
    SetDesktop(&desktop);
    return TapsterMain(int(args.size() - 1), args.data());
  }
  return 2;
}
