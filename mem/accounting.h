// Counters of tracked memory by kind with their peak values, and the memory figures of the
// process and the machine.
#pragma once
#include "mem/memdsc.h"

#include <cstdint>

// Stored bytes (descriptors not counted) and blocks by kind; _hi are peak values. The
// program-wide ones are exact after SettleMemBooks (mem/lpm.h).
extern U4 pgm_alloc_mem_cnt; // live tracked blocks of every kind
extern U8 pgm_alloc_mem;     // and their stored bytes
extern U4 pgm_alloc_mem_cnt_hi;
extern U8 pgm_alloc_mem_hi, pgm_alloc_mem_lo;

// The counters of one heap kind sit together, so that an allocation or a free touches one
// cache line for them. Indexed by the kind; LPM's entry stays unused (lpm_cnt, lpm_mem).
struct alignas(32) MemBook {
  U4 cnt, cnt_hi;
  U8 mem, mem_hi;
};
inline constexpr U1 kMemKinds = 5;
extern MemBook mem_books[kMemKinds];
extern U4 &pgm_malloc_persistent_mem_cnt, &pgm_malloc_persistent_mem_cnt_hi;
extern U8 &pgm_malloc_persistent_mem, &pgm_malloc_persistent_mem_hi;
extern U4 &pgm_malloc_transitory_mem_cnt, &pgm_malloc_transitory_mem_cnt_hi;
extern U8 &pgm_malloc_transitory_mem, &pgm_malloc_transitory_mem_hi;
extern U4 &pgm_mrf_mem_cnt, &pgm_mrf_mem_cnt_hi;
extern U8 &pgm_mrf_mem, &pgm_mrf_mem_hi;
extern U4 &pgm_zl_mem_cnt, &pgm_zl_mem_cnt_hi;
extern U8 &pgm_zl_mem, &pgm_zl_mem_hi;
// Lowest and highest user pointer of any heap block handed out; they never shrink.
extern std::uintptr_t pgm_malloc_pt_lo;
extern std::uintptr_t pgm_malloc_pt_hi;
// The process's memory at the last measurement.
extern U8 proc_mem, proc_mem_hi, proc_mem_lo;

// The books kept inline for the allocator's fast paths; its general path does the same
// for every kind.
[[noreturn]] void MemBooksInconsistent(const char* msg);
TAP_HOT bool IsHeapKind(U1 kind) {
  return kind < kMemKinds && kind != LPM;
}
// A new block of a heap kind (the pointer range is the caller's business).
TAP_HOT void BookHeapAlloc(U1 kind, U4 sz) {
  if (++pgm_alloc_mem_cnt > pgm_alloc_mem_cnt_hi) pgm_alloc_mem_cnt_hi = pgm_alloc_mem_cnt;
  if ((pgm_alloc_mem += sz) > pgm_alloc_mem_hi) pgm_alloc_mem_hi = pgm_alloc_mem;
  MemBook& b = mem_books[kind];
  if (++b.cnt > b.cnt_hi) b.cnt_hi = b.cnt;
  if ((b.mem += sz) > b.mem_hi) b.mem_hi = b.mem;
}
// The program-wide part of a free; LPM carves not yet booked must be settled before, or the
// peaks would miss them.
TAP_HOT void BookFreeAll(U4 sz) {
  if (pgm_alloc_mem_cnt == 0) MemBooksInconsistent("UpdateMemDataFree:pgm_alloc_mem_cnt=0");
  --pgm_alloc_mem_cnt;
  if (pgm_alloc_mem < sz) MemBooksInconsistent("UpdateMemDataFree:pgm_alloc_mem<mdp->sz");
  pgm_alloc_mem -= sz;
  if (pgm_alloc_mem < pgm_alloc_mem_lo) pgm_alloc_mem_lo = pgm_alloc_mem;
}
extern const char* const kMemBookCntZero[kMemKinds];
extern const char* const kMemBookMemBelow[kMemKinds];
// A block of a heap kind about to be parked or released.
TAP_HOT void BookHeapFree(U1 kind, U4 sz) {
  BookFreeAll(sz);
  MemBook& b = mem_books[kind];
  if (b.cnt == 0) MemBooksInconsistent(kMemBookCntZero[kind]);
  --b.cnt;
  if (b.mem < sz) MemBooksInconsistent(kMemBookMemBelow[kind]);
  b.mem -= sz;
}

U8 TotalPhysMemory();
U8 TotalPhysMemoryKB();
U8 TotalVirtualMemory();
U8 TotalVirtualMemoryKB();
