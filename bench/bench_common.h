// Shared by the benchmarks: with TAPSTER_BENCH_ITERS set (bench/run.sh does so under
// callgrind) every benchmark runs that many iterations, so that the instruction counts of
// a pair compare per iteration.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdlib>

inline void BenchFixedIterations(benchmark::internal::Benchmark* b) {
  if (const char* n = std::getenv("TAPSTER_BENCH_ITERS")) b->Iterations(std::atoll(n));
}
