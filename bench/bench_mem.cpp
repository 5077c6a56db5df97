// Small blocks allocated and freed in batches: the tracked allocator with and without its
// reuse rings, and the LPM pool with one reset per batch, each against malloc/free on the
// same sizes.
#include "base/settings.h"
#include "errlog/errstack.h"
#include "mem/lpm.h"
#include "mem/tracked.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

constexpr int kBatch = 64;

struct Sizes {
  U4 v[kBatch];
  Sizes() {
    U4 seed = 2463534242u;
    for (U4& s : v) {
      seed ^= seed << 13;
      seed ^= seed >> 17;
      seed ^= seed << 5;
      s = 8 + seed % 200; // typical short texts
    }
  }
};
const Sizes sizes;

void BM_Malloc(benchmark::State& state) {
  void* p[kBatch];
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      p[i] = std::malloc(sizes.v[i]);
      static_cast<char*>(p[i])[0] = 0;
    }
    benchmark::DoNotOptimize(p);
    for (int i = 0; i < kBatch; ++i)
      std::free(p[i]);
  }
  state.SetItemsProcessed(I8(state.iterations()) * kBatch);
}

void Tracked(benchmark::State& state, bool rings) {
  reuse_mem_ena = rings;
  void* p[kBatch];
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i)
      p[i] = AllocU1(sizes.v[i]);
    benchmark::DoNotOptimize(p);
    for (int i = 0; i < kBatch; ++i)
      FreeSP(&p[i]);
  }
  if (ErrSet) state.SkipWithError("allocation failure");
  reuse_mem_ena = true;
  state.SetItemsProcessed(I8(state.iterations()) * kBatch);
}
void BM_TrackedRings(benchmark::State& state) {
  Tracked(state, true);
}
void BM_TrackedNoRings(benchmark::State& state) {
  Tracked(state, false);
}

void BM_Lpm(benchmark::State& state) {
  void* p[kBatch];
  const U4 keep = lpm_block_x;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i)
      p[i] = AllocLPM(sizes.v[i]);
    benchmark::DoNotOptimize(p);
    ResetLPM(keep);
  }
  if (ErrSet) state.SkipWithError("LPM OVERFLOW");
  state.SetItemsProcessed(I8(state.iterations()) * kBatch);
}

} // namespace

BENCHMARK(BM_Malloc);
BENCHMARK(BM_TrackedRings);
BENCHMARK(BM_TrackedNoRings);
BENCHMARK(BM_Lpm);
BENCHMARK_MAIN();
