// An error's callers group: StackCallers_STC (symbol names remembered per address) against
// naming every frame afresh, as each error did before, over the same stack.
#include "errlog/stacktrace.h"
#include "platform/stackwalk.h"

#include <benchmark/benchmark.h>

namespace {

void BM_CallersGroup(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(StackCallers_STC());
}
BENCHMARK(BM_CallersGroup);

void BM_CallersNamedAfresh(benchmark::State& state) {
  for (auto _ : state) {
    U8 frames[100];
    U4 n = PlatformCaptureStack(frames, 100);
    for (U4 i = 0; i < n; ++i) {
      char name[512];
      U8 offset = 0;
      benchmark::DoNotOptimize(PlatformSymbolName(frames[i] - 1, name, sizeof name, &offset));
    }
  }
}
BENCHMARK(BM_CallersNamedAfresh);

} // namespace

BENCHMARK_MAIN();
