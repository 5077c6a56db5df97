#include "mem/blockbooks.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/stacktrace.h"
#include "mem/accounting.h"
#include "mem/lpm.h"

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

void UpdateMemDataAlloc(void* pt, U4 oldsz) {
  memdsc* d = Dsc(pt);
  const I8 diff = I8{d->sz} - I8{oldsz};
  SettleMemBooks();
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
    if (oldsz == 0) {
      Raise(lpm_cnt_hi, ++lpm_cnt);
      LpmBookCarve(d->sz);
    }
    lpm_mem = static_cast<U8>(static_cast<I8>(lpm_mem) + diff);
    Raise(lpm_max_sz, d->sz);
    LpmBooksInStep();
  } else {
    PushKindError("UpdateMemDataAlloc", d);
  }
}

void UpdateMemDataFree(void* pt) {
  const memdsc* d = Dsc(pt);
  SettleMemBooks();
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
