// The program's own road for a command file of 10,000 lines: the driver's argument loop
// reads it with FLReadRec, SimCmd splits and parses every command and writes its debug line
// to the program log, and the keys and clicks go to a fake desktop on a fake clock.
// bench/run.sh runs it against the same benchmark built on an earlier runtime.
#include "app/driver.h"
#include "base/settings.h"
#include "bench/bench_common.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_desktop.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {
namespace fs = std::filesystem;

constexpr int kLines = 10000;

// A mix of what command files hold: keys with and without up/down codes, clicks with
// coordinates, short typed texts, windows by title pattern and by class.
struct CommandFile {
  fs::path dir;
  fs::path path;
  CommandFile() {
    dir = fs::temp_directory_path() / ("tapster_mix_" + std::to_string(std::rand()));
    fs::create_directories(dir);
    path = dir / "commands.txt";
    std::ofstream out(path, std::ios::binary);
    static const char* const kKeys[] = {"Enter", "Tab", "F5", "Ctrl/D", "Ctrl/U", "A", "KP:7"};
    U4 seed = 2024;
    for (int i = 0; i < kLines; ++i) {
      seed = seed * 1103515245u + 12345u;
      const U4 r = seed >> 8;
      const char* win = r & 1 ? "Untitled - Note~" : "Class:Notepad";
      switch (r % 4) {
      case 0:
        out << win << "/Mouse:L//" << r % 400 << "/" << r % 600 << "\r\n";
        break;
      case 1:
        out << win << "/'ok " << r % 100 << "'\r\n";
        break;
      default:
        out << win << "/" << kKeys[r % 7] << "\r\n";
        break;
      }
    }
  }
  ~CommandFile() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

// Written before any benchmark runs, so that instruction counts leave it out.
const CommandFile file;

void BM_CommandFile(benchmark::State& state) {
  ScopedFakeClock clock;
  ScopedFakeDesktop desktop;
  FakeWindow w;
  w.title = "Untitled - Notepad";
  w.className = "Notepad";
  w.rect = {100, 200, 740, 680};
  desktop.desktop.Add(w);

  // Quiet console, the debug lines in a log file of the run.
  stdout_fno = -1;
  log_echo = false;
  debug_level = 1;
  std::snprintf(pgm_log_fn, sizeof pgm_log_fn, "%s", (file.dir / "mix.log").string().c_str());
  if (!OpenPgmLog(0)) state.SkipWithError("no program log");
  std::string arg(1, '@');
  arg += file.path.string();
  char* argv[] = {const_cast<char*>("tapster"), arg.data(), nullptr};
  for (auto _ : state) {
    RunArguments(2, argv);
    if (ErrSet) {
      state.SkipWithError("a command failed");
      break;
    }
    desktop.desktop.calls.clear();
    clock.clock.sleeps.clear();
  }
  ClosePgmLog();
  debug_level = 0;
  state.SetItemsProcessed(I8(state.iterations()) * kLines);
}
} // namespace

BENCHMARK(BM_CommandFile)->Apply(BenchFixedIterations)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
