// Interim allocator on the runtime heap. Every heap block is registered by address, so a
// pointer is only read through once it is known to be ours: a freed, foreign or interior
// pointer is reported instead of being dereferenced.
#include "mem/tracked.h"

#include "errlog/errstack.h"
#include "mem/lpm.h"
#include "platform/clock.h"
#include "runtime/settings.h"
#include "runtime/stacktrace.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_set>

U1 pgm_alloc_id = PERSISTENT;
U8 pgm_alloc_mem_cnt = 0;
U8 pgm_alloc_mem = 0;
bool alloc_busy = false;

namespace {

constexpr U8 kMaxTotal = 0x80000000ull; // largest heap block, header included

// Live heap blocks: header address -> total bytes. Ordered, so that a pointer into the
// middle of a block can be recognised.
std::map<std::uintptr_t, U8>& LiveBlocks() {
  static auto* blocks = new std::map<std::uintptr_t, U8>;
  return *blocks;
}
// User pointers freed since their address was last handed out.
std::unordered_set<std::uintptr_t>& FreedPts() {
  static auto* freed = new std::unordered_set<std::uintptr_t>;
  return *freed;
}

std::uintptr_t malloc_pt_lo = UINTPTR_MAX;
std::uintptr_t malloc_pt_hi = 0;
std::uintptr_t heap_end_hi = 0; // end of the highest block: interior pointers lie below it
U4 fail_countdown = 0;

bool InjectedFailure() {
  if (fail_countdown == 0) return false;
  return --fail_countdown == 0;
}

U4 AllocTime() {
  if (!zorvs_pc) return 0;
  U4 t = 0;
  while (t == 0)
    t = static_cast<U4>(TheClock().MonotonicUsecs() / 1000);
  return t;
}

// Smallest power of two from 64 up that holds n (0 when beyond the largest block).
U8 ReuseMemSize(U8 n) {
  U8 sz = 64;
  while (sz < n && sz < kMaxTotal)
    sz <<= 1;
  return sz >= n ? sz : 0;
}

// Total block bytes for a request of sz user bytes, 0 when no block can be that large.
U8 HeapTotal(U4 sz) {
  const U8 need = U8{sz} + kMemDscSize;
  if (reuse_mem_ena) return ReuseMemSize(need);
  const U8 total = (U8{sz} & ~U8{63}) + 64 + kMemDscSize;
  return total <= kMaxTotal ? total : 0;
}

void SetSignature(memdsc* d, U4 sig) {
  std::memcpy(d->signature, &sig, 4);
}
U4 Signature(const memdsc* d) {
  U4 sig;
  std::memcpy(&sig, d->signature, 4);
  return sig;
}

const char* Dec(char* bf, U8 v) {
  std::snprintf(bf, 24, "%" PRIu64, v);
  return bf;
}
const char* Hex(char* bf, std::uintptr_t v) {
  std::snprintf(bf, 24, "%" PRIXPTR, v);
  return bf;
}

void PushAllocFailure(const char* fn, const char* what, U8 req) {
  char r[24];
  // The free figures are platform queries that this seam does not make.
  SeMErrMult(fn, ":", what, " (req=", Dec(r, req), " free=0 largestBlock=0)", nullptr);
}

// Takes a heap block of total bytes; pushes the failure of fn.
memdsc* HeapBlock(const char* fn, const char* what, U8 total, U8 req) {
  void* raw = nullptr;
  if (total != 0 && !InjectedFailure()) raw = std::malloc(static_cast<std::size_t>(total));
  if (!raw) {
    PushAllocFailure(fn, what, req);
    return nullptr;
  }
  auto* d = static_cast<memdsc*>(raw);
  std::memset(d, 0, kMemDscSize);
  d->sz = static_cast<U4>(total - kMemDscSize);
  d->lpmx = 0xFFFFFFFFu;
  SetSignature(d, kMemDscLive);
  const auto addr = reinterpret_cast<std::uintptr_t>(d);
  LiveBlocks()[addr] = total;
  const auto user = addr + kMemDscSize;
  FreedPts().erase(user);
  if (user < malloc_pt_lo) malloc_pt_lo = user;
  if (user > malloc_pt_hi) malloc_pt_hi = user;
  if (addr + total > heap_end_hi) heap_end_hi = static_cast<std::uintptr_t>(addr + total);
  return d;
}

void* LpmBlock(U4 sz) {
  if (!lpm_block && lpm_block_sz != 0) InternalMemInit();
  if (!lpm_block || lpm_block_x >= lpm_block_sz) {
    SeMErrMult("LPM OVERFLOW", nullptr);
    return nullptr;
  }
  const U8 stored = (U8{sz} & ~U8{3}) + 4;
  // The region reserved, not the setting: the option may change after the reservation.
  const U8 reserved = static_cast<U8>(lpm_block_end - lpm_block);
  if (U8{lpm_block_x} + kMemDscSize + stored > reserved) {
    SeMErrMult("LPM OVERFLOW", nullptr);
    return nullptr;
  }
  auto* d = reinterpret_cast<memdsc*>(lpm_block + lpm_block_x);
  std::memset(d, 0, kMemDscSize);
  d->sz = static_cast<U4>(stored);
  d->alloc_id = LPM;
  d->lpmx = lpm_block_x;
  d->alloc_time = AllocTime();
  SetSignature(d, kMemDscLive);
  if (lpm_block_x > lpm_block_x_hi) lpm_block_x_hi = lpm_block_x;
  if (d->sz > lpm_max_sz) lpm_max_sz = d->sz;
  lpm_block_x += kMemDscSize + d->sz;
  ++lpm_cnt;
  lpm_mem += d->sz;
  ++pgm_alloc_mem_cnt;
  pgm_alloc_mem += d->sz;
  U1* user = reinterpret_cast<U1*>(d) + kMemDscSize;
  user[0] = 0;
  return user;
}

void ReleaseBlock(memdsc* d) {
  --pgm_alloc_mem_cnt;
  pgm_alloc_mem -= d->sz;
  SetSignature(d, kMemDscFreed);
  if (d->lpmx != 0xFFFFFFFFu) {
    --lpm_cnt;
    lpm_mem -= d->sz;
    return; // the space comes back with ResetLPM
  }
  const auto addr = reinterpret_cast<std::uintptr_t>(d);
  LiveBlocks().erase(addr);
  auto& freed = FreedPts();
  if (freed.size() > 100000) freed.clear();
  freed.insert(addr + kMemDscSize);
  std::free(d);
}

template <class F> auto WithKind(U1 kind, F f) {
  const U1 save = pgm_alloc_id;
  pgm_alloc_id = kind;
  auto r = f();
  pgm_alloc_id = save;
  return r;
}

} // namespace

void* ScratchAlloc(U8 sz) {
  if (sz == 0 || sz > kMaxTotal || InjectedFailure()) return nullptr;
  return std::malloc(static_cast<std::size_t>(sz));
}
void ScratchFree(void* pt) {
  std::free(pt);
}

void MemFailAfter(U4 n) {
  fail_countdown = n;
}

void* AllocU1(U4 sz) {
  if (ErrSet || sz == 0) return nullptr;
  if (alloc_busy) {
    std::printf("%s%s\n", "AllocU1", " BUSY");
    CrashMe("AllocU1");
  }
  alloc_busy = true;
  void* user = nullptr;
  if (pgm_alloc_id == LPM) {
    user = LpmBlock(sz);
  } else if (memdsc* d =
                 HeapBlock("AllocU1", "Mem alloc failure", HeapTotal(sz), U8{sz} + kMemDscSize)) {
    d->alloc_id = (pgm_alloc_id == TRANSITORY || pgm_alloc_id == MRF || pgm_alloc_id == ZL)
                      ? pgm_alloc_id
                      : PERSISTENT;
    d->alloc_time = AllocTime();
    ++pgm_alloc_mem_cnt;
    pgm_alloc_mem += d->sz;
    user = reinterpret_cast<U1*>(d) + kMemDscSize;
    static_cast<U1*>(user)[0] = 0;
  }
  alloc_busy = false;
  return ErrSet ? nullptr : user;
}

void* AllocPt(U4 cnt) {
  const U8 bytes = U8{cnt} * sizeof(void*);
  if (bytes > 0xFFFFFFFFu) {
    PushAllocFailure("AllocU1", "Mem alloc failure", bytes);
    return nullptr;
  }
  void* pt = AllocU1(static_cast<U4>(bytes));
  return ErrSet ? nullptr : pt;
}

namespace {
void* AllocTimes(U4 cnt, U4 width) {
  const U8 bytes = U8{cnt} * width;
  if (ErrSet) return nullptr;
  if (bytes > 0xFFFFFFFFu) {
    PushAllocFailure("AllocU1", "Mem alloc failure", bytes);
    return nullptr;
  }
  return AllocU1(static_cast<U4>(bytes));
}
} // namespace

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
void* AllocLPM(U4 sz) {
  if (ErrSet) return nullptr;
  void* pt = WithKind(LPM, [&] { return AllocU1(sz); });
  return ErrSet ? nullptr : pt;
}

memdsc* PtMDP(const void* pt, bool check) {
  if (!pt) return nullptr;
  const auto p = reinterpret_cast<std::uintptr_t>(pt);
  char h1[24], h2[24], h3[24], h4[24], h5[24];
  auto bad_signature = [&](const U1* sig, bool freed) -> memdsc* {
    if (!check) return nullptr;
    char bytes[16];
    std::snprintf(bytes, sizeof bytes, "%02x %02x %02x %02x", sig[0], sig[1], sig[2], sig[3]);
    SeMErrMult("PtMDP",
               freed ? ":Memory was freed: pt1=" : ":Invalid memdsc_signature: pt1=", Hex(h1, p),
               " signature=", bytes, nullptr);
    return nullptr;
  };

  const auto lb = reinterpret_cast<std::uintptr_t>(lpm_block);
  const auto le = reinterpret_cast<std::uintptr_t>(lpm_block_end);
  if (lpm_block && p >= lb + kMemDscSize && p < le) {
    auto* d = reinterpret_cast<memdsc*>(p - kMemDscSize);
    const U4 sig = Signature(d);
    if (sig == kMemDscLive) return d;
    return bad_signature(d->signature, sig == kMemDscFreed);
  }

  const auto& live = LiveBlocks();
  if (p >= malloc_pt_lo && p < heap_end_hi) {
    auto it = live.find(p - kMemDscSize);
    if (it != live.end()) {
      auto* d = reinterpret_cast<memdsc*>(it->first);
      if (Signature(d) == kMemDscLive) return d;
      return bad_signature(d->signature, false);
    }
    // Inside one of our blocks, but not at its start: the bytes before it are readable.
    it = live.upper_bound(p);
    if (it != live.begin()) {
      --it;
      if (p >= it->first + 4 && p < it->first + it->second)
        return bad_signature(reinterpret_cast<const U1*>(p - 4), false);
    }
    if (FreedPts().count(p)) {
      const U1 freed_sig[4] = {0xF3, 0xE2, 0xD1, 0xC0};
      return bad_signature(freed_sig, true);
    }
  }
  if (check) {
    SeMErrMult("PtMDP", ":pt out of range: pt=", Hex(h1, p),
               " pgm_malloc_pt_lo=", Hex(h2, malloc_pt_lo),
               " pgm_malloc_pt_hi=", Hex(h3, malloc_pt_hi), " lpm_block=", Hex(h4, lb),
               " lpm_block_end=", Hex(h5, le), " code_location=", nullptr);
  }
  return nullptr;
}

U4 PtSize(const void* pt, bool check) {
  if (ErrSet || !pt) return 0;
  memdsc* d = PtMDP(pt, check);
  return d ? d->sz : 0;
}

void* ReallocU1(void* pt, U4 newsz, bool shrink) {
  if (ErrSet) return pt;
  if (newsz == 0) {
    SeMErrMult("ReallocU1", ":", "Mem realloc failure", " (req=0)", nullptr);
    return pt;
  }
  if (!pt) return AllocU1(newsz);
  memdsc* d = PtMDP(pt, true);
  if (ErrSet || !d) return pt;
  const U4 oldsz = d->sz;
  if (newsz == oldsz || (newsz < oldsz && !shrink)) return pt;
  void* np = nullptr;
  if (d->lpmx != 0xFFFFFFFFu) {
    np = WithKind(LPM, [&] { return AllocU1(newsz); });
  } else {
    // A stored size that already covers newsz needs no new block when growing.
    const U8 total = HeapTotal(newsz);
    if (total != 0 && total - kMemDscSize == oldsz) return pt;
    if (memdsc* nd = HeapBlock("ReallocU1", "Mem realloc failure", total, newsz)) {
      nd->alloc_id = d->alloc_id;
      nd->alloc_time = AllocTime();
      ++pgm_alloc_mem_cnt;
      pgm_alloc_mem += nd->sz;
      np = reinterpret_cast<U1*>(nd) + kMemDscSize;
    }
  }
  if (ErrSet || !np) return pt;
  std::memcpy(np, pt, newsz < oldsz ? newsz : oldsz);
  ReleaseBlock(d);
  return np;
}

void* ReallocPt(void* pt, U4 cnt) {
  const U8 bytes = U8{cnt} * sizeof(void*);
  if (bytes > 0xFFFFFFFFu) {
    if (!ErrSet) PushAllocFailure("ReallocU1", "Mem realloc failure", bytes);
    return pt;
  }
  void* np = ReallocU1(pt, static_cast<U4>(bytes), false);
  return ErrSet ? pt : np;
}

void FreeSP(void** ppt) {
  if (!ppt || !*ppt) return;
  PushErr();
  memdsc* d = PtMDP(*ppt, true);
  if (!ErrSet && d) {
    ReleaseBlock(d);
    *ppt = nullptr;
  }
  PopErr(true);
}

const char* AllocIdName(U1 kind) {
  static const char* const names[] = {"PERSISTENT", "TRANSITORY", "LPM", "MRF", "ZL"};
  if (kind < 5) return names[kind];
  static char other[32];
  std::snprintf(other, sizeof other, "ALLOC_ID_?%u", unsigned{kind});
  return other;
}
