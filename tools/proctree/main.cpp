// proctree <own path> <dir> [n1 [n2 ...]]: writes <dir>/<pid>.pid, starts n1 children that
// each get n2 ..., then idles (at most two minutes, so a failed test leaves nothing behind).
#include "platform/process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::string self = argv[1], dir = argv[2];
  int n = argc > 3 ? std::atoi(argv[3]) : 0;
  std::string rest;
  for (int i = 4; i < argc; ++i)
    rest += std::string(" ") + argv[i];
  for (int i = 0; i < n; ++i) {
    std::string cmd = "\"" + self + "\" \"" + self + "\" \"" + dir + "\"" + rest;
    PlatformChildStart start;
    start.cmd = cmd.c_str();
    start.direct = true;
    void* child = nullptr;
    U4 code = 0;
    if (PlatformStartChild(start, &child, nullptr, &code) == 0) return 3;
  }
  // Written after the children started, so that all files present means the tree is whole.
  std::string fn = dir + "/" + std::to_string(PlatformOwnPid()) + ".pid";
  std::string tmp = fn + ".tmp";
  if (std::FILE* f = std::fopen(tmp.c_str(), "w")) {
    std::fprintf(f, "%u\n", PlatformOwnPid());
    std::fclose(f);
    std::rename(tmp.c_str(), fn.c_str());
  }
  for (int i = 0; i < 1200; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return 0;
}
