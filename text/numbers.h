// Number parsing from text, with control over what may stand around the number.
//
// Shared arguments of every parser:
//   lead  0: only blanks and a sign before the number; 1: also any non-letter, skipped;
//         2+: anything, whole words included.
//   trail 0: only blanks after it; 1: anything that is not a letter or digit; 2+: anything.
//   pidx  (may be null) kAllU4 on success; else the index of the offending character
//         (0 for a null text, a text without a number or a range error).
//   report  push a message onto the error stack on failure.
// Every failure returns 0; nothing is done while an error is pending.
// Formatting (numbers to text) is in text/numfmt.h, included here for convenience.
#pragma once
#include "base/types.h"
#include "text/numfmt.h"

// Character tables indexed by byte value.
extern const U1 digit_value[256]; // '0'..'9' -> 0..9, letters -> 10..35, else 255
bool IsLetterChar(U1 c);          // A-Z a-z
bool IsWordChar(U1 c);            // 0-9 A-Z a-z

// 64-bit parsers.
I8 St10I8(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true);
U8 St10U8(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true);
// `letter` (0: none) must directly precede the digits, in either case, and is consumed.
U8 St16U8(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
          char letter = 0);
U8 St8U8(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
         char letter = 0);
U8 St2U8(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
         char letter = 0);
double StFF8(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true);
// N, N:SS or N:SS:SS seconds.
I8 StSecondsI8(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true);
// N or N:MM minutes.
I8 StMinutesI8(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true);
// N, N:SS or N:MM:SS; *punit receives 10, 60 or 3600 by the number of colons.
I8 StTMC8(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
          U4* punit = nullptr);

// General parsers: a leading B/X selects binary/hexadecimal; with `allow_tq` a text holding
// ':' is a time quantity; with `allow_dt` a date and time gives seconds since 2000 (packed);
// otherwise decimal. *pkind receives 2, 16, 10, 60, 3600 or 365.
U8 StU8(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
        bool allow_tq = false, bool allow_dt = false, U4* pkind = nullptr);
I8 StI8(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
        bool allow_tq = false, bool allow_dt = false, U4* pkind = nullptr);
double StF8(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
            bool allow_tq = false, bool allow_dt = false, U4* pkind = nullptr);

// Range wrappers: the 64-bit parser, then a check of the target width.
U1 St10U1(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true);
U2 St10U2(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true);
U4 St10U4(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true);
I1 St10I1(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true);
I2 St10I2(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true);
I4 St10I4(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true);
I4 StSecondsI4(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true);
I4 StMinutesI4(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true);
I4 StTMC(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
         U4* punit = nullptr);

U1 St16U1(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
          char letter = 0);
U2 St16U2(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
          char letter = 0);
U4 St16U4(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
          char letter = 0);
U1 St8U1(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
         char letter = 0);
U2 St8U2(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
         char letter = 0);
U4 St8U4(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
         char letter = 0);
U1 St2U1(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
         char letter = 0);
U2 St2U2(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
         char letter = 0);
U4 St2U4(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
         char letter = 0);
U1 StU1(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
        bool allow_tq = false, bool allow_dt = false, U4* pkind = nullptr);
U2 StU2(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
        bool allow_tq = false, bool allow_dt = false, U4* pkind = nullptr);
U4 StU4(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
        bool allow_tq = false, bool allow_dt = false, U4* pkind = nullptr);
I1 StI1(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
        bool allow_tq = false, bool allow_dt = false, U4* pkind = nullptr);
I2 StI2(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
        bool allow_tq = false, bool allow_dt = false, U4* pkind = nullptr);
I4 StI4(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
        bool allow_tq = false, bool allow_dt = false, U4* pkind = nullptr);
float StF4(const char* st, U1 lead = 0, U1 trail = 0, U4* pidx = nullptr, bool report = true,
           bool allow_tq = false, bool allow_dt = false, U4* pkind = nullptr);

// Boolean words, compared whole and case-blind ("1", "TRUE", "YES", "ON", ... / "0", "FALSE",
// "NO", "OFF", ...). A null or empty text is neither.
bool TrueWord(const char* st);
bool FalseWord(const char* st);
// "True"/"False", or "true"/"false" with `capital` off.
const char* BoolText(bool v, bool capital = true);
