#include "mem/accounting.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "errlog/stacktrace.h"
#include "files/fldf.h"
#include "mem/lpm.h"
#include "mem/reuse.h"
#include "mem/tracked.h"
#include "platform/fs.h"
#include "platform/memquery.h"
#include "text/numbers.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

U4 pgm_alloc_mem_cnt = 0, pgm_alloc_mem_cnt_hi = 0;
U8 pgm_alloc_mem = 0, pgm_alloc_mem_hi = 0, pgm_alloc_mem_lo = ~U8{0};
U4 pgm_malloc_persistent_mem_cnt = 0, pgm_malloc_persistent_mem_cnt_hi = 0;
U8 pgm_malloc_persistent_mem = 0, pgm_malloc_persistent_mem_hi = 0;
U4 pgm_malloc_transitory_mem_cnt = 0, pgm_malloc_transitory_mem_cnt_hi = 0;
U8 pgm_malloc_transitory_mem = 0, pgm_malloc_transitory_mem_hi = 0;
U4 pgm_mrf_mem_cnt = 0, pgm_mrf_mem_cnt_hi = 0;
U8 pgm_mrf_mem = 0, pgm_mrf_mem_hi = 0;
U4 pgm_zl_mem_cnt = 0, pgm_zl_mem_cnt_hi = 0;
U8 pgm_zl_mem = 0, pgm_zl_mem_hi = 0;
U8 proc_mem = 0, proc_mem_hi = 0, proc_mem_lo = ~U8{0};

namespace {

template <class T> void Raise(T& hi, T v) {
  if (v > hi) hi = v;
}

// The counters of one heap kind.
struct KindCounters {
  U4* cnt;
  U4* cnt_hi;
  U8* mem;
  U8* mem_hi;
  const char* cnt_zero; // messages of UpdateMemDataFree
  const char* mem_below;
};

const KindCounters* HeapKind(U1 kind) {
  static const KindCounters kinds[] = {
      {&pgm_malloc_persistent_mem_cnt, &pgm_malloc_persistent_mem_cnt_hi,
       &pgm_malloc_persistent_mem, &pgm_malloc_persistent_mem_hi,
       "UpdateMemDataFree:pgm_malloc_persistent_mem_cnt=0",
       "UpdateMemDataFree:pgm_malloc_persistent_mem<mdp->sz"},
      {&pgm_malloc_transitory_mem_cnt, &pgm_malloc_transitory_mem_cnt_hi,
       &pgm_malloc_transitory_mem, &pgm_malloc_transitory_mem_hi,
       "UpdateMemDataFree:pgm_malloc_transitory_mem_cnt=0",
       "UpdateMemDataFree:pgm_malloc_transitory_mem<mdp->sz"},
      {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
      {&pgm_mrf_mem_cnt, &pgm_mrf_mem_cnt_hi, &pgm_mrf_mem, &pgm_mrf_mem_hi,
       "UpdateMemDataFree:pgm_mrf_mem_cnt=0", "UpdateMemDataFree:pgm_mrf_mem<mdp->sz"},
      {&pgm_zl_mem_cnt, &pgm_zl_mem_cnt_hi, &pgm_zl_mem, &pgm_zl_mem_hi,
       "UpdateMemDataFree:pgm_zl_mem_cnt=0", "UpdateMemDataFree:pgm_zl_mem<mdp->sz"},
  };
  return kind < 5 && kind != LPM ? &kinds[kind] : nullptr;
}

memdsc* Dsc(void* pt) {
  return reinterpret_cast<memdsc*>(static_cast<U1*>(pt) - kMemDscSize);
}

void PushKindError(const char* fn, const memdsc* d) {
  if (d->alloc_id == LPM) {
    SeMErrMult(fn, ":mdp->lpmx=U4F callers=", StackCallers_STC(), nullptr);
  } else {
    SeMErrMult(fn, ":mdp->alloc_id=", AllocIdName(d->alloc_id), " callers=", StackCallers_STC(),
               nullptr);
  }
}

// A counter that would go below zero: the books no longer match the blocks.
[[noreturn]] void Inconsistent(const char* msg) {
  SeMErrMult(msg, nullptr);
  CrashMe(msg);
}

} // namespace

void UpdateMemDataAlloc(void* pt, U4 oldsz) {
  memdsc* d = Dsc(pt);
  const I8 diff = I8{d->sz} - I8{oldsz};
  if (oldsz == 0) Raise(pgm_alloc_mem_cnt_hi, ++pgm_alloc_mem_cnt);
  pgm_alloc_mem = static_cast<U8>(static_cast<I8>(pgm_alloc_mem) + diff);
  Raise(pgm_alloc_mem_hi, pgm_alloc_mem);
  if (const KindCounters* k = HeapKind(d->alloc_id)) {
    const auto p = reinterpret_cast<std::uintptr_t>(pt);
    if (p < pgm_malloc_pt_lo) pgm_malloc_pt_lo = p;
    Raise(pgm_malloc_pt_hi, p);
    if (oldsz == 0) Raise(*k->cnt_hi, ++*k->cnt);
    *k->mem = static_cast<U8>(static_cast<I8>(*k->mem) + diff);
    Raise(*k->mem_hi, *k->mem);
  } else if (d->alloc_id == LPM && d->lpmx != kNoLpmx) {
    if (oldsz == 0) {
      Raise(lpm_cnt_hi, ++lpm_cnt);
      lpm_block_x += kMemDscSize + d->sz;
      Raise(lpm_block_x_hi, d->lpmx);
    }
    lpm_mem = static_cast<U8>(static_cast<I8>(lpm_mem) + diff);
    Raise(lpm_max_sz, d->sz);
  } else {
    PushKindError("UpdateMemDataAlloc", d);
  }
}

void UpdateMemDataFree(void* pt) {
  const memdsc* d = Dsc(pt);
  if (pgm_alloc_mem_cnt == 0) Inconsistent("UpdateMemDataFree:pgm_alloc_mem_cnt=0");
  --pgm_alloc_mem_cnt;
  if (pgm_alloc_mem < d->sz) Inconsistent("UpdateMemDataFree:pgm_alloc_mem<mdp->sz");
  pgm_alloc_mem -= d->sz;
  if (pgm_alloc_mem < pgm_alloc_mem_lo) pgm_alloc_mem_lo = pgm_alloc_mem;
  if (const KindCounters* k = HeapKind(d->alloc_id)) {
    if (*k->cnt == 0) Inconsistent(k->cnt_zero);
    --*k->cnt;
    if (*k->mem < d->sz) Inconsistent(k->mem_below);
    *k->mem -= d->sz;
  } else if (d->alloc_id == LPM && d->lpmx != kNoLpmx) {
    if (lpm_cnt == 0) Inconsistent("UpdateMemDataFree:lpm_cnt=0");
    --lpm_cnt;
    if (lpm_mem < d->sz) Inconsistent("UpdateMemDataFree:lpm_mem<mdp->sz");
    lpm_mem -= d->sz;
  } else {
    PushKindError("UpdateMemDataFree", d);
  }
}

// ---- Measurements ---------------------------------------------------------------------

char* (*memgauge_run_hook)(const char* cmd, U4* size) = nullptr;

namespace {

bool memgauge_failed = false;

// The figure that a measuring program printed after its first "=".
bool MeasuringProgram(U8* bytes) {
  // The command interpreter of Windows looks in the current folder first; a shell does not.
  char cmd[kPgmTextSz + 32];
  std::snprintf(cmd, sizeof cmd, "%s%s%s%s", PlatformDirSep() == '/' ? "./" : "", "Memgauge.exe",
                " ", pgm_image_fn);
  U4 size = 0;
  char* out = memgauge_run_hook(cmd, &size);
  if (!out) return false;
  const char* eq = std::strchr(out, '=');
  if (!eq) {
    char shown[128];
    SeMErrMult("Memgauge", ":output=", PrintableText_MyBf(out, kAllU4, 100, shown, sizeof shown),
               nullptr);
  } else {
    *bytes = St10U8(eq + 1, 1, 1, nullptr, true);
  }
  FreeSP(&out);
  return !ErrSet;
}

bool MeasuringProgramPresent() {
  FsStat st;
  return memgauge_run_hook && PlatformStat("Memgauge.exe", true, &st) &&
         st.kind == FsKind::kRegular;
}

} // namespace

U8 Memgauge() {
  if (ErrSet || memgauge_failed) return 0;
  U8 bytes = 0;
  bool ok;
  if (MeasuringProgramPresent()) {
    ok = MeasuringProgram(&bytes);
  } else {
    const char* call = "GetProcessMemoryInfo";
    ok = PlatformProcessMemory(&bytes, &call);
    if (!ok) SeMLastErr(call);
  }
  if (!ok) {
    memgauge_failed = true;
    return 0;
  }
  proc_mem = bytes;
  if (bytes < proc_mem_lo) proc_mem_lo = bytes;
  Raise(proc_mem_hi, bytes);
  return bytes;
}

U8 MemgaugeKB() {
  return Memgauge() / 1024;
}

namespace {
U8 StatusFigure(U8 PlatformMemoryStatus::*field) {
  PlatformMemoryStatus st;
  if (ErrSet) return 0;
  if (!PlatformMemoryStatusOf(&st)) {
    SeMLastErr("GlobalMemoryStatusEx");
    return 0;
  }
  return st.*field;
}
} // namespace

U8 TotalPhysMemory() {
  return StatusFigure(&PlatformMemoryStatus::total_phys);
}
U8 TotalPhysMemoryKB() {
  return TotalPhysMemory() / 1024;
}
U8 TotalVirtualMemory() {
  return StatusFigure(&PlatformMemoryStatus::total_virtual);
}
U8 TotalVirtualMemoryKB() {
  return TotalVirtualMemory() / 1024;
}
