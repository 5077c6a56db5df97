#include "mem/lpm.h"

#include "errlog/errstack.h"
#include "runtime/settings.h"
#include "runtime/stacktrace.h"

#include <cstdlib>
#include <cstring>

U1* lpm_block = nullptr;
U1* lpm_block_end = nullptr;
U4 lpm_block_x = 0;
U4 lpm_block_x_hi = 0;
U4 lpm_cnt = 0;
U8 lpm_mem = 0;

namespace {
U4 Signature(const memdsc* d) {
  U4 sig;
  std::memcpy(&sig, d->signature, 4);
  return sig;
}
} // namespace

void InternalMemInit() {
  if (!lpm_block && lpm_block_sz != 0) {
    lpm_block = static_cast<U1*>(std::calloc(lpm_block_sz, 1));
    if (!lpm_block) CrashMe("InternalMemInit");
    lpm_block_end = lpm_block + lpm_block_sz;
    lpm_block_x = 0;
  }
  InternalMemCheck("InternalMemInit");
}

void InternalMemCheck(const char* name) {
  if (lpm_block_sz == 0 || !lpm_block) return;
  for (U8 x = 0; x < lpm_block_x;) {
    const auto* d = reinterpret_cast<const memdsc*>(lpm_block + x);
    if (d->lpmx != x) {
      SeMErrMult("InternalMemCheck", ":2:", name, nullptr);
      CrashMe(name);
    }
    const U4 sig = Signature(d);
    if (sig != kMemDscLive && sig != kMemDscFreed) {
      SeMErrMult("InternalMemCheck", ":3:", name, nullptr);
      CrashMe(name);
    }
    x += kMemDscSize + U8{d->sz};
  }
}

void ResetLPM(U4 keep) {
  if (!lpm_block || keep >= lpm_block_x) return;
  U8 memcnt = 0, memsz = 0;
  for (U8 x = keep; x + kMemDscSize <= lpm_block_x;) {
    const auto* d = reinterpret_cast<const memdsc*>(lpm_block + x);
    if (d->lpmx != x) break; // keep is not a block boundary: count nothing beyond
    if (Signature(d) == kMemDscLive) {
      ++memcnt;
      memsz += d->sz;
    }
    x += kMemDscSize + U8{d->sz};
  }
  lpm_block_x = keep;
  if (pgm_alloc_mem_cnt < memcnt) CrashMe("ResetLPM:pgm_alloc_mem_cnt<memcnt");
  pgm_alloc_mem_cnt -= memcnt;
  if (pgm_alloc_mem < memsz) CrashMe("ResetLPM:pgm_alloc_mem<memsz");
  pgm_alloc_mem -= memsz;
  if (lpm_cnt < memcnt) CrashMe("ResetLPM:lpm_cnt<memcnt");
  lpm_cnt -= static_cast<U4>(memcnt);
  if (lpm_mem < memsz) CrashMe("ResetLPM:lpm_mem<memsz");
  lpm_mem -= memsz;
}
