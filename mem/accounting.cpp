#include "mem/accounting.h"

#include "base/settings.h"
#include "errlog/errstack.h"
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
MemBook mem_books[kMemKinds] = {};
U4 &pgm_malloc_persistent_mem_cnt = mem_books[PERSISTENT].cnt,
   &pgm_malloc_persistent_mem_cnt_hi = mem_books[PERSISTENT].cnt_hi;
U8 &pgm_malloc_persistent_mem = mem_books[PERSISTENT].mem,
   &pgm_malloc_persistent_mem_hi = mem_books[PERSISTENT].mem_hi;
U4 &pgm_malloc_transitory_mem_cnt = mem_books[TRANSITORY].cnt,
   &pgm_malloc_transitory_mem_cnt_hi = mem_books[TRANSITORY].cnt_hi;
U8 &pgm_malloc_transitory_mem = mem_books[TRANSITORY].mem,
   &pgm_malloc_transitory_mem_hi = mem_books[TRANSITORY].mem_hi;
U4 &pgm_mrf_mem_cnt = mem_books[MRF].cnt, &pgm_mrf_mem_cnt_hi = mem_books[MRF].cnt_hi;
U8 &pgm_mrf_mem = mem_books[MRF].mem, &pgm_mrf_mem_hi = mem_books[MRF].mem_hi;
U4 &pgm_zl_mem_cnt = mem_books[ZL].cnt, &pgm_zl_mem_cnt_hi = mem_books[ZL].cnt_hi;
U8 &pgm_zl_mem = mem_books[ZL].mem, &pgm_zl_mem_hi = mem_books[ZL].mem_hi;
const char* const kMemBookCntZero[kMemKinds] = {"UpdateMemDataFree:pgm_malloc_persistent_mem_cnt=0",
                                                "UpdateMemDataFree:pgm_malloc_transitory_mem_cnt=0",
                                                nullptr, "UpdateMemDataFree:pgm_mrf_mem_cnt=0",
                                                "UpdateMemDataFree:pgm_zl_mem_cnt=0"};
const char* const kMemBookMemBelow[kMemKinds] = {
    "UpdateMemDataFree:pgm_malloc_persistent_mem<mdp->sz",
    "UpdateMemDataFree:pgm_malloc_transitory_mem<mdp->sz", nullptr,
    "UpdateMemDataFree:pgm_mrf_mem<mdp->sz", "UpdateMemDataFree:pgm_zl_mem<mdp->sz"};
U8 proc_mem = 0, proc_mem_hi = 0, proc_mem_lo = ~U8{0};

namespace {

template <class T> void Raise(T& hi, T v) {
  if (v > hi) hi = v;
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

} // namespace

// A counter that would go below zero: the books no longer match the blocks.
void MemBooksInconsistent(const char* msg) {
  SeMErrMult(msg, nullptr);
  CrashMe(msg);
}

void UpdateMemDataAlloc(void* pt, U4 oldsz) {
  memdsc* d = Dsc(pt);
  const I8 diff = I8{d->sz} - I8{oldsz};
  if (oldsz == 0) Raise(pgm_alloc_mem_cnt_hi, ++pgm_alloc_mem_cnt);
  pgm_alloc_mem = static_cast<U8>(static_cast<I8>(pgm_alloc_mem) + diff);
  Raise(pgm_alloc_mem_hi, pgm_alloc_mem);
  if (IsHeapKind(d->alloc_id)) {
    MemBook& b = mem_books[d->alloc_id];
    const auto p = reinterpret_cast<std::uintptr_t>(pt);
    if (p < pgm_malloc_pt_lo) pgm_malloc_pt_lo = p;
    Raise(pgm_malloc_pt_hi, p);
    if (oldsz == 0) Raise(b.cnt_hi, ++b.cnt);
    b.mem = static_cast<U8>(static_cast<I8>(b.mem) + diff);
    Raise(b.mem_hi, b.mem);
  } else if (d->alloc_id == LPM && d->lpmx != kNoLpmx) {
    if (oldsz == 0) LpmBookCarve(d->lpmx, d->sz);
    lpm_mem = static_cast<U8>(static_cast<I8>(lpm_mem) + diff);
    Raise(lpm_max_sz, d->sz);
  } else {
    PushKindError("UpdateMemDataAlloc", d);
  }
}

void UpdateMemDataFree(void* pt) {
  const memdsc* d = Dsc(pt);
  if (IsHeapKind(d->alloc_id)) {
    BookHeapFree(d->alloc_id, d->sz);
    return;
  }
  BookFreeAll(d->sz);
  if (d->alloc_id == LPM && d->lpmx != kNoLpmx) {
    LpmBookFree(d);
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
