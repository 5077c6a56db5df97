// Tracked allocations: every block the library hands out carries a 32-byte descriptor in
// front of it, so that a pointer handed back can be verified before it is trusted and
// memory can be accounted for by kind.
#pragma once
#include "errlog/errstack.h"
#include "mem/accounting.h"
#include "mem/busy.h"
#include "mem/memdsc.h"
#include "mem/quickpaths.h"

#include <cstdint>

// The code location of the fault handlers for the range message; installed at start-up.
extern const char* (*mem_code_location_hook)();
extern U1 pgm_alloc_id; // kind of the next AllocU1 block; wrappers save, set and restore it

// The long ways of AllocU1 and FreeSP, with their messages and test hooks.
void* AllocU1General(U4 sz);
void FreeSPGeneral(void** ppt);

// sz bytes of the current kind, first byte 0. Null without a message for sz 0 or a pending
// error; null with a message when the memory cannot be had.
TAP_HOT void* AllocU1(U4 sz) {
  if (sz == 0) return nullptr;
  if (AllocQuiet()) { // no pending error either
    void* quick = pgm_alloc_id == LPM ? LpmCarveQuick(sz)
                  : reuse_mem_ena     ? ReuseQuick(sz, pgm_alloc_id)
                                      : nullptr;
    if (quick) return quick;
  }
  return AllocU1General(sz);
}
void* AllocPt(U4 cnt); // room for cnt pointers
void* AllocU2(U4 cnt);
void* AllocU4(U4 cnt);
void* AllocU8(U4 cnt);
void* AllocTransitoryU1(U4 sz);
void* AllocTransitoryPt(U4 cnt);
void* AllocMRF(U4 sz);
void* AllocZL(U4 sz);

// Resizes pt (null allocates). Returns the block to use from now on; on failure pt itself,
// still valid. Without shrink a smaller newsz leaves the block as it is.
void* ReallocU1(void* pt, U4 newsz, bool shrink);
void* ReallocPt(void* pt, U4 cnt);

// Frees the block held by *ppt and clears the variable. Works while an error is pending.
// A pointer outside the tracked ranges is reported and the variable left as it was; a freed
// or damaged block ends the program.
TAP_HOT void FreeSP(void** ppt) {
  if (!ppt || !*ppt) return;
  // A pending error does not matter here: nothing on the way can raise another.
  if (!mem_dbg && ParkQuick(*ppt)) {
    *ppt = nullptr;
    return;
  }
  FreeSPGeneral(ppt);
}
template <class T> inline void FreeSP(T** ppt) {
  if (!ppt) return;
  void* pt = const_cast<void*>(static_cast<const void*>(*ppt));
  FreeSP(&pt);
  *ppt = static_cast<T*>(pt);
}

// The descriptor of a live tracked block, or null. With check a pointer outside the
// tracked ranges is reported, and a freed or damaged one ends the program.
memdsc* PtMDP(const void* pt, bool check);
U4 PtSize(const void* pt, bool check);
// A tracked pointer described for debug lines (static buffer, valid until the next call).
const char* MemDscText(const void* pt);

// The available virtual memory, and the largest run of free address space (its last,
// lowest and highest values are kept for the memory report).
U8 FreeMemory();
U8 LargestFreeMemoryBlockSize();
extern U8 largest_free_block_last, largest_free_block_lo, largest_free_block_hi;

// Untracked scratch storage for temporaries whose size comes from the caller: null when
// it cannot be had (never a silent failure). Release with ScratchFree.
void* ScratchAlloc(U8 sz);
void ScratchFree(void* pt);

// Test hook: the n-th next heap or scratch request (1 = the next one) fails as if the heap
// were exhausted; 0 switches it off.
void MemFailAfter(U4 n);
