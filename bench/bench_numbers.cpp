// Parsing a million decimal numbers: St10I8 against std::strtoll.
#include "errlog/errstack.h"
#include "text/numbers.h"

#include "bench/bench_common.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {
const std::vector<std::string>& Numbers() {
  static const std::vector<std::string> numbers = [] {
    std::vector<std::string> out;
    out.reserve(1000000);
    U8 seed = 88172645463325252ull;
    for (int i = 0; i < 1000000; ++i) {
      seed ^= seed << 13;
      seed ^= seed >> 7;
      seed ^= seed << 17;
      const I8 v = I8(seed >> (seed % 60)) * (seed & 1 ? -1 : 1);
      out.push_back(std::to_string(v));
    }
    return out;
  }();
  return numbers;
}
// Made before any benchmark runs, so that instruction counts leave it out.
const auto& kMade = Numbers();

void BM_St10I8(benchmark::State& state) {
  const auto& numbers = Numbers();
  for (auto _ : state) {
    I8 sum = 0;
    for (const std::string& n : numbers)
      sum += St10I8(n.c_str(), 0, 0, nullptr, true);
    if (ErrSet) state.SkipWithError("parse failure");
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(I8(state.iterations()) * I8(numbers.size()));
}

void BM_StdStrtoll(benchmark::State& state) {
  const auto& numbers = Numbers();
  for (auto _ : state) {
    I8 sum = 0;
    for (const std::string& n : numbers)
      sum += std::strtoll(n.c_str(), nullptr, 10);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(I8(state.iterations()) * I8(numbers.size()));
}
} // namespace

BENCHMARK(BM_St10I8)->Apply(BenchFixedIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdStrtoll)->Apply(BenchFixedIterations)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
