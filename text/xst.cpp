#include "text/xst.h"

#include "errlog/errstack.h"
#include "mem/tracked.h"
#include "text/strbuild.h"

#include <cstdarg>
#include <cstring>

namespace {

// The text of an object is null, its own inline buffer, or a TRANSITORY block it owns.
void Release(char*& st, char* bf) {
  if (st && st != bf) FreeSP(&st);
  st = nullptr;
}

// Makes st/bf hold a copy of text (n characters). Texts under the inline size never
// allocate; a failed allocation leaves st null.
void Store(char*& st, char* bf, const char* text, U4 n) {
  if (n < kXStInline) {
    std::memmove(bf, text, n);
    bf[n] = 0;
    st = bf;
    return;
  }
  st = static_cast<char*>(AllocTransitoryU1(n + 1));
  if (st) {
    std::memcpy(st, text, n);
    st[n] = 0;
  }
}

void CopyFrom(char*& st, char* bf, const char* other_st) {
  st = nullptr;
  if (other_st) Store(st, bf, other_st, StLen(other_st));
}

// Moving steals a heap text (no allocation, released once) and copies an inline one, so
// that the new object points into its own buffer.
void MoveFrom(char*& st, char* bf, char*& other_st, char* other_bf) {
  st = nullptr;
  if (!other_st) return;
  if (other_st == other_bf) {
    std::memcpy(bf, other_bf, std::strlen(other_bf) + 1);
    st = bf;
  } else {
    st = other_st;
  }
  other_st = nullptr;
}

void JoinList(char*& st, char* bf, const char* first, va_list ap) {
  if (ErrSet) return;
  if (!first) {
    Release(st, bf);
    return;
  }
  const char* p[kMultMax];
  U4 n = 0;
  U8 total = 0;
  for (const char* s = first; s && n < kMultMax; s = va_arg(ap, const char*)) {
    p[n++] = s;
    total += std::strlen(s);
  }
  // The pieces may be this object's own text: build the new one before letting go.
  if (total < kXStInline) {
    char tmp[kXStInline];
    U4 pos = 0;
    for (U4 i = 0; i < n; ++i) {
      const U4 len = StLen(p[i]);
      std::memcpy(tmp + pos, p[i], len);
      pos += len;
    }
    tmp[pos] = 0;
    Release(st, bf);
    std::memcpy(bf, tmp, pos + 1);
    st = bf;
    return;
  }
  char* out = nullptr;
  if (total + 1 <= 0xFFFFFFFFu)
    out = static_cast<char*>(AllocTransitoryU1(static_cast<U4>(total + 1)));
  if (out) {
    U8 pos = 0;
    for (U4 i = 0; i < n; ++i) {
      const std::size_t len = std::strlen(p[i]);
      std::memcpy(out + pos, p[i], len);
      pos += len;
    }
    out[pos] = 0;
  }
  Release(st, bf);
  st = out;
}

} // namespace

XSt::XSt(const char* first, ...) {
  bf[0] = 0;
  va_list ap;
  va_start(ap, first);
  JoinList(st, bf, first, ap);
  va_end(ap);
}

void XSt::XStMult(const char* first, ...) {
  va_list ap;
  va_start(ap, first);
  JoinList(st, bf, first, ap);
  va_end(ap);
}

XSt::XSt(const XSt& other) {
  bf[0] = 0;
  CopyFrom(st, bf, other.st);
}

XSt::XSt(XSt&& other) noexcept {
  bf[0] = 0;
  MoveFrom(st, bf, other.st, other.bf);
}

XSt& XSt::operator=(const XSt& other) {
  if (this != &other) {
    Release(st, bf);
    CopyFrom(st, bf, other.st);
  }
  return *this;
}

XSt& XSt::operator=(XSt&& other) noexcept {
  if (this != &other) {
    Release(st, bf);
    MoveFrom(st, bf, other.st, other.bf);
  }
  return *this;
}

XSt::~XSt() {
  Release(st, bf);
}

XStPart::XStPart(const char* src, U4 from, U4 to, U4 len) {
  bf[0] = 0;
  if (ErrSet || !src) return;
  if (len == 0xFFFFFFFFu) len = StLen(src);
  if (to == 0xFFFFFFFFu) to = len;
  if (from > len || from > to) return;
  if (to > len) to = len;
  Store(st, bf, src + from, to - from);
}

XStPart::XStPart(const XStPart& other) {
  bf[0] = 0;
  CopyFrom(st, bf, other.st);
}

XStPart::XStPart(XStPart&& other) noexcept {
  bf[0] = 0;
  MoveFrom(st, bf, other.st, other.bf);
}

XStPart& XStPart::operator=(const XStPart& other) {
  if (this != &other) {
    Release(st, bf);
    CopyFrom(st, bf, other.st);
  }
  return *this;
}

XStPart& XStPart::operator=(XStPart&& other) noexcept {
  if (this != &other) {
    Release(st, bf);
    MoveFrom(st, bf, other.st, other.bf);
  }
  return *this;
}

XStPart::~XStPart() {
  Release(st, bf);
}
