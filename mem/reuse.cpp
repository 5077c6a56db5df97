#include "mem/reuse.h"

#include "mem/poison.h"

#include <cstdlib>

ReuseRing reuse_mem[kReuseClasses];

namespace {

constexpr U4 kMaxCnt[kReuseClasses] = {200000, 100000, 100000, 50000, 5000, 1000, 1000, 1000, 1000,
                                       500,    500,    100,    100,   100,  100,  100,  50,   50,
                                       50,     25,     25,     25,    25,   25,   25,   25};

bool EnsureMap(U4 ix) {
  ReuseRing& r = reuse_mem[ix];
  if (r.map) return true;
  r.map = static_cast<memdsc**>(std::calloc(kMaxCnt[ix], sizeof(memdsc*)));
  if (r.map) r.maxcnt = kMaxCnt[ix];
  return r.map != nullptr;
}

} // namespace

void ReuseMemInit() {
  for (U4 ix = 0; ix < kReuseClasses; ++ix)
    EnsureMap(ix);
}

memdsc* ReuseMemTake(U4 ix) {
  ReuseRing& r = reuse_mem[ix];
  if (r.rd == r.wr) return nullptr;
  memdsc* d = r.map[r.rd];
  if (++r.rd == r.maxcnt) r.rd = 0;
  UnpoisonMem(reinterpret_cast<U1*>(d) + kMemDscSize, d->sz);
  return d;
}

bool ReuseMemPut(U4 ix, memdsc* d) {
  if (!EnsureMap(ix)) return false;
  ReuseRing& r = reuse_mem[ix];
  const U4 next = r.wr + 1 == r.maxcnt ? 0 : r.wr + 1;
  if (next == r.rd) {
    ++r.overflow_cnt;
    return false;
  }
  r.map[r.wr] = d;
  r.wr = next;
  const U4 waiting = ReuseMemWaiting(r);
  if (waiting > r.cnt_max) r.cnt_max = waiting;
  PoisonMem(reinterpret_cast<U1*>(d) + kMemDscSize, d->sz);
  return true;
}
