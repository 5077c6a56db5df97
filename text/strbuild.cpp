#include "text/strbuild.h"

#include "errlog/errstack.h"
#include "errlog/stacktrace.h"
#include "mem/lpm.h"
#include "mem/tracked.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

constexpr U4 kAll = 0xFFFFFFFFu;

// The pieces of a Mult list (at most 100) with their lengths, counted once.
struct Pieces {
  const char* p[kMultMax];
  U8 len[kMultMax];
  U4 n = 0;
  bool too_many = false; // a 101st piece was there
  U8 total = 0;          // 64 bits: many long pieces must not wrap into a small block
};

void Collect(Pieces& pc, const char* first, va_list ap) {
  for (const char* s = first; s; s = va_arg(ap, const char*)) {
    if (pc.n == kMultMax) {
      pc.too_many = true;
      break;
    }
    pc.p[pc.n] = s;
    pc.len[pc.n] = std::strlen(s);
    pc.total += pc.len[pc.n];
    ++pc.n;
  }
}

bool Overlaps(const void* a, U8 alen, const void* b, U8 blen) {
  const auto x = reinterpret_cast<std::uintptr_t>(a);
  const auto y = reinterpret_cast<std::uintptr_t>(b);
  // Differences instead of end addresses: an end past the top of memory must not wrap.
  return x >= y ? x - y < blen : y - x < alen;
}

// Does any piece (its terminator included) share bytes with [bf, bf + sz)?
bool AnyOverlaps(const Pieces& pc, const void* bf, U8 sz) {
  for (U4 i = 0; i < pc.n; ++i)
    if (Overlaps(pc.p[i], pc.len[i] + 1, bf, sz)) return true;
  return false;
}

// Copies the pieces to out, at most limit characters; no terminator. Sets *cut when a
// piece did not fit.
U8 JoinInto(char* out, U8 limit, const Pieces& pc, bool* cut) {
  U8 pos = 0;
  for (U4 i = 0; i < pc.n; ++i) {
    const U8 room = limit - pos;
    if (pc.len[i] > room) {
      std::memcpy(out + pos, pc.p[i], static_cast<std::size_t>(room));
      *cut = true;
      return limit;
    }
    std::memcpy(out + pos, pc.p[i], static_cast<std::size_t>(pc.len[i]));
    pos += pc.len[i];
  }
  return pos;
}

// A cut text ends in "...": the dots and the terminator as one 4-byte store.
void Dots(char* s, U8 len) {
  if (len >= 3) std::memcpy(s + len - 3, "...", 4);
}

const char* Dec(char* bf, U8 v) {
  std::snprintf(bf, 24, "%" PRIu64, v);
  return bf;
}

void ReportOverflow(bool report, bool too_many, const char* what, U8 n) {
  if (!report) return;
  LogStack();
  char num[24];
  if (too_many)
    SeMErrMult("String overflow: Too many args", nullptr);
  else
    SeMErrMult("String overflow: ", what, Dec(num, n), nullptr);
}

void ArgError(const char* fn, const char* what) {
  LogStack();
  SeMErrMult(fn, what, nullptr);
}

// Scratch for a temporary whose size the caller decides: small ones on the stack, large
// ones from ScratchAlloc, a failure always visible to the caller.
class Scratch {
public:
  Scratch() = default;
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() {
    if (heap_) ScratchFree(pt_);
  }
  char* Get(U8 sz) {
    if (sz <= sizeof local_) return pt_ = local_;
    pt_ = static_cast<char*>(ScratchAlloc(sz));
    heap_ = pt_ != nullptr;
    return pt_;
  }

private:
  alignas(16) char local_[512];
  char* pt_ = nullptr;
  bool heap_ = false;
};

bool ScratchFailed(const char* fn, U8 need) {
  char num[24];
  SeMErrMult(fn, ":alloca failure: req sz=", Dec(num, need), nullptr);
  return false;
}

// Length of st within its first cap bytes (cap when no terminator is there).
U8 BoundedLen(const char* st, U8 cap) {
  const void* z = std::memchr(st, 0, static_cast<std::size_t>(cap));
  return z ? static_cast<U8>(static_cast<const char*>(z) - st) : cap;
}

template <class F> auto WithKind(U1 kind, F f) {
  const U1 save = pgm_alloc_id;
  pgm_alloc_id = kind;
  auto r = f();
  pgm_alloc_id = save;
  return r;
}

char* KindCopy(U1 kind, bool report, const char* first, va_list ap) {
  return WithKind(kind, [&] { return VaListCopy(kAll, report, nullptr, ap, first); });
}

char* PartInto(void* (*alloc)(U4), const char* src, U4 from, U4 to, U4 len) {
  if (ErrSet || !src) return nullptr;
  if (len == kAll) len = StLen(src);
  if (to > 0xFFFFFFFEu) to = len;
  if (from > len || from > to) return nullptr;
  if (to > len) to = len;
  const U4 n = to - from;
  if (n == 0xFFFFFFFFu) return nullptr;
  auto* out = static_cast<char*>(alloc(n + 1));
  if (!out) return nullptr;
  std::memcpy(out, src + from, n);
  out[n] = 0;
  return out;
}

} // namespace

U4 StLen(const char* st) {
  return st ? static_cast<U4>(std::strlen(st)) : 0;
}

void StToStMult(char* dst, U4 dstsz, bool report, const char* first, ...) {
  if (ErrSet) return;
  if (!dst) return ArgError("StToStMult", ":dst=NULL");
  if (dstsz == 0) return ArgError("StToStMult", ":dstsz=0");
  if (!first) {
    dst[0] = 0;
    return;
  }
  Pieces pc;
  va_list ap;
  va_start(ap, first);
  Collect(pc, first, ap);
  va_end(ap);

  const U8 limit = dstsz - 1;
  bool cut = pc.too_many;
  U8 len;
  // A source anywhere inside dst would be overwritten while it is read.
  if (AnyOverlaps(pc, dst, dstsz)) {
    const U8 need = (pc.total < limit ? pc.total : limit) + 1;
    Scratch scratch;
    char* tmp = scratch.Get(need);
    if (!tmp) {
      ScratchFailed("StToStMult", need);
      return;
    }
    len = JoinInto(tmp, limit, pc, &cut);
    std::memcpy(dst, tmp, static_cast<std::size_t>(len));
  } else {
    len = JoinInto(dst, limit, pc, &cut);
  }
  dst[len] = 0;
  if (cut) {
    Dots(dst, len);
    ReportOverflow(report, pc.too_many, "dstsz=", dstsz);
  }
}

U4 AppStMult(char* dst, U4* plen, U4 dstsz, bool report, const char* first, ...) {
  if (ErrSet) return 0;
  if (!dst) {
    ArgError("AppStMult", ":dst=null");
    return 0;
  }
  if (dstsz == 0) {
    ArgError("AppStMult", ":dstsz=0");
    return 0;
  }
  const U8 limit = dstsz - 1;
  bool cut = false;
  U8 len;
  if (plen && *plen != kAll) {
    len = *plen;
  } else {
    len = BoundedLen(dst, dstsz);
  }
  // A length at or past the end cannot be trusted to write after: clamp it.
  if (len > limit) {
    len = limit;
    cut = true;
  }
  if (!first && !cut) return static_cast<U4>(len);

  if (first) {
    va_list ap, ap2;
    va_start(ap, first);
    va_copy(ap2, ap);
    bool overlap = false;
    U8 total = 0;
    for (const char* s = first; s; s = va_arg(ap, const char*)) {
      const U8 n = std::strlen(s);
      total += n;
      overlap = overlap || Overlaps(s, n + 1, dst, dstsz);
    }
    va_end(ap);

    const U8 room = limit - len;
    Scratch scratch;
    char* out = dst + len;
    char* tmp = nullptr;
    if (overlap) {
      const U8 need = (total < room ? total : room) + 1;
      tmp = scratch.Get(need);
      if (!tmp) {
        va_end(ap2);
        ScratchFailed("AppStMult", need);
        return 0;
      }
      out = tmp;
    }
    U8 w = 0;
    for (const char* s = first; s && !cut; s = va_arg(ap2, const char*)) {
      while (*s) {
        if (w >= room) {
          cut = true;
          break;
        }
        out[w++] = *s++;
      }
    }
    va_end(ap2);
    if (tmp) std::memcpy(dst + len, tmp, static_cast<std::size_t>(w));
    len += w;
  }
  dst[len] = 0;
  if (plen) *plen = static_cast<U4>(len);
  if (cut) {
    Dots(dst, len);
    ReportOverflow(report, false, "len=", len);
  }
  return static_cast<U4>(len);
}

char* VaListCopy(U4 maxsz, bool report, U4* plen, va_list args, const char* first) {
  if (ErrSet) return nullptr;
  if (plen) *plen = 0;
  if (!first) return nullptr;
  if (maxsz == 0) {
    ArgError("VaListCopy", ":maxsz=0");
    return nullptr;
  }
  Pieces pc;
  Collect(pc, first, args);
  const U8 want = pc.total + 1;
  const U8 size = want < maxsz ? want : maxsz;
  auto* out = static_cast<char*>(AllocU1(static_cast<U4>(size)));
  if (!out) return nullptr;
  bool cut = pc.too_many;
  const U8 len = JoinInto(out, size - 1, pc, &cut);
  out[len] = 0;
  if (plen) *plen = static_cast<U4>(len);
  if (cut) {
    Dots(out, len);
    ReportOverflow(report, pc.too_many, "len=", len);
  }
  return out;
}

char* SPCopyMult(bool report, const char* first, ...) {
  va_list ap;
  va_start(ap, first);
  char* out = VaListCopy(kAll, report, nullptr, ap, first);
  va_end(ap);
  return out;
}

char* LPMSPCopyMult(bool report, const char* first, ...) {
  va_list ap;
  va_start(ap, first);
  char* out = KindCopy(LPM, report, first, ap);
  va_end(ap);
  return out;
}

char* TransitorySPCopyMult(bool report, const char* first, ...) {
  va_list ap;
  va_start(ap, first);
  char* out = KindCopy(TRANSITORY, report, first, ap);
  va_end(ap);
  return out;
}

char* ZLSPCopyMult(bool report, const char* first, ...) {
  va_list ap;
  va_start(ap, first);
  char* out = KindCopy(ZL, report, first, ap);
  va_end(ap);
  return out;
}

char* AppSPMult(char* sp, U4* plen, U4 maxsz, bool report, const char* first, ...) {
  if (ErrSet || !first) return sp;
  if (maxsz == 0) {
    ArgError("AppSPMult", ":maxsz=0");
    return sp;
  }
  Pieces pc;
  va_list ap;
  va_start(ap, first);
  Collect(pc, first, ap);
  va_end(ap);

  U8 stored = 0;
  if (sp) {
    stored = PtSize(sp, true);
    if (ErrSet || stored == 0) return sp;
  }
  U8 len = 0;
  if (sp) {
    len = (plen && *plen != kAll) ? *plen : BoundedLen(sp, stored);
    if (len >= stored) // a length past the block: take what the block really holds
      len = BoundedLen(sp, stored - 1);
  }
  const U8 limit = maxsz == kAll ? U8{0xFFFFFFFEu} : U8{maxsz} - 1;
  const U8 final_len = len + pc.total <= limit ? len + pc.total : limit;
  const bool cut = pc.too_many || len + pc.total > limit;

  // The block may move when it grows: sources inside it are copied out first.
  Scratch scratch;
  if (sp && AnyOverlaps(pc, sp, stored)) {
    const U8 need = (final_len > len ? final_len - len : 0) + 1;
    char* tmp = scratch.Get(need);
    if (!tmp) {
      ScratchFailed("AppSPMult", need);
      return sp;
    }
    bool ignored = false;
    tmp[JoinInto(tmp, need - 1, pc, &ignored)] = 0;
    pc.p[0] = tmp;
    pc.len[0] = need - 1;
    pc.n = 1;
  }

  char* out = sp ? static_cast<char*>(ReallocU1(sp, static_cast<U4>(final_len + 1), false))
                 : static_cast<char*>(AllocU1(static_cast<U4>(final_len + 1)));
  if (ErrSet || !out) return sp;
  if (len < final_len) {
    bool ignored = false;
    JoinInto(out + len, final_len - len, pc, &ignored);
  }
  out[final_len] = 0;
  if (plen) *plen = static_cast<U4>(final_len);
  if (cut) {
    Dots(out, final_len);
    ReportOverflow(report, pc.too_many, "len=", final_len);
  }
  return out;
}

char* ReplaceSPMult(char* sp, const char* first, ...) {
  if (ErrSet) return sp;
  if (!first) {
    FreeSP(&sp);
    return nullptr;
  }
  Pieces pc;
  va_list ap;
  va_start(ap, first);
  Collect(pc, first, ap);
  va_end(ap);
  U1 kind = pgm_alloc_id;
  if (sp) {
    memdsc* d = PtMDP(sp, true);
    if (ErrSet || !d) return sp;
    kind = d->alloc_id;
  }
  if (pc.total + 1 > 0xFFFFFFFFu) {
    char num[24];
    SeMErrMult("ReplaceSPMult", ":len=", Dec(num, pc.total), nullptr);
    return sp;
  }
  auto* out =
      static_cast<char*>(WithKind(kind, [&] { return AllocU1(static_cast<U4>(pc.total + 1)); }));
  if (!out) return sp;
  bool ignored = false;
  out[JoinInto(out, pc.total, pc, &ignored)] = 0;
  FreeSP(&sp); // only now: sp may have been one of the pieces
  return out;
}

char* ReplaceTransitorySP(char* sp, const char* st) {
  return WithKind(TRANSITORY, [&] { return ReplaceSPMult(sp, st, nullptr); });
}

char* ReplaceSPPart(char* sp, const char* src, U4 from, U4 to) {
  if (ErrSet || !src) return sp;
  if (!sp) return StPart(src, from, to, kAll);
  const U4 len = StLen(src);
  if (to >= 0xFFFFFFFEu) to = len;
  if (from > len || from > to) {
    FreeSP(&sp);
    return nullptr;
  }
  if (to > len) to = len;
  const U4 n = to - from;
  if (sp == src) {
    std::memmove(sp, sp + from, n);
    sp[n] = 0;
    return sp;
  }
  memdsc* d = PtMDP(sp, true);
  if (ErrSet || !d) return sp;
  if (U8{n} + 1 <= d->sz) {
    std::memmove(sp, src + from, n);
    sp[n] = 0;
    return sp;
  }
  auto* out = static_cast<char*>(WithKind(d->alloc_id, [&] { return AllocU1(n + 1); }));
  if (!out) return sp;
  std::memcpy(out, src + from, n);
  out[n] = 0;
  FreeSP(&sp);
  return out;
}

char* StPart(const char* src, U4 from, U4 to, U4 len) {
  return PartInto(AllocU1, src, from, to, len);
}

char* LPMPart(const char* src, U4 from, U4 to, U4 len) {
  return PartInto(AllocLPM, src, from, to, len);
}

void BfBf(void* dst, U4 dstsz, const void* src, U4 cnt) {
  if (ErrSet || src == dst) return;
  if (!src) {
    SeMErrMult("BfBf", ":src=null", nullptr);
    return;
  }
  if (!dst) {
    SeMErrMult("BfBf", ":dst=null", nullptr);
    return;
  }
  if (cnt > dstsz) {
    LogStack();
    char a[24], b[24];
    SeMErrMult("Buffer overflow: cnt=", Dec(a, cnt), " dstsz=", Dec(b, dstsz), nullptr);
    return;
  }
  std::memmove(dst, src, cnt);
}

void* BfCopy(const void* bf, U4 cnt) {
  if (ErrSet || !bf || cnt == 0) return nullptr;
  void* out = AllocU1(cnt);
  if (out) std::memcpy(out, bf, cnt);
  return out;
}

void* TransitoryBfCopy(const void* bf, U4 cnt) {
  return WithKind(TRANSITORY, [&] { return BfCopy(bf, cnt); });
}

char* PadSP(char* sp, U4 width) {
  if (ErrSet) return sp;
  U8 len = 0;
  if (sp) {
    const U4 stored = PtSize(sp, true);
    if (ErrSet || stored == 0) return sp;
    len = BoundedLen(sp, stored);
  }
  if (len >= width) return sp;
  if (width == 0xFFFFFFFFu) {
    SeMErrMult("PadSP", nullptr);
    return sp;
  }
  // Grown in place of a temporary of spaces: the same text without a caller-sized
  // temporary.
  char* out = sp ? static_cast<char*>(ReallocU1(sp, width + 1, false))
                 : static_cast<char*>(AllocU1(width + 1));
  if (ErrSet || !out) return sp;
  std::memset(out + len, ' ', static_cast<std::size_t>(width - len));
  out[width] = 0;
  return out;
}

void RemovePart(char* st, U4 from, U4 to) {
  if (ErrSet || !st || !st[0]) return;
  const U4 len = StLen(st);
  if (to == kAll || to > len) to = len;
  if (from < len && from < to) std::memmove(st + from, st + to, len - to + 1);
}

bool RemoveLeadingSpacesTabs(char* st) {
  if (!st || !st[0]) return false;
  U4 k = 0;
  while (st[k] == ' ' || st[k] == '\t')
    ++k;
  if (k == 0) return false;
  std::memmove(st, st + k, std::strlen(st + k) + 1);
  return true;
}

bool RemoveTrailingSpacesTabs(char* st, U4 len) {
  if (ErrSet || !st || !st[0] || len == 0) return false;
  const bool counted = len == kAll;
  const U8 n = counted ? std::strlen(st) : BoundedLen(st, len);
  U8 keep = n;
  while (keep > 0 && (st[keep - 1] == ' ' || st[keep - 1] == '\t'))
    --keep;
  if (keep == 0) {
    if (!counted) return false;
    st[0] = 0;
    return true;
  }
  if (st[keep] == 0) return false;
  st[keep] = 0;
  return true;
}

bool RemoveTrailingChar(char* st, char ch, U4 len) {
  if (!st || !st[0] || len == 0) return false;
  const U8 n = len > 0xFFFFFFFEu ? std::strlen(st) : BoundedLen(st, len);
  if (n == 0 || st[n - 1] != ch) return false;
  st[n - 1] = 0;
  return true;
}
