#include "mem/lpm.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/stacktrace.h"
#include "mem/accounting.h"
#include "mem/poison.h"
#include "text/numfmt.h"

#include <cstdlib>
#include <cstring>

U1* lpm_block = nullptr;
U1* lpm_block_end = nullptr;
LpmMark lpm_fill = {0, 0};
U4 lpm_block_x_hi = 0;
U4 lpm_cnt = 0;
U4 lpm_cnt_hi = 0;
U8 lpm_mem = 0;
LpmMark lpm_marks[kLpmMarks];
U4 lpm_freed_end = 0;
U4 lpm_booked_x = 0;
U4 lpm_booked_blocks = 0;

namespace {

U4 Signature(const memdsc* d) {
  U4 sig;
  std::memcpy(&sig, d->signature, 4);
  return sig;
}

[[noreturn]] void Damaged(const char* step, const char* name) {
  SeMErrMult("InternalMemCheck", step, name, nullptr);
  CrashMe(name);
}

} // namespace

void InternalMemInit() {
  if (!lpm_block && lpm_block_sz != 0) {
    lpm_block = static_cast<U1*>(std::calloc(lpm_block_sz, 1));
    if (!lpm_block) CrashMe("InternalMemInit");
    lpm_block_end = lpm_block + lpm_block_sz;
    SetLpmFill(0, 0);
    lpm_freed_end = 0;
    LpmBooksInStep();
    PoisonMem(lpm_block, lpm_block_sz); // nothing handed out yet
  }
  InternalMemCheck("InternalMemInit");
}

const memdsc* LpmDescriptorAt(U8 x, const char* name) {
  if (x + kMemDscSize > lpm_block_x) Damaged(":2:", name);
  const auto* d = reinterpret_cast<const memdsc*>(lpm_block + x);
  if (d->lpmx != x) Damaged(":2:", name);
  const U4 sig = Signature(d);
  if (sig != kMemDscLive && sig != kMemDscFreed) Damaged(":3:", name);
  if (x + kMemDscSize + d->sz > lpm_block_x) Damaged(":2:", name);
  return d;
}

void InternalMemCheck(const char* name) {
  if (lpm_block_sz == 0 || !lpm_block) return;
  for (U8 x = 0; x < lpm_block_x;)
    x += kMemDscSize + LpmDescriptorAt(x, name)->sz;
}

memdsc* LpmCarve(U4 sz) {
  if (!lpm_block && lpm_block_sz != 0) InternalMemInit();
  const U8 stored = LpmStoredSize(sz);
  if (!LpmFits(lpm_block_x, stored)) {
    SeMErrMult("LPM OVERFLOW", nullptr);
    return nullptr;
  }
  U1* at = lpm_block + lpm_block_x;
  UnpoisonMem(at, kMemDscSize + stored);
  auto* d = reinterpret_cast<memdsc*>(at);
  std::memset(d, 0, kMemDscSize);
  d->sz = static_cast<U4>(stored);
  d->alloc_id = LPM;
  d->lpmx = lpm_block_x;
  std::memcpy(d->signature, &kMemDscLive, 4);
  return d;
}

// The top block is the last carve, so its mark is the table's latest, in the slot of the
// block's first 32 bytes; the slots are probed downwards from the fill offset, one per 32
// bytes of the block. A mark found on the way above it is older, from a block released
// since: an offset handed out before, which lpm_block_x_hi covers already, and with it the
// top block below.
U4 LpmTopCarve() {
  const U4 top = lpm_blocks - 1;
  const U4 from = lpm_booked_x;
  for (I8 probe = I8{lpm_block_x} - (kMemDscSize + 4); probe >= I8{from}; probe -= 32) {
    const LpmMark m = LpmMarkAt(static_cast<U4>(probe));
    if (m.below == top && (m.x >> 5) == (probe >> 5)) return m.x;
  }
  U4 x = from; // the mark is lost: the walk finds the block
  for (U8 next = from; next < lpm_block_x;
       next += kMemDscSize + LpmDescriptorAt(next, "SettleMemBooks")->sz)
    x = static_cast<U4>(next);
  return x;
}

void LpmBookFree(const memdsc* d) {
  if (lpm_cnt == 0) MemBooksInconsistent("UpdateMemDataFree:lpm_cnt=0");
  --lpm_cnt;
  if (lpm_mem < d->sz) MemBooksInconsistent("UpdateMemDataFree:lpm_mem<mdp->sz");
  lpm_mem -= d->sz;
  if (d->lpmx >= lpm_freed_end) lpm_freed_end = d->lpmx + 1;
}

namespace {

// What a reset from keep releases: live blocks and their bytes, and all blocks.
struct Released {
  U4 live = 0;
  U8 bytes = 0;
  U4 blocks = 0;
};

// Without a freed block above keep and with keep's mark still in the table, the blocks
// above keep are those carved after it, and their bytes what their descriptors leave.
bool Counted(U4 keep, Released* r) {
  if (lpm_freed_end > keep) return false;
  const LpmMark m = LpmMarkAt(keep);
  if (m.x != keep || m.below >= lpm_blocks) return false;
  const memdsc* d = LpmDescriptorAt(keep, "ResetLPM");
  if (Signature(d) != kMemDscLive) return false;
  const U4 n = lpm_blocks - m.below;
  const U8 span = lpm_block_x - keep;
  if (U8{n} * kMemDscSize > span) return false;
  r->live = r->blocks = n;
  r->bytes = span - U8{n} * kMemDscSize;
  return true;
}

Released Walked(U4 keep) {
  Released r;
  for (U8 x = keep; x < lpm_block_x;) {
    const memdsc* d = LpmDescriptorAt(x, "ResetLPM");
    if (Signature(d) == kMemDscLive) {
      ++r.live;
      r.bytes += d->sz;
    }
    ++r.blocks;
    x += kMemDscSize + d->sz;
  }
  return r;
}

} // namespace

void ResetLPM(U4 keep) {
  if (!lpm_block || keep == lpm_block_x) return;
  if (keep > lpm_block_x) {
    char k[24], x[24];
    SeMErrMult("ResetLPM", ":keep=", VS10_MyBf(keep, nullptr, false, k, sizeof k),
               " lpm_block_x=", VS10_MyBf(lpm_block_x, nullptr, false, x, sizeof x), nullptr);
    return;
  }
  SettleMemBooks();
  Released r;
  if (!Counted(keep, &r)) {
    r = Walked(keep);
    // The freed blocks at or above keep go with the reset; any others lie below it.
    if (lpm_freed_end > keep) lpm_freed_end = keep;
  }
  const U4 memcnt = r.live;
  const U8 memsz = r.bytes;
  PoisonMem(lpm_block + keep, lpm_block_x - keep);
  SetLpmFill(keep, lpm_blocks > r.blocks ? lpm_blocks - r.blocks : 0);
  if (pgm_alloc_mem_cnt < memcnt) CrashMe("ResetLPM:pgm_alloc_mem_cnt<memcnt");
  pgm_alloc_mem_cnt -= memcnt;
  if (pgm_alloc_mem < memsz) CrashMe("ResetLPM:pgm_alloc_mem<memsz");
  pgm_alloc_mem -= memsz;
  if (pgm_alloc_mem < pgm_alloc_mem_lo) pgm_alloc_mem_lo = pgm_alloc_mem;
  if (lpm_cnt < memcnt) CrashMe("ResetLPM:lpm_cnt<memcnt");
  lpm_cnt -= memcnt;
  if (lpm_mem < memsz) CrashMe("ResetLPM:lpm_mem<memsz");
  lpm_mem -= memsz;
  LpmBooksInStep();
}
