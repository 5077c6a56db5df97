// Small string objects for Mult lists: texts under 256 characters live inline, longer ones
// in a TRANSITORY block released by the destructor. Pass obj.st (never the object itself)
// into a Mult list.
#pragma once
#include "base/types.h"

inline constexpr U4 kXStInline = 256;

struct XSt {
  char* st = nullptr; // the text: null, bf, or a tracked block
  char bf[kXStInline];

  XSt() { bf[0] = 0; }
  // XStMult of the list.
  explicit XSt(const char* first, ...) TAP_SENTINEL;
  XSt(const XSt& other);
  XSt(XSt&& other) noexcept;
  XSt& operator=(const XSt& other);
  XSt& operator=(XSt&& other) noexcept;
  ~XSt();

  // Replaces the text by the joined list (at most 100 pieces, the rest ignored).
  void XStMult(const char* first, ...) TAP_SENTINEL;
  // The text, or "" when there is none.
  const char* St() const { return st ? st : ""; }
};

struct XStPart {
  char* st = nullptr;
  char bf[kXStInline];

  XStPart() { bf[0] = 0; }
  // Characters from..to of src; len 0xFFFFFFFF counts src, to 0xFFFFFFFF means its end.
  XStPart(const char* src, U4 from, U4 to, U4 len = 0xFFFFFFFFu);
  XStPart(const XStPart& other);
  XStPart(XStPart&& other) noexcept;
  XStPart& operator=(const XStPart& other);
  XStPart& operator=(XStPart&& other) noexcept;
  ~XStPart();

  const char* St() const { return st ? st : ""; }
};
