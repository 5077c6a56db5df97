// Reading a large command file record by record: FLReadRec against std::getline.
#include "errlog/errstack.h"
#include "files/fldf.h"

#include "bench/bench_common.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {
namespace fs = std::filesystem;

// At least 100 MB; TAPSTER_BENCH_FILE_MB makes it smaller for the instruction counts.
std::uintmax_t FileBytes() {
  const char* mb = std::getenv("TAPSTER_BENCH_FILE_MB");
  return std::uintmax_t(mb ? std::atoi(mb) : 128) << 20;
}

struct CommandFile {
  fs::path path;
  U8 lines = 0;
  CommandFile() {
    path = fs::temp_directory_path() / ("tapster_bench_" + std::to_string(std::rand())) /
           "commands.txt";
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    std::string line;
    U4 seed = 12345;
    std::uintmax_t size = 0;
    const std::uintmax_t want = FileBytes();
    while (size < want) {
      seed = seed * 1103515245u + 12345u;
      line = "Class:Notepad~/\"text " + std::to_string(seed % 100000) + "\"/3/" +
             std::to_string(seed % 1024) + "/" + std::to_string(seed % 768) +
             std::string(seed % 40, 'x') + "\r\n";
      out << line;
      size += line.size();
      ++lines;
    }
  }
  ~CommandFile() {
    std::error_code ec;
    fs::remove_all(path.parent_path(), ec);
  }
};

// Written before any benchmark runs, so that instruction counts leave it out.
const CommandFile the_file;
const CommandFile& File() {
  return the_file;
}

void BM_FLReadRec(benchmark::State& state) {
  const CommandFile& file = File();
  const std::string name = file.path.string();
  for (auto _ : state) {
    U8 lines = 0, bytes = 0;
    FLDF* fd = FLOpenRead(name.c_str());
    while (const char* rec = FLReadRec(fd)) {
      ++lines;
      bytes += rec[0];
    }
    FLClose(fd);
    if (ErrSet || lines != file.lines) state.SkipWithError("wrong record count");
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(I8(state.iterations()) * I8(fs::file_size(file.path)));
}

void BM_StdGetline(benchmark::State& state) {
  const CommandFile& file = File();
  for (auto _ : state) {
    U8 lines = 0, bytes = 0;
    std::ifstream in(file.path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      ++lines;
      bytes += U8(line[0]);
    }
    if (lines != file.lines) state.SkipWithError("wrong line count");
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(I8(state.iterations()) * I8(fs::file_size(file.path)));
}
} // namespace

BENCHMARK(BM_FLReadRec)->Apply(BenchFixedIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdGetline)->Apply(BenchFixedIterations)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
