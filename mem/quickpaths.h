// The allocator's quick paths, inline at the callers: a hit on a reuse ring and the park
// of a heap block (the LPM carve is in mem/lpm.h). They keep the same books as the general
// paths, without debug lines or test hooks; anything else (an empty or full ring, a pointer
// that does not check out) returns null or false and goes the general way.
#pragma once
#include "base/settings.h"
#include "mem/accounting.h"
#include "mem/busy.h"
#include "mem/lpm.h"
#include "mem/memdsc.h"
#include "mem/poison.h"
#include "mem/reuse.h"

#include <bit>
#include <cstdint>
#include <cstring>

TAP_HOT U1* UserOf(memdsc* d) {
  return reinterpret_cast<U1*>(d) + kMemDscSize;
}
TAP_HOT void SetSignature(memdsc* d, U4 sig) {
  std::memcpy(d->signature, &sig, 4);
}

// For a quiet allocator (AllocQuiet). Everything is read before anything is written: a
// store through a descriptor could alias any counter as far as the compiler knows.
TAP_HOT void* ReuseQuick(U4 sz, U1 alloc_id) {
  if (sz > (U4{1} << 30) - kMemDscSize) return nullptr; // the biggest classes go the long way
  const U4 ix = ReuseMemIndex(sz + kMemDscSize);
  ReuseRing& r = reuse_mem[ix];
  const U4 rd = r.rd;
  if (rd == r.wr) return nullptr;
  AllocBusy busy;
  memdsc* d = r.map[rd];
  // Only blocks of the class's own size are parked, so the size is known before the
  // descriptor arrives from memory.
  const U4 stored = (U4{64} << ix) - kMemDscSize;
  // LPM requests never come here; every other kind but the heap kinds counts as PERSISTENT.
  const U1 kind = alloc_id < kMemKinds ? alloc_id : PERSISTENT;
  r.rd = rd + 1 == r.maxcnt ? 0 : rd + 1;
  BookHeapAlloc(kind, stored); // a block handed out before lies inside the pointer range
  U1* user = UserOf(d);
  UnpoisonMem(user, stored);
  SetDscTailLive(d, kNoLpmx); // lpmx as it was: only heap blocks are parked
  d->alloc_id = kind;
  return user;
}

// A live heap block parked on the ring of its class.
TAP_HOT bool ParkQuick(void* pt) {
  const auto p = reinterpret_cast<std::uintptr_t>(pt);
  if (p < pgm_malloc_pt_lo || p > pgm_malloc_pt_hi || !reuse_mem_ena || pgm_exiting) return false;
  const auto lb = reinterpret_cast<std::uintptr_t>(lpm_block);
  if (lpm_block && p >= lb && p < reinterpret_cast<std::uintptr_t>(lpm_block_end)) return false;
  if (ReadSignatureBefore(pt) != kMemDscLive) return false;
  auto* d = reinterpret_cast<memdsc*>(p - kMemDscSize);
  const U4 stored = d->sz;
  const U1 kind = d->alloc_id;
  if (d->lpmx != kNoLpmx || !IsHeapKind(kind)) return false;
  // Only a block whose total is a class size can serve every request of its class.
  const U8 total = U8{stored} + kMemDscSize;
  if ((total & (total - 1)) != 0 || total < 64 || total > (U8{1} << 31)) return false;
  const U4 ix = static_cast<U4>(std::countr_zero(total)) - 6;
  ReuseRing& r = reuse_mem[ix];
  memdsc** map = r.map;
  const U4 rd = r.rd, wr = r.wr, maxcnt = r.maxcnt;
  const U4 next = wr + 1 == maxcnt ? 0 : wr + 1;
  if (!map || next == rd) return false;
  if (LpmCarvesUnbooked()) return false; // settling is the long way's job
  BookHeapFree(kind, stored);
  const U4 waiting = rd <= next ? next - rd : maxcnt - rd + next;
  if (waiting > r.cnt_max) r.cnt_max = waiting;
  r.wr = next;
  map[wr] = d;
  SetDscTimeAndSignature(d, kMemDscParked);
  PoisonMem(pt, stored);
  return true;
}
