// Reuse rings: freed heap blocks wait here by size class and are handed out again instead
// of going back to the runtime heap.
#pragma once
#include "mem/tracked.h"

inline constexpr U4 kReuseClasses = 26; // total block sizes 64 bytes .. 2 GiB

struct ReuseRing {
  memdsc** map = nullptr; // maxcnt header addresses, allocated at start-up or first need
  U4 maxcnt = 0;          // capacity; at most maxcnt - 1 blocks wait
  U4 rd = 0, wr = 0;      // read and write index: empty when equal
  U4 cnt_max = 0;         // most blocks seen waiting after a free
  U4 overflow_cnt = 0;    // frees that found the ring full
};
extern ReuseRing reuse_mem[kReuseClasses];

// Smallest class size (64 << i) that holds n bytes; 0 when n is above 2 GiB.
U8 ReuseMemSize(U8 n);
// Index of that class; kReuseClasses when there is none.
U4 ReuseMemIndex(U8 n);
// Allocates the ring arrays of every class (start-up), whatever reuse_mem_ena says.
void ReuseMemInit();
U4 ReuseMemWaiting(const ReuseRing& ring);
// The oldest block waiting in class ix, or null.
memdsc* ReuseMemTake(U4 ix);
// Parks d in class ix; false when the ring is full (counted as an overflow) or missing.
bool ReuseMemPut(U4 ix, memdsc* d);
