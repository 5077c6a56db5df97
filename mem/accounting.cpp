#include "mem/accounting.h"

#include "errlog/errstack.h"
#include "errlog/stacktrace.h"
#include "platform/memquery.h"

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
std::uintptr_t pgm_malloc_pt_lo = UINTPTR_MAX;
std::uintptr_t pgm_malloc_pt_hi = 0;

// A counter that would go below zero: the books no longer match the blocks.
void MemBooksInconsistent(const char* msg) {
  SeMErrMult(msg, nullptr);
  CrashMe(msg);
}

// ---- Measurements ---------------------------------------------------------------------

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
