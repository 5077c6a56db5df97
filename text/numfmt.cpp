// Numbers and texts formatted into caller buffers. Every writer stays inside the size it is
// given (nothing at all for size 0) and cuts an over-long result with "...".
#include "text/numfmt.h"

#include "errlog/errstack.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Copies len characters of text; a result cut at the buffer, or one that is already
// incomplete, ends in "...".
char* PutCut(char* bf, U4 bfsz, const char* text, size_t len, bool incomplete = false) {
  if (!bf || bfsz == 0) return bf;
  size_t room = bfsz - 1;
  bool cut = incomplete || len > room;
  size_t n = len < room ? len : room;
  std::memmove(bf, text, n);
  bf[n] = 0;
  if (cut && n >= 3) std::memcpy(bf + n - 3, "...", 3);
  return bf;
}

#if defined(_WIN32)
#define TAP_PRINTF_FMT gnu_printf // the MinGW stdio, which takes the C99 conversions
#else
#define TAP_PRINTF_FMT printf
#endif

__attribute__((format(TAP_PRINTF_FMT, 3, 4))) char* FmtCut(char* bf, U4 bfsz, const char* fmt,
                                                           ...) {
  char tmp[1024];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(tmp, sizeof tmp, fmt, ap);
  va_end(ap);
  if (n < 0) return PutCut(bf, bfsz, "", 0);
  bool incomplete = static_cast<size_t>(n) >= sizeof tmp;
  return PutCut(bf, bfsz, tmp, incomplete ? sizeof tmp - 1 : static_cast<size_t>(n), incomplete);
}

// Plain decimal digits of v, written backwards from end; returns the first character.
char* Digits(U8 v, char* end) {
  *--end = 0;
  do {
    *--end = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  return end;
}

// Magnitude of a signed value without overflow at the most negative one.
inline U8 Magnitude(I8 v) {
  return v < 0 ? 0 - static_cast<U8>(v) : static_cast<U8>(v);
}

// Thousands groups, each passed to "%d" as an int.
void Commas(U8 mag, bool neg, char* out, size_t outsz) {
  int groups[7];
  int n = 0;
  do {
    groups[n++] = static_cast<int>(mag % 1000);
    mag /= 1000;
  } while (mag && n < 7);
  size_t o = 0;
  if (neg) out[o++] = '-';
  int w = std::snprintf(out + o, outsz - o, "%d", groups[n - 1]);
  o += static_cast<size_t>(w);
  for (int i = n - 2; i >= 0; --i) {
    w = std::snprintf(out + o, outsz - o, ",%03d", groups[i]);
    o += static_cast<size_t>(w);
  }
}

char* Decimal(U8 mag, bool neg, const char* fmt, bool commas, char* bf, U4 bfsz) {
  if (commas) {
    char tmp[64];
    Commas(mag, neg, tmp, sizeof tmp);
    if (fmt) return FmtCut(bf, bfsz, fmt, tmp);
    return PutCut(bf, bfsz, tmp, std::strlen(tmp));
  }
  char tmp[32];
  char* p = Digits(mag, tmp + sizeof tmp);
  if (neg) *--p = '-';
  return PutCut(bf, bfsz, p, std::strlen(p));
}

} // namespace

char* VS10_MyBf(U8 v, const char* fmt, bool commas, char* bf, U4 bfsz) {
  if (!commas && fmt && std::strcmp(fmt, "%llu") != 0)
    return FmtCut(bf, bfsz, fmt, static_cast<unsigned long long>(v));
  return Decimal(v, false, fmt, commas, bf, bfsz);
}

char* VS10_MyBf(I8 v, const char* fmt, bool commas, char* bf, U4 bfsz) {
  if (!commas && fmt && std::strcmp(fmt, "%lld") != 0)
    return FmtCut(bf, bfsz, fmt, static_cast<long long>(v));
  return Decimal(Magnitude(v), v < 0, fmt, commas, bf, bfsz);
}

VS10_U8::VS10_U8(U8 v, const char* fmt, bool commas) {
  bf[0] = 0;
  VS10_MyBf(v, fmt, commas, bf, sizeof bf);
}

VS10_I8::VS10_I8(I8 v, const char* fmt, bool commas) {
  bf[0] = 0;
  VS10_MyBf(v, fmt, commas, bf, sizeof bf);
}

char* VS16_MyBf(U8 v, const char* prefix, const char* fmt, char* bf, U4 bfsz) {
  if (!prefix) prefix = "";
  if (!fmt) return FmtCut(bf, bfsz, "%s%s", prefix, HexDigits(v, 1, true).bf); // "%llX"
  char num[512];
  std::snprintf(num, sizeof num, fmt, static_cast<unsigned long long>(v));
  return FmtCut(bf, bfsz, "%s%s", prefix, num);
}

char* VS8_MyBf(U8 v, const char* prefix, const char* fmt, char* bf, U4 bfsz) {
  char num[512];
  std::snprintf(num, sizeof num, fmt ? fmt : "%llo", static_cast<unsigned long long>(v));
  return FmtCut(bf, bfsz, "%s%s", prefix ? prefix : "", num);
}

char* VS10CS16X_MyBf(U8 v, char* bf, U4 bfsz) {
  char dec[64];
  Commas(v, false, dec, sizeof dec);
  return FmtCut(bf, bfsz, "%s/%llX", dec, static_cast<unsigned long long>(v));
}

namespace {
// Drops the zeros that end the fraction (never those of an exponent), keeping one digit.
void TrimFractionZeros(char* s) {
  char* dot = std::strchr(s, '.');
  if (!dot || dot[1] < '0' || dot[1] > '9') return;
  char* end = dot + 1;
  while (*end >= '0' && *end <= '9')
    ++end;
  char* keep = end;
  while (keep > dot + 2 && keep[-1] == '0')
    --keep;
  if (keep != end) std::memmove(keep, end, std::strlen(end) + 1);
}
} // namespace

char* VSF_MyBf(double v, const char* fmt, bool keep_zeros, char* bf, U4 bfsz) {
  char tmp[512];
  int n = std::snprintf(tmp, sizeof tmp, fmt ? fmt : "%lf", v);
  if (n < 0) return PutCut(bf, bfsz, "", 0);
  bool incomplete = static_cast<size_t>(n) >= sizeof tmp;
  if (!keep_zeros && !incomplete) TrimFractionZeros(tmp);
  return PutCut(bf, bfsz, tmp, std::strlen(tmp), incomplete);
}

char* VSFN_MyBf(double v, U4 decimals, bool keep_zeros, char* bf, U4 bfsz) {
  char fmt[32];
  std::snprintf(fmt, sizeof fmt, "%%.%dlf", static_cast<int>(decimals > 300 ? 300 : decimals));
  return VSF_MyBf(v, fmt, keep_zeros, bf, bfsz);
}

char* SecondsS_MyBf(I8 secs, char* bf, U4 bfsz) {
  U8 m = Magnitude(secs);
  const char* sign = secs < 0 ? "-" : "";
  unsigned long long h = m / 3600, mi = m / 60 % 60, s = m % 60;
  if (h) return FmtCut(bf, bfsz, "%s%llu:%02llu:%02llu", sign, h, mi, s);
  return FmtCut(bf, bfsz, "%s%llu:%02llu", sign, mi, s);
}

char* MinutesS_MyBf(I8 mins, char* bf, U4 bfsz) {
  U8 m = Magnitude(mins);
  return FmtCut(bf, bfsz, "%s%llu:%02llu", mins < 0 ? "-" : "",
                static_cast<unsigned long long>(m / 60), static_cast<unsigned long long>(m % 60));
}

char* MsecsS_MyBf(I8 msecs, char* bf, U4 bfsz) {
  U8 m = Magnitude(msecs);
  const char* sign = msecs < 0 ? "-" : "";
  unsigned long long ms = m % 1000, t = m / 1000;
  unsigned long long h = t / 3600, mi = t / 60 % 60, s = t % 60;
  if (h) return FmtCut(bf, bfsz, "%s%llu:%02llu:%02llu:%03llu", sign, h, mi, s, ms);
  return FmtCut(bf, bfsz, "%s%llu:%02llu:%03llu", sign, mi, s, ms);
}

namespace {
struct SingleChars {
  char s[256][2];
  constexpr SingleChars() : s{} {
    for (int i = 0; i < 256; ++i) {
      s[i][0] = static_cast<char>(i);
      s[i][1] = 0;
    }
  }
};
constexpr SingleChars kSingles;

const char* const kControlNames[32] = {
    "<NUL>", "<SOH>", "<STX>", "<ETX>", "<EOT>", "<ENQ>", "<ACK>", "<BELL>",
    "<BS>",  "\t",    "<LF>",  "<VT>",  "<FF>",  "<CR>",  "<SO>",  "<SI>",
    "<DLE>", "<DC1>", "<DC2>", "<DC3>", "<DC4>", "<NAK>", "<SYN>", "<ETB>",
    "<CAN>", "<EM>",  "<SUB>", "<ESC>", "<FS>",  "<GS>",  "<RS>",  "<US>"};
} // namespace

const char* CharDisplayName(U1 c) {
  if (c < 32) return kControlNames[c];
  if (c == 255) return "<?>";
  return kSingles.s[c];
}

char* PrintableText_MyBf(const char* st, U4 len, U4 max, char* bf, U4 bfsz) {
  static char unknown[] = "??";
  if (!bf) return unknown;
  if (bfsz == 0) return bf;
  if (ErrSet) return PutCut(bf, bfsz, "??", 2);
  if (!st) return PutCut(bf, bfsz, "(NULL)", 6);
  U4 limit = max < bfsz - 1 ? max : bfsz - 1;
  U4 n = len;
  if (len == kAllU4) {
    const void* z = std::memchr(st, 0, limit + 1ull);
    n = z ? static_cast<U4>(static_cast<const char*>(z) - st) : limit + 1;
  }
  U4 out = 0;
  bool cut = false;
  for (U4 i = 0; i < n && !cut; ++i) {
    U1 c = static_cast<U1>(st[i]);
    if (c == '\t') {
      U4 spaces = 9 - out % 9;
      for (U4 k = 0; k < spaces; ++k) {
        if (out >= limit) {
          cut = true;
          break;
        }
        bf[out++] = ' ';
      }
      continue;
    }
    for (const char* name = CharDisplayName(c); *name; ++name) {
      if (out >= limit) {
        cut = true;
        break;
      }
      bf[out++] = *name;
    }
  }
  bf[out] = 0;
  if (cut && out >= 3) std::memcpy(bf + out - 3, "...", 3);
  return bf;
}

namespace {
#if defined(_WIN32)
constexpr bool kUtf8Names = false; // file names are in the Windows code page
#else
constexpr bool kUtf8Names = true;
#endif

inline bool Utf8Continuation(U1 c) {
  return (c & 0xC0) == 0x80;
}
} // namespace

char* TextFN_MyBf(const char* st, char space_ch, char* bf, U4 bfsz) {
  if (!bf || bfsz == 0) return bf;
  if (!st) return PutCut(bf, bfsz, "", 0);
  const U1* s = reinterpret_cast<const U1*>(st);
  U4 room = bfsz - 1, o = 0;
  bool cut = false;
  for (U4 i = 0; s[i];) {
    U1 c = s[i];
    U4 take = 1;
    char out = static_cast<char>(c);
    if (c == ' ') {
      if (space_ch) out = space_ch;
    } else if (c == '`') {
      out = '\'';
    } else if (c < 32 || c == 127 || std::strchr("*?$|:\"/\\><", c)) {
      out = '_';
    } else if (c >= 128) {
      if (!kUtf8Names) {
        if (c == 180) out = '\'';
        if (c == 150) out = '-';
      } else if (c == 0xC2 && s[i + 1] == 0xB4) { // U+00B4 acute accent
        out = '\'';
        take = 2;
      } else if (c == 0xE2 && s[i + 1] == 0x80 && s[i + 2] == 0x93) { // U+2013 en dash
        out = '-';
        take = 3;
      } else {
        // Copy a whole multi-byte character or nothing of it.
        U4 n = 1;
        while (n < 4 && Utf8Continuation(s[i + n]))
          ++n;
        if (o + n > room) {
          cut = true;
          break;
        }
        std::memcpy(bf + o, s + i, n);
        o += n;
        i += n;
        continue;
      }
    }
    if (o >= room) {
      cut = true;
      break;
    }
    bf[o++] = out;
    i += take;
  }
  if (cut && o >= 3) {
    o -= 3;
    if (kUtf8Names)
      while (o > 0 && Utf8Continuation(static_cast<U1>(bf[o])))
        --o;
    std::memcpy(bf + o, "...", 3);
    o += 3;
  }
  bf[o] = 0;
  return bf;
}

NumDigits HexDigits(U8 v, U4 min_digits, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char tmp[16];
  U4 n = 0;
  do {
    tmp[n++] = digits[v & 15];
    v >>= 4;
  } while (v);
  NumDigits out;
  U4 o = 0;
  for (U4 pad = min_digits < 16 ? min_digits : 16; pad > n; --pad)
    out.bf[o++] = '0';
  while (n)
    out.bf[o++] = tmp[--n];
  out.bf[o] = '\0';
  return out;
}

NumDigits DecDigits(I8 v, U4 width) {
  char tmp[24];
  char* first = Digits(Magnitude(v), tmp + sizeof tmp);
  if (v < 0) *--first = '-';
  const U4 n = static_cast<U4>(tmp + sizeof tmp - 1 - first);
  NumDigits out;
  U4 o = 0;
  for (U4 pad = width < 23 ? width : 23; pad > n; --pad)
    out.bf[o++] = ' ';
  std::memcpy(out.bf + o, first, n + 1);
  return out;
}
