// Reuse rings: freed heap blocks wait here by size class and are handed out again instead
// of going back to the runtime heap.
#pragma once
#include "mem/memdsc.h"

#include <bit>

inline constexpr U4 kReuseClasses = 26; // total block sizes 64 bytes .. 2 GiB

struct ReuseRing {
  memdsc** map = nullptr; // maxcnt header addresses, allocated at start-up or first need
  U4 maxcnt = 0;          // capacity; at most maxcnt - 1 blocks wait
  U4 rd = 0, wr = 0;      // read and write index: empty when equal
  U4 cnt_max = 0;         // most blocks seen waiting after a free
  U4 overflow_cnt = 0;    // frees that found the ring full
};
extern ReuseRing reuse_mem[kReuseClasses];

// Index of the smallest class (64 << ix bytes) that holds n bytes; kReuseClasses when n is
// above 2 GiB. On every allocation and free, hence inline.
inline U4 ReuseMemIndex(U8 n) {
  if (n <= 64) return 0;
  const U4 ix = static_cast<U4>(std::bit_width(n - 1)) - 6;
  return ix < kReuseClasses ? ix : kReuseClasses;
}
// That class's size; 0 when there is none.
inline U8 ReuseMemSize(U8 n) {
  const U4 ix = ReuseMemIndex(n);
  return ix < kReuseClasses ? U8{64} << ix : 0;
}
// Allocates the ring arrays of every class (start-up), whatever reuse_mem_ena says.
void ReuseMemInit();
inline U4 ReuseMemWaiting(const ReuseRing& r) {
  return r.rd <= r.wr ? r.wr - r.rd : r.maxcnt - r.rd + r.wr;
}
// The oldest block waiting in class ix, or null.
memdsc* ReuseMemTake(U4 ix);
// Parks d in class ix; false when the ring is full (counted as an overflow) or missing.
bool ReuseMemPut(U4 ix, memdsc* d);
