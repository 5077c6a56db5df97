// The allocator: heap blocks (with the reuse rings) and LPM blocks, each behind its
// descriptor, and the checks that every pointer handed back goes through.
#include "mem/tracked.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/logline.h"
#include "errlog/stacktrace.h"
#include "mem/accounting.h"
#include "mem/blockbooks.h"
#include "mem/lpm.h"
#include "mem/poison.h"
#include "mem/reuse.h"
#include "text/numfmt.h"
#include "time/clock.h"

#include <atomic>
#include <bit>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

const char* (*mem_code_location_hook)() = nullptr;
U1 pgm_alloc_id = PERSISTENT;
bool alloc_busy = false;

namespace {

bool InjectedFailure() {
  if (fail_countdown == 0) return false;
  return --fail_countdown == 0;
}

U4 AllocTime() {
  return zorvs_pc ? ClockMsecs() : 0; // never 0 once read
}

// The freed signature of a block about to go back to the heap: a plain store there is dead
// to the compiler, but a second free reads it.
void SetFreedSignature(memdsc* d) {
  volatile U1* sig = d->signature;
  U1 bytes[4];
  std::memcpy(bytes, &kMemDscFreed, 4);
  for (int i = 0; i < 4; ++i)
    sig[i] = bytes[i];
}

// Number texts for messages and debug lines.
struct Dec {
  char bf[32];
  explicit Dec(U8 v) { VS10_MyBf(v, nullptr, false, bf, sizeof bf); }
};
struct Hex {
  char bf[32];
  explicit Hex(std::uintptr_t v) { VS16_MyBf(v, nullptr, nullptr, bf, sizeof bf); }
  explicit Hex(const void* p) : Hex(reinterpret_cast<std::uintptr_t>(p)) {}
};
struct DecHex {
  char bf[64];
  explicit DecHex(U8 v) { VS10CS16X_MyBf(v, bf, sizeof bf); }
};

void Indent(int by) {
  log_indent = static_cast<I2>(log_indent + by);
}

void PushAllocFailure(const char* fn, const char* what, U8 req) {
  const U8 free_mem = FreeMemory();
  const U8 largest = LargestFreeMemoryBlockSize();
  SeMErrMult(fn, ":", what, " (req=", Dec(req).bf, " free=", Dec(free_mem).bf,
             " largestBlock=", Dec(largest).bf, ")", nullptr);
}

// Total bytes of a heap block for sz user bytes. False when no block can be that large;
// *total is then the size that was needed.
bool HeapTotal(U4 sz, U8* total) {
  const U8 need = U8{sz} + kMemDscSize;
  if (reuse_mem_ena) {
    *total = ReuseMemSize(need);
    if (*total == 0) {
      *total = need;
      return false;
    }
    return *total <= SIZE_MAX;
  }
  const U8 stored = (U8{sz} & ~U8{63}) + 64; // 1 to 64 bytes more than asked
  *total = stored + kMemDscSize;
  return stored <= 0xFFFFFFFFu && *total <= SIZE_MAX;
}

// Only blocks whose total is exactly a class size can serve every request of the class.
bool Parkable(const memdsc* d) {
  const U8 total = U8{d->sz} + kMemDscSize;
  return ReuseMemSize(total) == total;
}

template <class F> auto WithKind(U1 kind, F f) {
  const U1 save = pgm_alloc_id;
  pgm_alloc_id = kind;
  auto r = f();
  pgm_alloc_id = save;
  return r;
}

void* AllocFromLpm(U4 sz) {
  memdsc* d = LpmCarve(sz);
  if (!d) return nullptr;
  d->alloc_time = AllocTime();
  U1* user = UserOf(d);
  user[0] = 0;
  UpdateMemDataAlloc(user, 0);
  if (mem_dbg)
    LogStMult("AllocU1", ":1:LPM:", MemDscText(user), " callers=", StackCallers_STC(), nullptr);
  return user;
}

memdsc* TakeParked(U8 total) {
  const U4 ix = ReuseMemIndex(total);
  memdsc* d = ReuseMemTake(ix);
  if (!d) return nullptr;
  SetSignature(d, kMemDscLive);
  if (mem_dbg) {
    LogStMult("AllocU1", ":2:reuse_mem[", Dec(ix).bf, "][", Hex(d).bf, "]:sz=", DecHex(d->sz).bf,
              " mapcnt=", Dec(ReuseMemWaiting(reuse_mem[ix])).bf, " callers=", StackCallers_STC(),
              nullptr);
  }
  return d;
}

memdsc* NewHeapBlock(U8 total) {
  if (mem_dbg || malloc_dbg)
    LogStMult("AllocU1", ":3:MALLOC:sz=", DecHex(total).bf, " callers=", StackCallers_STC(),
              nullptr);
  void* raw = std::malloc(static_cast<std::size_t>(total));
  if (!raw) {
    PushAllocFailure("AllocU1", "Mem alloc failure", total);
    return nullptr;
  }
  auto* d = static_cast<memdsc*>(raw);
  std::memset(d, 0, kMemDscSize);
  d->sz = static_cast<U4>(total - kMemDscSize);
  SetSignature(d, kMemDscLive);
  return d;
}

void* AllocFromHeap(U4 sz) {
  U8 total = 0;
  if (!HeapTotal(sz, &total) || InjectedFailure()) {
    PushAllocFailure("AllocU1", "Mem alloc failure", total);
    return nullptr;
  }
  memdsc* d = reuse_mem_ena ? TakeParked(total) : nullptr;
  const bool reused = d != nullptr;
  if (!d) d = NewHeapBlock(total);
  if (!d) return nullptr;
  U1* user = UserOf(d);
  user[0] = 0;
  d->alloc_time = AllocTime();
  d->alloc_id = pgm_alloc_id == TRANSITORY || pgm_alloc_id == MRF || pgm_alloc_id == ZL
                    ? pgm_alloc_id
                    : PERSISTENT;
  d->lpmx = kNoLpmx;
  UpdateMemDataAlloc(user, 0);
  if (mem_dbg)
    LogStMult("AllocU1", reused ? ":x:/REUSED:" : ":x:", MemDscText(user),
              " callers=", StackCallers_STC(), nullptr);
  return user;
}

void* AllocTimes(U8 cnt, U4 width) {
  if (ErrSet) return nullptr;
  const U8 bytes = cnt * width;
  if (bytes > 0xFFFFFFFFu) {
    PushAllocFailure("AllocU1", "Mem alloc failure", bytes + kMemDscSize);
    return nullptr;
  }
  return AllocU1(static_cast<U4>(bytes));
}

enum class Place { kOutside, kHeap, kLpm };

// Where a user pointer may lie: in the heap range, or in the part of the LPM block handed
// out (*h: its descriptor's offset). The rest of the LPM block, released or never used,
// is outside even where the heap range covers it.
Place Locate(std::uintptr_t p, U8* h) {
  const auto lb = reinterpret_cast<std::uintptr_t>(lpm_block);
  if (lpm_block && p >= lb && p < reinterpret_cast<std::uintptr_t>(lpm_block_end)) {
    if (p < lb + kMemDscSize) return Place::kOutside;
    *h = p - lb - kMemDscSize;
    return *h + kMemDscSize <= lpm_block_x ? Place::kLpm : Place::kOutside;
  }
  return p >= pgm_malloc_pt_lo && p <= pgm_malloc_pt_hi ? Place::kHeap : Place::kOutside;
}

// The descriptor of pt holds together: its offset, its size, its place.
bool Coherent(const memdsc* d, bool in_lpm, U8 h) {
  if (in_lpm) return d->lpmx == h && h + kMemDscSize + d->sz <= lpm_block_x;
  return d->lpmx == kNoLpmx;
}

[[noreturn]] void BadSignature(std::uintptr_t p, U4 sig) {
  U1 b[4];
  std::memcpy(b, &sig, 4);
  char bytes[16];
  std::snprintf(bytes, sizeof bytes, "%02x %02x %02x %02x", b[0], b[1], b[2], b[3]);
  const bool freed = sig == kMemDscFreed || sig == kMemDscParked;
  SeMErrMult("PtMDP",
             freed ? ":Memory was freed: pt1=" : ":Invalid memdsc_signature: pt1=", Hex(p).bf,
             " signature=", bytes, nullptr);
  static char text[kErrMsgSize];
  if (ErrMessage(true, true, text, sizeof text)) LogStMult(text, nullptr);
  CrashMe("PtMDP");
}

// A copy of a descriptor and of the start of its user area that the allocator may have
// poisoned (a parked block) or that is not ours at all.
TAP_NO_ASAN void CopyOut(const void* pt, memdsc* d, char* text, U4 textsz) {
  const volatile U1* src = static_cast<const volatile U1*>(pt) - kMemDscSize;
  U1* dst = reinterpret_cast<U1*>(d);
  for (U4 i = 0; i < kMemDscSize; ++i)
    dst[i] = src[i];
  const U4 n = d->sz < textsz ? d->sz : textsz;
  for (U4 i = 0; i < n; ++i)
    text[i] = static_cast<char>(src[kMemDscSize + i]);
  if (n < textsz) text[n] = 0;
}

void ReleaseHeapBlock(memdsc* d, void* pt) {
  if (reuse_mem_ena && !pgm_exiting && Parkable(d)) {
    const U4 ix = ReuseMemIndex(U8{d->sz} + kMemDscSize);
    UpdateMemDataFree(pt);
    SetSignature(d, kMemDscParked);
    if (ReuseMemPut(ix, d)) {
      if (mem_dbg)
        LogStMult("FreeSP", ":1:reuse_mem[", Dec(ix).bf, "][", Hex(d).bf, "]:sz=", DecHex(d->sz).bf,
                  " mapcnt=", Dec(ReuseMemWaiting(reuse_mem[ix])).bf,
                  " callers=", StackCallers_STC(), nullptr);
      return;
    }
    if (mem_dbg)
      LogStMult("FreeSP", ":reuse_mem overflow: maxcnt[", Dec(ix).bf,
                "]=", Dec(reuse_mem[ix].maxcnt).bf, nullptr);
  } else {
    UpdateMemDataFree(pt);
  }
  if (mem_dbg || malloc_dbg)
    LogStMult("FreeSP", ":2:FREE:sz=", DecHex(d->sz).bf, " callers=", StackCallers_STC(), nullptr);
  SetFreedSignature(d);
  std::free(d);
}

} // namespace

// The books that the quick carves left behind. A handler that carved while the fill offset
// and the block count are read would be booked wrongly: under the flag, it ends the program.
void SettleLpmCarves() {
  std::optional<AllocBusy> busy; // inside the allocator the flag is set already
  if (!alloc_busy) busy.emplace();
  const U4 n = lpm_blocks - lpm_booked_blocks;
  const U8 bytes = U8{lpm_block_x - lpm_booked_x} - U8{n} * kMemDscSize;
  const U4 top = LpmTopCarve();
  if (top > lpm_block_x_hi) lpm_block_x_hi = top;
  LpmBooksInStep();
  if ((pgm_alloc_mem_cnt += n) > pgm_alloc_mem_cnt_hi) pgm_alloc_mem_cnt_hi = pgm_alloc_mem_cnt;
  if ((pgm_alloc_mem += bytes) > pgm_alloc_mem_hi) pgm_alloc_mem_hi = pgm_alloc_mem;
  if ((lpm_cnt += n) > lpm_cnt_hi) lpm_cnt_hi = lpm_cnt;
  lpm_mem += bytes;
}

void* ScratchAlloc(U8 sz) {
  if (sz == 0 || sz > SIZE_MAX || InjectedFailure()) return nullptr;
  return std::malloc(static_cast<std::size_t>(sz));
}
void ScratchFree(void* pt) {
  std::free(pt);
}

void MemFailAfter(U4 n) {
  fail_countdown = n;
}

void* AllocU1General(U4 sz) {
  if (ErrSet) return nullptr;
  if (alloc_busy) {
    std::printf("%s%s\n", "AllocU1", " BUSY");
    CrashMe("AllocU1");
  }
  alloc_busy = true;
  if (mem_dbg)
    LogStMult("AllocU1", ":0:sz=", Dec(sz).bf, " alloc_id=", AllocIdName(pgm_alloc_id),
              " callers=", StackCallers_STC(), nullptr);
  Indent(4);
  void* user = pgm_alloc_id == LPM ? AllocFromLpm(sz) : AllocFromHeap(sz);
  Indent(-4);
  alloc_busy = false;
  return ErrSet ? nullptr : user;
}

void* AllocPt(U4 cnt) {
  void* pt = AllocTimes(cnt, sizeof(void*));
  return ErrSet ? nullptr : pt;
}
void* AllocU2(U4 cnt) {
  return AllocTimes(cnt, 2);
}
void* AllocU4(U4 cnt) {
  return AllocTimes(cnt, 4);
}
void* AllocU8(U4 cnt) {
  return AllocTimes(cnt, 8);
}

void* AllocTransitoryU1(U4 sz) {
  if (ErrSet) return nullptr;
  void* pt = WithKind(TRANSITORY, [&] { return AllocU1(sz); });
  return ErrSet ? nullptr : pt;
}
void* AllocTransitoryPt(U4 cnt) {
  if (ErrSet) return nullptr;
  void* pt = WithKind(TRANSITORY, [&] { return AllocPt(cnt); });
  return ErrSet ? nullptr : pt;
}
void* AllocMRF(U4 sz) {
  if (ErrSet) return nullptr;
  void* pt = WithKind(MRF, [&] { return AllocU1(sz); });
  return ErrSet ? nullptr : pt;
}
void* AllocZL(U4 sz) {
  if (ErrSet) return nullptr;
  void* pt = WithKind(ZL, [&] { return AllocU1(sz); });
  return ErrSet ? nullptr : pt;
}
void* AllocLPMGeneral(U4 sz) {
  void* pt = WithKind(LPM, [&] { return AllocU1(sz); });
  return ErrSet ? nullptr : pt;
}

memdsc* PtMDP(const void* pt, bool check) {
  if (!pt) return nullptr;
  const auto p = reinterpret_cast<std::uintptr_t>(pt);
  U8 h = 0;
  const Place place = Locate(p, &h);
  const bool in_lpm = place == Place::kLpm;
  if (place == Place::kOutside) {
    if (check) {
      SeMErrMult("PtMDP", ":pt out of range: pt=", Hex(p).bf,
                 " pgm_malloc_pt_lo=", Hex(pgm_malloc_pt_lo).bf,
                 " pgm_malloc_pt_hi=", Hex(pgm_malloc_pt_hi).bf, " lpm_block=", Hex(lpm_block).bf,
                 " lpm_block_end=", Hex(lpm_block_end).bf,
                 " code_location=", mem_code_location_hook ? mem_code_location_hook() : "",
                 nullptr);
    }
    return nullptr;
  }
  const U4 sig = ReadSignatureBefore(pt);
  auto* d = reinterpret_cast<memdsc*>(p - kMemDscSize);
  if (sig == kMemDscLive && Coherent(d, in_lpm, h)) return d;
  if (!check) return nullptr;
  BadSignature(p, sig);
}

U4 PtSize(const void* pt, bool check) {
  if (ErrSet || !pt) return 0;
  memdsc* d = PtMDP(pt, check);
  return d ? d->sz : 0;
}

const char* MemDscText(const void* pt) {
  static char bf[301];
  if (!pt) return "(NULL)";
  const auto p = reinterpret_cast<std::uintptr_t>(pt);
  U8 h = 0;
  const Place place = Locate(p, &h);
  const bool in_lpm = place == Place::kLpm;
  const U4 sig = place != Place::kOutside ? ReadSignatureBefore(pt) : 0;
  const bool freed = sig == kMemDscFreed || sig == kMemDscParked;
  if (sig != kMemDscLive && !freed) {
    std::snprintf(bf, sizeof bf, "%" PRIXPTR "/UNKNOWN", p);
    return bf;
  }
  memdsc d;
  char text[100];
  CopyOut(pt, &d, text, sizeof text);
  const U4 n = static_cast<U4>(strnlen(text, d.sz < sizeof text ? d.sz : sizeof text));
  int len = std::snprintf(bf, sizeof bf, "%s:%" PRIXPTR " sz=%u", AllocIdName(d.alloc_id), p, d.sz);
  auto add = [&](const char* fmt, auto... args) {
    if (len >= 0 && len < static_cast<int>(sizeof bf))
      len += std::snprintf(bf + len, sizeof bf - len, fmt, args...);
  };
  if (in_lpm) add(" lpmx=%u", d.lpmx);
  if (freed) add("%s", " FREED");
  if (d.alloc_time != 0) add(" elms=%u", ElapsedMsecs(d.alloc_time));
  add("%s", " txt=");
  if (len >= 0 && len < static_cast<int>(sizeof bf))
    PrintableText_MyBf(text, n, kAllU4, bf + len, static_cast<U4>(sizeof bf - len));
  return bf;
}

namespace {

// Without reuse the runtime heap resizes the whole block; kind, offset and signature move
// with it.
void* ResizeHeapBlock(memdsc* d, U4 newsz, U4 oldsz) {
  const U8 stored = (U8{newsz} & ~U8{63}) + 64;
  void* raw = nullptr;
  if (stored <= 0xFFFFFFFFu && stored + kMemDscSize <= SIZE_MAX && !InjectedFailure())
    raw = std::realloc(d, static_cast<std::size_t>(stored + kMemDscSize));
  if (!raw) {
    PushAllocFailure("ReallocU1", "Mem realloc failure", stored);
    return nullptr;
  }
  auto* nd = static_cast<memdsc*>(raw);
  nd->sz = static_cast<U4>(stored);
  nd->alloc_time = AllocTime();
  U1* user = UserOf(nd);
  UpdateMemDataAlloc(user, oldsz);
  if (mem_dbg)
    LogStMult("ReallocU1", ":x:oldsz=", Dec(oldsz).bf, " ", MemDscText(user),
              " callers=", StackCallers_STC(), nullptr);
  return user;
}

// An LPM block, or a heap block with reuse: a new block of the same kind takes the
// contents and the old one is freed. Null with the error pending on failure.
void* MoveBlock(void* pt, const memdsc* d, U4 newsz, U4 oldsz) {
  const bool lpm = d->lpmx != kNoLpmx;
  U4 want = newsz;
  if (!lpm) {
    const U8 total = ReuseMemSize(U8{newsz} + kMemDscSize);
    if (total == U8{oldsz} + kMemDscSize) return pt; // the same class: nothing to move
    if (total != 0) want = static_cast<U4>(total - kMemDscSize);
  }
  void* np = WithKind(lpm ? LPM : d->alloc_id, [&] { return AllocU1(want); });
  if (ErrSet || !np) return nullptr;
  if (mem_dbg) {
    LogStMult("ReallocU1", lpm ? ":2:COPY(INTERNAL->MALLOCATED):" : ":3:COPY:oldsz/",
              lpm ? DecHex(oldsz).bf : Dec(oldsz).bf, " ", MemDscText(np),
              " callers=", StackCallers_STC(), nullptr);
  }
  const U4 keep = want < oldsz ? want : oldsz;
  // The new block holds want bytes at least; the copy stays bounded by what it holds.
  const U4 room = PtSize(np, false);
  if (keep > room) {
    LogStack();
    SeMErrMult("Buffer overflow: cnt=", Dec(keep).bf, " dstsz=", Dec(room).bf, nullptr);
  } else {
    std::memcpy(np, pt, keep);
  }
  FreeSP(&pt);
  return np;
}

} // namespace

void* ReallocU1(void* pt, U4 newsz, bool shrink) {
  if (ErrSet) return pt;
  if (newsz == 0) {
    SeMErrMult("ReallocU1", ":", "Mem realloc failure", " (req=0)", nullptr);
    return pt;
  }
  if (!pt) {
    Indent(4);
    void* np = AllocU1(newsz);
    Indent(-4);
    return np;
  }
  memdsc* d = PtMDP(pt, true);
  if (ErrSet || !d) return pt;
  const U4 oldsz = d->sz;
  if (newsz == oldsz || (newsz < oldsz && !shrink)) return pt;
  if (mem_dbg)
    LogStMult("ReallocU1", ":0:oldsz=", Dec(oldsz).bf, " newsz=", Dec(newsz).bf, " ",
              MemDscText(pt), " callers=", StackCallers_STC(), nullptr);
  Indent(4);
  void* np = d->lpmx == kNoLpmx && !reuse_mem_ena ? ResizeHeapBlock(d, newsz, oldsz)
                                                  : MoveBlock(pt, d, newsz, oldsz);
  Indent(-4);
  return np && !ErrSet ? np : pt;
}

void* ReallocPt(void* pt, U4 cnt) {
  const U8 bytes = U8{cnt} * sizeof(void*);
  if (ErrSet) return pt;
  if (bytes > 0xFFFFFFFFu) {
    PushAllocFailure("ReallocU1", "Mem realloc failure", bytes);
    return pt;
  }
  void* np = ReallocU1(pt, static_cast<U4>(bytes), false);
  return ErrSet ? pt : np;
}

void FreeSPGeneral(void** ppt) {
  // A level of its own only when the caller has an error pending: without one, an error
  // raised here lands where carrying it out would put it anyway.
  const bool nested = ErrSet;
  if (nested) PushErr();
  void* pt = *ppt;
  memdsc* d = PtMDP(pt, true);
  if (!ErrSet && d) {
    if (mem_dbg)
      LogStMult("FreeSP", ":0:", MemDscText(pt), " callers=", StackCallers_STC(), nullptr);
    Indent(4);
    d->alloc_time = 0;
    if (d->lpmx != kNoLpmx) {
      UpdateMemDataFree(pt);
      SetSignature(d, kMemDscFreed); // the space comes back with ResetLPM
    } else {
      ReleaseHeapBlock(d, pt);
    }
    *ppt = nullptr;
    Indent(-4);
  }
  if (nested) PopErr(true);
}
