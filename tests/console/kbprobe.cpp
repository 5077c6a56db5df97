// A console program for the end-to-end tests.
//   kbprobe keys ...  opens the keyboard and prints each key's name until "q".
//   kbprobe wait ...  runs the driver against an empty desktop, so a command waits for
//                     its window.
//   kbprobe child CMD ...  runs CMD as a child process and waits for it.
//   kbprobe pipe CMD ...   reads CMD's output through a pipe.
//   kbprobe getch ...      reads console characters one by one until "q".
#include "app/driver.h"
#include "console/kb.h"
#include "console/keynames.h"
#include "errlog/errstack.h"
#include "mem/tracked.h"
#include "platform/fake/fake_desktop.h"
#include "proc/exec.h"
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

// The error line as the driver writes it, then the orderly end.
int End() {
  if (ErrSet) {
    char msg[4096];
    ErrMessage(true, true, msg, sizeof msg);
    std::printf("ERROR: %s\n", msg);
  }
  return ProgramExit(255);
}

int Child(char** argv, bool piped) {
  ProgramInit(argv);
  const char* cmd = ArgText(argv, "", "");
  ArgText(argv, nullptr);
  std::printf("running\n");
  std::fflush(stdout);
  U4 size = 0;
  if (piped) {
    char* out = PipeToBfMult(&size, false, cmd, nullptr);
    FreeSP(&out);
  } else {
    ExecExtProcMult(0, false, nullptr, cmd, nullptr);
  }
  return End();
}

int GetChars(char** argv) {
  ProgramInit(argv);
  ArgText(argv, nullptr);
  std::printf("ready\n");
  std::fflush(stdout);
  for (int c = 0; c != 'q' && c != 26;) {
    c = KBGetChar(true);
    std::printf("char=%d\n", c);
    std::fflush(stdout);
  }
  return End();
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
  if (std::strcmp(argv[1], "child") == 0) return Child(args.data(), false);
  if (std::strcmp(argv[1], "pipe") == 0) return Child(args.data(), true);
  if (std::strcmp(argv[1], "getch") == 0) return GetChars(args.data());
  if (std::strcmp(argv[1], "wait") == 0) {
    static FakeDesktop desktop;
    SetDesktop(&desktop);
    return TapsterMain(int(args.size() - 1), args.data());
  }
  return 2;
}
