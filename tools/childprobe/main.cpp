// childprobe [--out TEXT] [--err TEXT] [--stdin FILE] [--args] [--pidfile FILE] [--sleep MS]
// [--exit N]: writes TEXT (with "\n" for "|") to standard output or error, what its standard
// input brings to FILE, its other arguments one per line with --args, its pid to FILE, then
// sleeps and exits with N, in that order.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {
void Write(std::FILE* f, const char* text) {
  for (const char* p = text; *p; ++p)
    std::fputc(*p == '|' ? '\n' : *p, f);
  std::fputc('\n', f);
  std::fflush(f);
}
} // namespace

int main(int argc, char** argv) {
  int code = 0;
  long sleep_ms = 0;
  bool list = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : "";
    if (a == "--out") {
      Write(stdout, v);
      ++i;
    } else if (a == "--err") {
      Write(stderr, v);
      ++i;
    } else if (a == "--stdin") {
#ifdef _WIN32
      _setmode(_fileno(stdin), _O_BINARY); // the bytes as they came
#endif
      std::string in;
      char bf[4096];
      for (size_t n; (n = std::fread(bf, 1, sizeof bf, stdin)) > 0;)
        in.append(bf, n);
      if (std::FILE* f = std::fopen(v, "wb")) {
        std::fwrite(in.data(), 1, in.size(), f);
        std::fclose(f);
      }
      ++i;
    } else if (a == "--pidfile") {
      if (std::FILE* f = std::fopen(v, "w")) {
        std::fprintf(f, "%d\n", static_cast<int>(getpid()));
        std::fclose(f);
      }
      ++i;
    } else if (a == "--sleep") {
      sleep_ms = std::atol(v);
      ++i;
    } else if (a == "--exit") {
      code = std::atoi(v);
      ++i;
    } else if (a == "--args") {
      list = true;
    } else if (list) {
      std::printf("[%s]\n", argv[i]);
    }
  }
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::milliseconds(sleep_ms));
  return code;
}
