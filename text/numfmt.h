// Numbers and texts formatted into a caller's buffer (`_MyBf`: buffer, size; the result never
// passes size - 1 characters, a cut text ends in "..."). They return the buffer.
#pragma once
#include "base/types.h"

// Decimal; `fmt` null means the plain form; `commas` groups thousands (-1,234,567).
char* VS10_MyBf(U8 v, const char* fmt, bool commas, char* bf, U4 bfsz);
char* VS10_MyBf(I8 v, const char* fmt, bool commas, char* bf, U4 bfsz);
inline char* VS10_MyBf(U4 v, const char* fmt, bool commas, char* bf, U4 bfsz) {
  return VS10_MyBf(static_cast<U8>(v), fmt, commas, bf, bfsz);
}
inline char* VS10_MyBf(I4 v, const char* fmt, bool commas, char* bf, U4 bfsz) {
  return VS10_MyBf(static_cast<I8>(v), fmt, commas, bf, bfsz);
}
// `prefix` (may be null) then the value, "%llX" / "%llo" unless `fmt` is given.
char* VS16_MyBf(U8 v, const char* prefix, const char* fmt, char* bf, U4 bfsz);
char* VS8_MyBf(U8 v, const char* prefix, const char* fmt, char* bf, U4 bfsz);
// Decimal with commas, "/", upper-case hexadecimal: 1024 gives "1,024/400".
char* VS10CS16X_MyBf(U8 v, char* bf, U4 bfsz);
// A double with "%lf" or `fmt`; unless `keep_zeros`, trailing zeros of the fraction go
// (2.500000 -> 2.5, 3.000000 -> 3.0).
char* VSF_MyBf(double v, const char* fmt, bool keep_zeros, char* bf, U4 bfsz);
// The same with `decimals` digits after the point.
char* VSFN_MyBf(double v, U4 decimals, bool keep_zeros, char* bf, U4 bfsz);

// For lines written often (the debug lines of every key): no printf. The hexadecimal digits
// of v, at least min_digits of them, upper or lower case ("%02llx", "%llX"), and the decimal
// digits right-aligned in width characters ("%5lld"; plain digits: VS10_I8 below). The
// buffer gets the text.
struct NumDigits {
  char bf[24];
};
NumDigits HexDigits(U8 v, U4 min_digits = 1, bool upper = false);
NumDigits DecDigits(I8 v, U4 width);

// Durations: H:MM:SS or M:SS; H:MM; H:MM:SS:mmm or M:SS:mmm. Negative counts get a "-".
char* SecondsS_MyBf(I8 secs, char* bf, U4 bfsz);
char* MinutesS_MyBf(I8 mins, char* bf, U4 bfsz);
char* MsecsS_MyBf(I8 msecs, char* bf, U4 bfsz);

// How a byte is quoted in messages: "<NUL>".."<US>" ("<BELL>" for 7, a tab for 9), "<?>" for 255.
const char* CharDisplayName(U1 c);
// Each byte by its display name, a tab as spaces to the next multiple of 9; at most
// min(max, bfsz - 1) characters. `len` kAllU4: up to the terminator. "(NULL)" for a null text,
// "??" while an error is pending.
char* PrintableText_MyBf(const char* st, U4 len, U4 max, char* bf, U4 bfsz);
// A text usable as a file name: blanks become `space_ch`, characters illegal in file names '_'.
char* TextFN_MyBf(const char* st, char space_ch, char* bf, U4 bfsz);

// Number objects for Mult lists: pass VS10_U8(n).bf (or .St()), never the object itself.
struct VS10_U8 {
  char bf[128];
  explicit VS10_U8(U8 v, const char* fmt = nullptr, bool commas = false);
  explicit VS10_U8(U4 v, const char* fmt = nullptr, bool commas = false)
      : VS10_U8(static_cast<U8>(v), fmt, commas) {}
  explicit VS10_U8(U2 v, const char* fmt = nullptr, bool commas = false)
      : VS10_U8(static_cast<U8>(v), fmt, commas) {}
  explicit VS10_U8(U1 v, const char* fmt = nullptr, bool commas = false)
      : VS10_U8(static_cast<U8>(v), fmt, commas) {}
  const char* c_str() const { return bf; }
  const char* St() const { return bf; }
};
struct VS10_I8 {
  char bf[128];
  explicit VS10_I8(I8 v, const char* fmt = nullptr, bool commas = false);
  explicit VS10_I8(I4 v, const char* fmt = nullptr, bool commas = false)
      : VS10_I8(static_cast<I8>(v), fmt, commas) {}
  const char* c_str() const { return bf; }
  const char* St() const { return bf; }
};
struct SecondsS {
  char bf[32];
  explicit SecondsS(I8 secs) { SecondsS_MyBf(secs, bf, sizeof bf); }
  const char* c_str() const { return bf; }
  const char* St() const { return bf; }
};
struct MinutesS {
  char bf[32];
  explicit MinutesS(I8 mins) { MinutesS_MyBf(mins, bf, sizeof bf); }
  const char* c_str() const { return bf; }
  const char* St() const { return bf; }
};
