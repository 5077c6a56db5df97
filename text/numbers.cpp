// Number parsers. One skeleton serves every base and the time quantities: a lead scan that
// finds where the number starts, a digit loop with exact overflow checks in unsigned
// arithmetic, and a trailing check. Reads never pass the text's terminator.
#include "text/numbers.h"

#include "errlog/errstack.h"
#include "text/match.h"
#include "time/parsetime.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

struct DigitTable {
  U1 v[256];
  constexpr DigitTable() : v{} {
    for (int i = 0; i < 256; ++i)
      v[i] = 255;
    for (int i = 0; i < 10; ++i)
      v['0' + i] = static_cast<U1>(i);
    for (int i = 0; i < 26; ++i) {
      v['A' + i] = static_cast<U1>(10 + i);
      v['a' + i] = static_cast<U1>(10 + i);
    }
  }
};
constexpr DigitTable kDigits;

constexpr U8 kTwo63 = 0x8000000000000000ull;

inline U1 Fold(U1 c) {
  return (c >= 'a' && c <= 'z') ? static_cast<U1>(c - 32) : c;
}
inline bool IsDec(U1 c) {
  return c >= '0' && c <= '9';
}

// The texts of one parser family.
struct Family {
  const char* name;                // for ":Null str"
  const char* unexp;               // "Unexp integer char \""
  const char* none;                // "No integer in \""
  const char* overflow;            // "Integer overflow ("
  const char* trailing;            // "Unexp trailing integer char \""
  const char* uoverflow = nullptr; // time quantities: the 64-bit digit overflow
  const char* invalid = nullptr;   // time quantities: a field of 60 or more
};

struct Parse {
  const char* st;
  const U1* s;
  U1 lead;
  U1 trail;
  U4* pidx;
  bool report;
  const Family* fam;
  U1 base;
  char letter;      // required leading letter, 0 for none
  bool no_minus;    // a minus before the digits is an unexpected character
  bool float_start; // ".5" starts a number too

  void Fail(U4 at) const {
    if (pidx) *pidx = at;
  }
  void CharErr(U4 at, const char* what) const {
    Fail(at);
    if (report) SeMErrMult(what, CharDisplayName(s[at]), "\" in \"", st, "\"", nullptr);
  }
  void TextErr(U4 at, const char* what, const char* close) const {
    Fail(at);
    if (report) SeMErrMult(what, st, close, nullptr);
  }
  bool StartsAt(U4 i) const {
    if (letter) return Fold(s[i]) == Fold(static_cast<U1>(letter)) && kDigits.v[s[i + 1]] < base;
    if (kDigits.v[s[i]] < base) return true;
    return float_start && s[i] == '.' && IsDec(s[i + 1]);
  }
};

enum class Lead { kDigits, kEnd, kError };

// Finds the first digit. *ppos receives its index, *pneg the sign.
Lead ScanLead(const Parse& p, U4* ppos, bool* pneg) {
  const U1* s = p.s;
  *pneg = false;
  for (U4 i = 0;;) {
    U1 c = s[i];
    if (!c) {
      *ppos = i;
      return Lead::kEnd;
    }
    if (p.StartsAt(i)) {
      *ppos = p.letter ? i + 1 : i;
      return Lead::kDigits;
    }
    if (c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    if (c == '-' || c == '+') {
      U4 j = i + 1;
      while (s[j] == ' ')
        ++j;
      if (p.StartsAt(j)) {
        if (c == '-') {
          if (p.no_minus) {
            p.CharErr(i, p.fam->unexp);
            return Lead::kError;
          }
          *pneg = true;
        }
        *ppos = p.letter ? j + 1 : j;
        return Lead::kDigits;
      }
    }
    if (p.letter && kDigits.v[c] < p.base && p.lead < 2) {
      // Digits without the letter that must lead them.
      p.Fail(i);
      if (p.report) {
        char l[2] = {p.letter, 0};
        SeMErrMult("No leading \"", l, "\" in \"", p.st, "\"", nullptr);
      }
      return Lead::kError;
    }
    if (IsWordChar(c)) {
      if (p.lead < 2) {
        p.CharErr(i, p.fam->unexp);
        return Lead::kError;
      }
      ++i;
      while (s[i] && IsWordChar(s[i]) && !p.StartsAt(i) && !(p.letter == 0 && IsDec(s[i])))
        ++i;
      continue;
    }
    if (p.lead == 0) {
      p.CharErr(i, p.fam->unexp);
      return Lead::kError;
    }
    ++i;
  }
}

void NoNumber(const Parse& p) {
  if (p.pidx) *p.pidx = 0;
  if (!p.report) return;
  if (p.letter) {
    char l[2] = {p.letter, 0};
    SeMErrMult(p.fam->none, p.st, "\" that leads with ", CharDisplayName(static_cast<U1>(l[0])),
               nullptr);
  } else {
    SeMErrMult(p.fam->none, p.st, "\"", nullptr);
  }
}

// True when the text after the number at end is allowed.
bool TrailOk(const Parse& p, U4 end) {
  const U1* s = p.s;
  if (!s[end] || p.trail >= 2) return true;
  if (p.trail == 1) {
    if (!IsWordChar(s[end])) return true;
    p.CharErr(end, p.fam->trailing);
    return false;
  }
  while (s[end] == ' ' || s[end] == '\t')
    ++end;
  if (!s[end]) return true;
  p.CharErr(end, p.fam->trailing);
  return false;
}

// Common entry: pending error and null text. False when the parse must stop.
bool Enter(const char* st, U4* pidx, bool report, const char* name) {
  if (ErrSet) {
    if (pidx) *pidx = 0;
    return false;
  }
  if (!st) {
    if (pidx) *pidx = 0;
    if (report) SeMErrMult(name, ":Null str", nullptr);
    return false;
  }
  if (pidx) *pidx = kAllU4;
  return true;
}

// Accumulates digits of p.base from pos. False on overflow (reported).
bool Accumulate(const Parse& p, U4* pos, U8* pv) {
  const U1* s = p.s;
  U4 i = *pos;
  U8 v = 0;
  U4 bits = p.base == 16 ? 4 : p.base == 8 ? 3 : p.base == 2 ? 1 : 0;
  while (s[i] == '0')
    ++i;
  if (p.base == 10) {
    // Overflow by comparison with the largest value that a digit may still follow.
    constexpr U8 kTenth = ~0ull / 10, kLastDigit = ~0ull % 10;
    for (; IsDec(s[i]); ++i) {
      const U8 d = s[i] - U8{'0'};
      if (v > kTenth || (v == kTenth && d > kLastDigit)) {
        p.TextErr(i, p.fam->overflow, ")");
        return false;
      }
      v = v * 10 + d;
    }
    *pos = i;
    *pv = v;
    return true;
  }
  for (; kDigits.v[s[i]] < p.base; ++i) {
    U8 d = kDigits.v[s[i]];
    bool over = bits ? (v >> (64 - bits)) != 0 : v > (~0ull - d) / 10;
    if (over) {
      p.TextErr(i, p.fam->overflow, ")");
      return false;
    }
    v = bits ? (v << bits) | d : v * 10 + d;
  }
  *pos = i;
  *pv = v;
  return true;
}

// Integer parsers of every base. *pneg reports the sign; the magnitude is returned.
bool ParseInteger(const Parse& p, U8* pmag, bool* pneg, U4* pend) {
  U4 pos = 0;
  switch (ScanLead(p, &pos, pneg)) {
  case Lead::kError:
    return false;
  case Lead::kEnd:
    NoNumber(p);
    return false;
  case Lead::kDigits:
    break;
  }
  if (!Accumulate(p, &pos, pmag)) return false;
  *pend = pos;
  return true;
}

const Family kSigned{"St10I8", "Unexp integer char \"", "No integer in \"", "Integer overflow (",
                     "Unexp trailing integer char \""};
const Family kUnsigned{"St10U8", "Unexp unsigned integer char \"", "No integer in \"",
                       "Unsigned integer overflow (", "Unexp trailing integer char \""};
const Family kHex{"St16U8", "Unexp hex char \"", "No hex in \"", "Hex overflow (",
                  "Unexp trailing hex char \""};
const Family kOctal{"St8U8", "Unexp octal char \"", "No octal in \"", "Octal overflow (",
                    "Unexp trailing octal char \""};
const Family kBinary{"St2U8", "Unexp binary char \"", "No binary in \"", "Binary overflow (",
                     "Unexp trailing binary char \""};
const Family kFloat{"StFF8", "Unexp float char \"", "No float in \"", "Float overflow (",
                    "Unexp trailing float char \""};
const Family kSeconds{"StSecondsI8",
                      "Unexp seconds char \"",
                      "No seconds in \"",
                      "Seconds/integer overflow (",
                      "Unexp trailing seconds char \"",
                      "Seconds/unsigned-integer overflow (",
                      "Invalid seconds \""};
const Family kMinutes{"StMinutesI8",
                      "Unexp minutes char \"",
                      "No minutes in \"",
                      "Minutes/integer overflow (",
                      "Unexp trailing minutes char \"",
                      "Minutes/unsigned-integer overflow (",
                      "Invalid minutes \""};
const Family kTMC{"StTMC8",
                  "Unexp time-quantity char \"",
                  "No time-quantity in \"",
                  "Time-quantity/integer overflow (",
                  "Unexp trailing time-quantity char \"",
                  "Time-quantity/unsigned-integer overflow (",
                  "Invalid time-quantity \""};

Parse MakeParse(const char* st, U1 lead, U1 trail, U4* pidx, bool report, const Family& fam,
                U1 base, char letter = 0) {
  Parse p{
      st,   reinterpret_cast<const U1*>(st), lead, trail, pidx, report, &fam, base, letter, false,
      false};
  return p;
}

// Hexadecimal, octal and binary: a negative value needs a magnitude below 2^63.
U8 ParseBits(const char* st, U1 lead, U1 trail, U4* pidx, bool report, char letter,
             const Family& fam, U1 base) {
  if (!Enter(st, pidx, report, fam.name)) return 0;
  Parse p = MakeParse(st, lead, trail, pidx, report, fam, base, letter);
  U8 mag = 0;
  bool neg = false;
  U4 end = 0;
  if (!ParseInteger(p, &mag, &neg, &end)) return 0;
  if (neg && mag >= kTwo63) {
    p.TextErr(end, fam.overflow, ")");
    return 0;
  }
  if (!TrailOk(p, end)) return 0;
  return neg ? 0 - mag : mag;
}

// Time quantities: N, then up to `fields` ":XX" fields below 60, each multiplying by 60.
I8 ParseQuantity(const char* st, U1 lead, U1 trail, U4* pidx, bool report, const Family& fam,
                 U4 fields, U4* pcolons) {
  if (!Enter(st, pidx, report, fam.name)) return 0;
  Parse p = MakeParse(st, lead, trail, pidx, report, fam, 10);
  U4 pos = 0;
  bool neg = false;
  switch (ScanLead(p, &pos, &neg)) {
  case Lead::kError:
    return 0;
  case Lead::kEnd:
    NoNumber(p);
    return 0;
  case Lead::kDigits:
    break;
  }
  Family digits = fam;
  digits.overflow = fam.uoverflow;
  p.fam = &digits;
  U8 v = 0;
  if (!Accumulate(p, &pos, &v)) return 0;
  p.fam = &fam;
  const U1* s = p.s;
  U4 colons = 0;
  for (; colons < fields; ++colons) {
    if (s[pos] != ':' || !IsDec(s[pos + 1]) || !IsDec(s[pos + 2]) || IsDec(s[pos + 3])) break;
    U8 f = (s[pos + 1] - '0') * 10u + (s[pos + 2] - '0');
    if (f >= 60) {
      p.TextErr(pos + 1, fam.invalid, "\"");
      return 0;
    }
    if (v > (kTwo63 - f) / 60) {
      p.TextErr(pos + 1, fam.overflow, ")");
      return 0;
    }
    v = v * 60 + f;
    pos += 3;
  }
  if (neg ? v > kTwo63 : v >= kTwo63) {
    p.TextErr(pos, fam.overflow, ")");
    return 0;
  }
  if (!TrailOk(p, pos)) return 0;
  if (pcolons) *pcolons = colons;
  return static_cast<I8>(neg ? 0 - v : v);
}

} // namespace

const U1 digit_value[256] = {
#define R16(b)                                                                                     \
  kDigits.v[b], kDigits.v[b + 1], kDigits.v[b + 2], kDigits.v[b + 3], kDigits.v[b + 4],            \
      kDigits.v[b + 5], kDigits.v[b + 6], kDigits.v[b + 7], kDigits.v[b + 8], kDigits.v[b + 9],    \
      kDigits.v[b + 10], kDigits.v[b + 11], kDigits.v[b + 12], kDigits.v[b + 13],                  \
      kDigits.v[b + 14], kDigits.v[b + 15]
    R16(0),   R16(16),  R16(32),  R16(48),  R16(64),  R16(80),  R16(96), R16(112), R16(128),
    R16(144), R16(160), R16(176), R16(192), R16(208), R16(224), R16(240)
#undef R16
};

bool IsLetterChar(U1 c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsWordChar(U1 c) {
  return IsLetterChar(c) || IsDec(c);
}

namespace {
// The common text, a sign directly before at most 19 digits and nothing after them, read
// without the general scan: such a magnitude always fits in 64 bits. False for any other
// text, which the general parser then reads (and reports) from the start.
bool PlainDecimal(const char* st, U8* pmag, bool* pneg) {
  const U1* s = reinterpret_cast<const U1*>(st);
  U4 i = s[0] == '-' || s[0] == '+' ? 1 : 0;
  if (!IsDec(s[i])) return false;
  while (s[i] == '0')
    ++i;
  U8 v = 0;
  const U4 last = i + 19;
  for (; i < last && IsDec(s[i]); ++i)
    v = v * 10 + (s[i] - U8{'0'});
  if (s[i] != 0) return false;
  *pmag = v;
  *pneg = st[0] == '-';
  return true;
}
} // namespace

I8 St10I8(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  if (!Enter(st, pidx, report, "St10I8")) return 0;
  U8 plain = 0;
  bool minus = false;
  if (PlainDecimal(st, &plain, &minus) && (minus ? plain <= kTwo63 : plain < kTwo63))
    return static_cast<I8>(minus ? 0 - plain : plain);
  Parse p = MakeParse(st, lead, trail, pidx, report, kSigned, 10);
  U8 mag = 0;
  bool neg = false;
  U4 end = 0;
  if (!ParseInteger(p, &mag, &neg, &end)) return 0;
  if (neg ? mag > kTwo63 : mag >= kTwo63) {
    p.TextErr(end, kSigned.overflow, ")");
    return 0;
  }
  if (!TrailOk(p, end)) return 0;
  return static_cast<I8>(neg ? 0 - mag : mag);
}

U8 St10U8(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  if (!Enter(st, pidx, report, "St10U8")) return 0;
  U8 plain = 0;
  bool minus = false;
  if (PlainDecimal(st, &plain, &minus) && !minus) return plain;
  Parse p = MakeParse(st, lead, trail, pidx, report, kUnsigned, 10);
  p.no_minus = true;
  U8 mag = 0;
  bool neg = false;
  U4 end = 0;
  if (!ParseInteger(p, &mag, &neg, &end)) return 0;
  if (!TrailOk(p, end)) return 0;
  return mag;
}

U8 St16U8(const char* st, U1 lead, U1 trail, U4* pidx, bool report, char letter) {
  return ParseBits(st, lead, trail, pidx, report, letter, kHex, 16);
}

U8 St8U8(const char* st, U1 lead, U1 trail, U4* pidx, bool report, char letter) {
  return ParseBits(st, lead, trail, pidx, report, letter, kOctal, 8);
}

U8 St2U8(const char* st, U1 lead, U1 trail, U4* pidx, bool report, char letter) {
  return ParseBits(st, lead, trail, pidx, report, letter, kBinary, 2);
}

double StFF8(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  if (!Enter(st, pidx, report, "StFF8")) return 0;
  Parse p = MakeParse(st, lead, trail, pidx, report, kFloat, 10);
  p.float_start = true;
  U4 pos = 0;
  bool neg = false;
  switch (ScanLead(p, &pos, &neg)) {
  case Lead::kError:
    return 0;
  case Lead::kEnd:
    NoNumber(p);
    return 0;
  case Lead::kDigits:
    break;
  }
  const U1* s = p.s;
  U4 end = pos;
  while (IsDec(s[end]))
    ++end;
  if (s[end] == '.') {
    ++end;
    while (IsDec(s[end]))
      ++end;
  }
  if (s[end] == 'e' || s[end] == 'E') {
    U4 x = end + 1;
    if (s[x] == '+' || s[x] == '-') ++x;
    if (IsDec(s[x])) {
      while (IsDec(s[x]))
        ++x;
      end = x;
    }
  }
  // Only the text checked above is converted: strtod alone would also take hex and "inf".
  std::string num(st + pos, end - pos);
  errno = 0;
  double v = std::strtod(num.c_str(), nullptr);
  if (std::isinf(v)) {
    p.TextErr(pos, kFloat.overflow, ")");
    return 0;
  }
  if (!TrailOk(p, end)) return 0;
  return neg ? -v : v;
}

I8 StSecondsI8(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  return ParseQuantity(st, lead, trail, pidx, report, kSeconds, 2, nullptr);
}

I8 StMinutesI8(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  return ParseQuantity(st, lead, trail, pidx, report, kMinutes, 1, nullptr);
}

I8 StTMC8(const char* st, U1 lead, U1 trail, U4* pidx, bool report, U4* punit) {
  U4 colons = 0;
  U4 idx = kAllU4;
  I8 v = ParseQuantity(st, lead, trail, &idx, report, kTMC, 2, &colons);
  if (pidx) *pidx = idx;
  if (punit && idx == kAllU4) *punit = colons == 0 ? 10 : colons == 1 ? 60 : 3600;
  return v;
}

// ---- General parsers ----------------------------------------------------------------------

namespace {

enum class Pick { kBinary, kHex, kTime, kDate, kDecimal };

// Decides what the text holds; for a date *pdate receives the packed value.
Pick Choose(const char* st, bool allow_tq, bool allow_dt, I8* pdate) {
  const char* q = st;
  while (*q == ' ' || *q == '\t')
    ++q;
  if (Fold(static_cast<U1>(*q)) == 'B') return Pick::kBinary;
  if (Fold(static_cast<U1>(*q)) == 'X') return Pick::kHex;
  if (allow_tq && std::strchr(st, ':')) return Pick::kTime;
  if (allow_dt) {
    TPDAT t;
    bool parsed = ParseTime(&t, st, kAllU4);
    // Only a probe: a text that is no date is read as a number, so no date error may stay
    // (none was pending on entry).
    if (ErrSet) ClearErr();
    if (parsed && t.year.val != kTPNotFound && t.mon.val != kTPNotFound &&
        t.mday.val != kTPNotFound) {
      auto f = [](U2 v) { return v == kTPNotFound ? I8{0} : I8{v}; };
      I8 v = ((((I8{t.year.val} - 2000) * 12 + t.mon.val) * 31 + t.mday.val) * 24 + f(t.hour.val));
      *pdate = (v * 60 + f(t.min.val)) * 60 + f(t.sec.val);
      return Pick::kDate;
    }
  }
  return Pick::kDecimal;
}

bool StartGeneral(const char* st, U4* pidx, bool report, const char* name) {
  return Enter(st, pidx, report, name);
}

} // namespace

U8 StU8(const char* st, U1 lead, U1 trail, U4* pidx, bool report, bool allow_tq, bool allow_dt,
        U4* pkind) {
  if (!StartGeneral(st, pidx, report, "StU8")) return 0;
  I8 date = 0;
  U4 unit = 10;
  switch (Choose(st, allow_tq, allow_dt, &date)) {
  case Pick::kBinary:
    if (pkind) *pkind = 2;
    return St2U8(st, lead, trail, pidx, report, 'B');
  case Pick::kHex:
    if (pkind) *pkind = 16;
    return St16U8(st, lead, trail, pidx, report, 'X');
  case Pick::kTime: {
    I8 v = StTMC8(st, lead, trail, pidx, report, &unit);
    if (pkind) *pkind = unit;
    return static_cast<U8>(v);
  }
  case Pick::kDate:
    if (pkind) *pkind = 365;
    return static_cast<U8>(date);
  case Pick::kDecimal:
    break;
  }
  if (pkind) *pkind = 10;
  return St10U8(st, lead, trail, pidx, report);
}

I8 StI8(const char* st, U1 lead, U1 trail, U4* pidx, bool report, bool allow_tq, bool allow_dt,
        U4* pkind) {
  if (!StartGeneral(st, pidx, report, "StI8")) return 0;
  I8 date = 0;
  U4 unit = 10;
  switch (Choose(st, allow_tq, allow_dt, &date)) {
  case Pick::kBinary:
    if (pkind) *pkind = 2;
    return static_cast<I8>(St2U8(st, lead, trail, pidx, report, 'B'));
  case Pick::kHex:
    if (pkind) *pkind = 16;
    return static_cast<I8>(St16U8(st, lead, trail, pidx, report, 'X'));
  case Pick::kTime: {
    I8 v = StTMC8(st, lead, trail, pidx, report, &unit);
    if (pkind) *pkind = unit;
    return v;
  }
  case Pick::kDate:
    if (pkind) *pkind = 365;
    return date;
  case Pick::kDecimal:
    break;
  }
  if (pkind) *pkind = 10;
  return St10I8(st, lead, trail, pidx, report);
}

double StF8(const char* st, U1 lead, U1 trail, U4* pidx, bool report, bool allow_tq, bool allow_dt,
            U4* pkind) {
  if (!StartGeneral(st, pidx, report, "StF8")) return 0;
  I8 date = 0;
  switch (Choose(st, allow_tq, allow_dt, &date)) {
  case Pick::kBinary:
  case Pick::kHex:
  case Pick::kTime:
    return static_cast<double>(StI8(st, lead, trail, pidx, report, allow_tq, false, pkind));
  case Pick::kDate:
    if (pkind) *pkind = 365;
    return static_cast<double>(date);
  case Pick::kDecimal:
    break;
  }
  if (pkind) *pkind = 10;
  return StFF8(st, lead, trail, pidx, report);
}

// ---- Range wrappers -----------------------------------------------------------------------

namespace {

// The range message: prefix, the text in printable form, the relation and the bound.
void RangeErr(const char* st, U4* pidx, bool report, const char* prefix, const char* rel,
              const char* bound) {
  if (pidx) *pidx = 0;
  if (!report) return;
  char text[4096];
  PrintableText_MyBf(st, kAllU4, sizeof text - 1, text, sizeof text);
  SeMErrMult(prefix, text, rel, bound, nullptr);
}

// What the wrappers do after the 64-bit parser: false when that one failed.
bool ParsedOk(U4 idx, U4* pidx) {
  if (pidx) *pidx = idx;
  return !ErrSet && idx == kAllU4;
}

template <class R>
R CheckUnsigned(U8 v, const char* st, U4* pidx, bool report, const char* prefix,
                bool max_of = false) {
  constexpr U8 hi = static_cast<U8>(static_cast<R>(~R{0}));
  if (v <= hi) return static_cast<R>(v);
  RangeErr(st, pidx, report, prefix, max_of ? ") > max of " : ") > ", VS10_U8(hi).bf);
  return 0;
}

template <class R> R CheckSigned(I8 v, const char* st, U4* pidx, bool report, const char* prefix) {
  constexpr I8 lo = std::numeric_limits<R>::min();
  constexpr I8 hi = std::numeric_limits<R>::max();
  if (v >= lo && v <= hi) return static_cast<R>(v);
  if (v < lo)
    RangeErr(st, pidx, report, prefix, ") < ", VS10_I8(lo).bf);
  else
    RangeErr(st, pidx, report, prefix, ") > ", VS10_I8(hi).bf);
  return 0;
}

template <class R> R U10(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  U4 idx = kAllU4;
  U8 v = St10U8(st, lead, trail, &idx, report);
  if (!ParsedOk(idx, pidx)) return 0;
  return CheckUnsigned<R>(v, st, pidx, report, "Integer value (");
}

template <class R> R Signed(I8 v, U4 idx, const char* st, U4* pidx, bool report) {
  if (!ParsedOk(idx, pidx)) return 0;
  return CheckSigned<R>(v, st, pidx, report, "Integer value (");
}

template <class R>
R Bits(U8 (*parse)(const char*, U1, U1, U4*, bool, char), const char* prefix, const char* st,
       U1 lead, U1 trail, U4* pidx, bool report, char letter) {
  U4 idx = kAllU4;
  U8 v = parse(st, lead, trail, &idx, report, letter);
  if (!ParsedOk(idx, pidx)) return 0;
  return CheckUnsigned<R>(v, st, pidx, report, prefix, true);
}

} // namespace

U1 St10U1(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  return U10<U1>(st, lead, trail, pidx, report);
}
U2 St10U2(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  return U10<U2>(st, lead, trail, pidx, report);
}
U4 St10U4(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  return U10<U4>(st, lead, trail, pidx, report);
}

I1 St10I1(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  U4 idx = kAllU4;
  I8 v = St10I8(st, lead, trail, &idx, report);
  return Signed<I1>(v, idx, st, pidx, report);
}
I2 St10I2(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  U4 idx = kAllU4;
  I8 v = St10I8(st, lead, trail, &idx, report);
  return Signed<I2>(v, idx, st, pidx, report);
}
I4 St10I4(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  U4 idx = kAllU4;
  I8 v = St10I8(st, lead, trail, &idx, report);
  return Signed<I4>(v, idx, st, pidx, report);
}
I4 StSecondsI4(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  U4 idx = kAllU4;
  I8 v = StSecondsI8(st, lead, trail, &idx, report);
  return Signed<I4>(v, idx, st, pidx, report);
}
I4 StMinutesI4(const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
  U4 idx = kAllU4;
  I8 v = StMinutesI8(st, lead, trail, &idx, report);
  return Signed<I4>(v, idx, st, pidx, report);
}
I4 StTMC(const char* st, U1 lead, U1 trail, U4* pidx, bool report, U4* punit) {
  U4 idx = kAllU4;
  I8 v = StTMC8(st, lead, trail, &idx, report, punit);
  return Signed<I4>(v, idx, st, pidx, report);
}

U1 St16U1(const char* st, U1 lead, U1 trail, U4* pidx, bool report, char letter) {
  return Bits<U1>(St16U8, "Hex overflow (", st, lead, trail, pidx, report, letter);
}
U2 St16U2(const char* st, U1 lead, U1 trail, U4* pidx, bool report, char letter) {
  return Bits<U2>(St16U8, "Hex overflow (", st, lead, trail, pidx, report, letter);
}
U4 St16U4(const char* st, U1 lead, U1 trail, U4* pidx, bool report, char letter) {
  return Bits<U4>(St16U8, "Hex overflow (", st, lead, trail, pidx, report, letter);
}
U1 St8U1(const char* st, U1 lead, U1 trail, U4* pidx, bool report, char letter) {
  return Bits<U1>(St8U8, "Octal value (", st, lead, trail, pidx, report, letter);
}
U2 St8U2(const char* st, U1 lead, U1 trail, U4* pidx, bool report, char letter) {
  return Bits<U2>(St8U8, "Octal value (", st, lead, trail, pidx, report, letter);
}
U4 St8U4(const char* st, U1 lead, U1 trail, U4* pidx, bool report, char letter) {
  return Bits<U4>(St8U8, "Octal value (", st, lead, trail, pidx, report, letter);
}
U1 St2U1(const char* st, U1 lead, U1 trail, U4* pidx, bool report, char letter) {
  return Bits<U1>(St2U8, "Binary value (", st, lead, trail, pidx, report, letter);
}
U2 St2U2(const char* st, U1 lead, U1 trail, U4* pidx, bool report, char letter) {
  return Bits<U2>(St2U8, "Binary value (", st, lead, trail, pidx, report, letter);
}
U4 St2U4(const char* st, U1 lead, U1 trail, U4* pidx, bool report, char letter) {
  return Bits<U4>(St2U8, "Binary value (", st, lead, trail, pidx, report, letter);
}

namespace {
template <class R>
R GeneralU(const char* st, U1 lead, U1 trail, U4* pidx, bool report, bool tq, bool dt, U4* pkind) {
  U4 idx = kAllU4;
  U8 v = StU8(st, lead, trail, &idx, report, tq, dt, pkind);
  if (!ParsedOk(idx, pidx)) return 0;
  return CheckUnsigned<R>(v, st, pidx, report, "Integer value (");
}
template <class R>
R GeneralI(const char* st, U1 lead, U1 trail, U4* pidx, bool report, bool tq, bool dt, U4* pkind) {
  U4 idx = kAllU4;
  I8 v = StI8(st, lead, trail, &idx, report, tq, dt, pkind);
  return Signed<R>(v, idx, st, pidx, report);
}
} // namespace

U1 StU1(const char* st, U1 lead, U1 trail, U4* pidx, bool report, bool tq, bool dt, U4* pkind) {
  return GeneralU<U1>(st, lead, trail, pidx, report, tq, dt, pkind);
}
U2 StU2(const char* st, U1 lead, U1 trail, U4* pidx, bool report, bool tq, bool dt, U4* pkind) {
  return GeneralU<U2>(st, lead, trail, pidx, report, tq, dt, pkind);
}
U4 StU4(const char* st, U1 lead, U1 trail, U4* pidx, bool report, bool tq, bool dt, U4* pkind) {
  return GeneralU<U4>(st, lead, trail, pidx, report, tq, dt, pkind);
}
I1 StI1(const char* st, U1 lead, U1 trail, U4* pidx, bool report, bool tq, bool dt, U4* pkind) {
  return GeneralI<I1>(st, lead, trail, pidx, report, tq, dt, pkind);
}
I2 StI2(const char* st, U1 lead, U1 trail, U4* pidx, bool report, bool tq, bool dt, U4* pkind) {
  return GeneralI<I2>(st, lead, trail, pidx, report, tq, dt, pkind);
}
I4 StI4(const char* st, U1 lead, U1 trail, U4* pidx, bool report, bool tq, bool dt, U4* pkind) {
  return GeneralI<I4>(st, lead, trail, pidx, report, tq, dt, pkind);
}

float StF4(const char* st, U1 lead, U1 trail, U4* pidx, bool report, bool tq, bool dt, U4* pkind) {
  U4 idx = kAllU4;
  double v = StF8(st, lead, trail, &idx, report, tq, dt, pkind);
  if (!ParsedOk(idx, pidx)) return 0;
  if (std::fabs(v) <= FLT_MAX) return static_cast<float>(v);
  char bound[64];
  VSF_MyBf(v > 0 ? FLT_MAX : -FLT_MAX, "%g", true, bound, sizeof bound);
  RangeErr(st, pidx, report, "Float value (", v > 0 ? ") > max of " : ") < min of ", bound);
  return 0;
}

// ---- Boolean words ------------------------------------------------------------------------

namespace {
const char* const kTrueWords[] = {"1",       "TRUE",     "T",         "YES",    "Y",
                                  "ON",      "ACTIVATE", "ACTIVATED", "ACTIVE", "CHECKED",
                                  "DEFINED", "ENABLED",  "ENABLE",    "HIGH",   "SELECTED"};
const char* const kFalseWords[] = {
    "0",        "FALSE",     "F",         "NO",       "N",       "OFF", "DEACTIVATE", "DEACTIVATED",
    "INACTIVE", "UNCHECKED", "UNDEFINED", "DISABLED", "DISABLE", "LOW", "UNSELECTED"};

template <size_t N> bool InWords(const char* st, const char* const (&words)[N]) {
  if (!st || !*st) return false;
  for (const char* w : words)
    if (StMatch(st, w, 0, false)) return true;
  return false;
}
} // namespace

bool TrueWord(const char* st) {
  return InWords(st, kTrueWords);
}
bool FalseWord(const char* st) {
  return InWords(st, kFalseWords);
}

const char* BoolText(bool v, bool capital) {
  if (capital) return v ? "True" : "False";
  return v ? "true" : "false";
}
