#include "time/parsetime.h"

#include "errlog/errstack.h"
#include "time/calnames.h"

// Last: no 32-bit calendar time from here on.
#include "time/crt_time_guard.h"

namespace {
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsAlnum(char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

struct Scanner {
  const char* t;
  U4 n;

  char At(U4 i) const { return i < n ? t[i] : '\0'; }

  // Decimal digits from i: value, digit count, end.
  bool Num(U4 i, U4* val, U4* nd, U4* end) const {
    if (!IsDigit(At(i))) return false;
    U4 v = 0, k = i;
    while (k < n && IsDigit(t[k])) {
      if (v < 100000000u) v = v * 10 + U4(t[k] - '0');
      ++k;
    }
    *val = v;
    *nd = k - i;
    *end = k;
    return true;
  }

  U4 SkipNonAlnum(U4 i) const {
    while (i < n && !IsAlnum(t[i]))
      ++i;
    return i;
  }

  // "A", "P", "AM", "PM" not followed by a letter or digit: its length, 0 for none.
  U4 Suffix(U4 i, U2* ampm) const {
    const char c = Lower(At(i));
    if (c != 'a' && c != 'p') return 0;
    U4 len = Lower(At(i + 1)) == 'm' ? 2 : 1;
    if (IsAlnum(At(i + len))) return 0;
    *ampm = c == 'a' ? 1 : 2;
    return len;
  }

  // A suffix directly at i or after one blank; its start in *at.
  U4 SuffixNear(U4 i, U2* ampm, U4* at) const {
    if (U4 len = Suffix(i, ampm)) {
      *at = i;
      return len;
    }
    if (At(i) == ' ') {
      if (U4 len = Suffix(i + 1, ampm)) {
        *at = i + 1;
        return len;
      }
    }
    return 0;
  }

  bool Begins(U4 i, const char* word, U4 len) const {
    for (U4 k = 0; k < len; ++k)
      if (Lower(At(i + k)) != Lower(word[k])) return false;
    return !IsAlnum(At(i + len));
  }

  // One of names[1..count] (full form first, then the short one): its index, 0 for none.
  U4 Name(U4 i, const char* const* full, const char* const* shrt, U4 count, U4* end) const {
    for (U4 k = 1; k <= count; ++k) {
      U4 len = 0;
      while (full[k][len])
        ++len;
      if (Begins(i, full[k], len)) {
        *end = i + len;
        return k;
      }
      if (Begins(i, shrt[k], 3)) {
        *end = i + 3;
        return k;
      }
    }
    return 0;
  }
};

bool Set(const TPComp& c) {
  return c.val != kTPNotFound;
}
void Put(TPComp* c, U4 val, U4 start, U4 end) {
  if (Set(*c)) return;
  c->val = U2(val);
  c->start = start;
  c->end = end;
}
bool IsYear4(U4 v, U4 nd) {
  return nd == 4 && v >= 1900 && v <= 2099;
}
bool IsMon(U4 v, U4 nd) {
  return nd <= 2 && v >= 1 && v <= 12;
}
bool IsDay(U4 v, U4 nd) {
  return nd <= 2 && v >= 1 && v <= 31;
}
U4 To24(U4 hour, U2 ampm) {
  if (ampm == 1) return hour == 12 ? 0 : hour;
  return hour < 12 ? hour + 12 : hour;
}
} // namespace

bool ParseTime(TPDAT* tp, const char* tms, U4 len) {
  if (!tp) {
    SeMErrMult("ParseTime", ":tpdat=null", nullptr);
    return false;
  }
  TPComp* all[] = {&tp->year, &tp->mon, &tp->mday, &tp->wday, &tp->hour,
                   &tp->min,  &tp->sec, &tp->msec, &tp->ampm};
  for (TPComp* c : all)
    *c = TPComp{kTPNotFound, kAllU4, kAllU4};
  if (ErrSet) return false;
  if (!tms) {
    SeMErrMult("ParseTime", ":tms=null", nullptr);
    return false;
  }
  if (!*tms) {
    SeMErrMult("ParseTime", ":tms=empty", nullptr);
    return false;
  }
  U4 n = 0;
  while ((len == kAllU4 || n < len) && tms[n])
    ++n;
  const Scanner s{tms, n};

  U4 i = 0;
  while (i < n) {
    if (!IsAlnum(s.t[i])) {
      ++i;
      continue;
    }
    const U4 run = i;
    U4 val = 0, nd = 0, e = 0;
    if (!IsDigit(s.t[i])) {
      U4 name_end = 0;
      U4 k = 0;
      if (!Set(tp->mon) && (k = s.Name(i, kMonthNames, kMonthShortNames, 12, &name_end))) {
        Put(&tp->mon, k, i, name_end);
        U4 j = s.SkipNonAlnum(name_end);
        if (s.Num(j, &val, &nd, &e)) {
          U2 ampm = 0;
          U4 at = 0;
          const bool hour_like = (val < 24 && s.At(e) == ':') ||
                                 (val >= 1 && val <= 12 && s.SuffixNear(e, &ampm, &at));
          if (IsDay(val, nd) && !hour_like && !Set(tp->mday)) {
            Put(&tp->mday, val, j, e);
            U4 y = 0, ynd = 0, ye = 0;
            if (!Set(tp->year) && s.Num(s.SkipNonAlnum(e), &y, &ynd, &ye) && IsYear4(y, ynd))
              Put(&tp->year, y, ye - ynd, ye);
          } else if (IsYear4(val, nd)) {
            Put(&tp->year, val, j, e);
          }
        }
        i = name_end;
      } else if (!Set(tp->wday) && (k = s.Name(i, kDayNames, kDayShortNames, 7, &name_end))) {
        Put(&tp->wday, k, i, name_end);
        i = name_end;
      } else {
        while (i < n && IsAlnum(s.t[i]))
          ++i;
      }
      continue;
    }

    s.Num(i, &val, &nd, &e);
    U2 ampm = 0;
    U4 at = 0, sl = 0;
    // Hour with an AM/PM suffix: "11 PM", "9a".
    if (nd <= 2 && val >= 1 && val <= 12 && !Set(tp->hour) && (sl = s.SuffixNear(e, &ampm, &at))) {
      Put(&tp->hour, To24(val, ampm), run, e);
      Put(&tp->ampm, ampm, at, at + sl);
      i = at + sl;
      continue;
    }
    // Dates with "/" or "-".
    const char sep = s.At(e);
    U4 v2 = 0, nd2 = 0, e2 = 0;
    if (!Set(tp->mon) && !Set(tp->mday) && (sep == '/' || sep == '-') &&
        s.Num(e + 1, &v2, &nd2, &e2)) {
      U4 v3 = 0, nd3 = 0, e3 = 0;
      if (s.At(e2) == sep && s.Num(e2 + 1, &v3, &nd3, &e3)) {
        if (!Set(tp->year)) {
          if (IsMon(val, nd) && IsDay(v2, nd2) && (IsYear4(v3, nd3) || nd3 == 2)) {
            Put(&tp->mon, val, run, e);
            Put(&tp->mday, v2, e + 1, e2);
            Put(&tp->year, nd3 == 2 ? 2000 + v3 : v3, e2 + 1, e3);
          } else if (IsYear4(val, nd) && IsMon(v2, nd2) && IsDay(v3, nd3)) {
            Put(&tp->year, val, run, e);
            Put(&tp->mon, v2, e + 1, e2);
            Put(&tp->mday, v3, e2 + 1, e3);
          }
        }
        i = e3;
        continue;
      }
      if (IsMon(val, nd) && IsDay(v2, nd2)) {
        Put(&tp->mon, val, run, e);
        Put(&tp->mday, v2, e + 1, e2);
        U4 y = 0, ynd = 0, ye = 0;
        if (!Set(tp->year) && s.Num(s.SkipNonAlnum(e2), &y, &ynd, &ye) && IsYear4(y, ynd))
          Put(&tp->year, y, ye - ynd, ye);
      }
      i = e2;
      continue;
    }
    // Day before a month name: "31 Dec".
    U4 name_end = 0, k = 0;
    if (IsDay(val, nd) && !Set(tp->mon) && !Set(tp->mday) && e < n && !IsAlnum(s.At(e)) &&
        (k = s.Name(e + 1, kMonthNames, kMonthShortNames, 12, &name_end))) {
      Put(&tp->mday, val, run, e);
      Put(&tp->mon, k, e + 1, name_end);
      // "31 December 2022": the year after the month name, as the month-first form has it.
      U4 y = 0, ynd = 0, ye = 0;
      if (!Set(tp->year) && s.Num(s.SkipNonAlnum(name_end), &y, &ynd, &ye) && IsYear4(y, ynd))
        Put(&tp->year, y, ye - ynd, ye);
      i = name_end;
      continue;
    }
    // Time: h:mm[:ss[:mmm]] with an optional suffix.
    if (nd <= 2 && sep == ':' && !Set(tp->hour)) {
      U4 mv = 0, mnd = 0, me = 0, sv = 0, snd = 0, se = 0, msv = 0, msnd = 0, mse = 0;
      bool ok = s.Num(e + 1, &mv, &mnd, &me) && mnd == 2 && mv <= 59;
      bool has_sec = false, has_ms = false;
      if (ok && s.At(me) == ':') {
        ok = s.Num(me + 1, &sv, &snd, &se) && snd == 2 && sv <= 59;
        has_sec = ok;
        if (ok && s.At(se) == ':') {
          ok = s.Num(se + 1, &msv, &msnd, &mse) && msnd == 3;
          has_ms = ok;
        }
      }
      const U4 last = has_ms ? mse : has_sec ? se : me;
      if (ok) {
        sl = s.SuffixNear(last, &ampm, &at);
        ok = sl ? (val >= 1 && val <= 12) : val <= 23;
      }
      if (ok) {
        Put(&tp->hour, sl ? To24(val, ampm) : val, run, e);
        Put(&tp->min, mv, e + 1, me);
        if (has_sec) Put(&tp->sec, sv, me + 1, se);
        if (has_ms) Put(&tp->msec, msv, se + 1, mse);
        if (sl) Put(&tp->ampm, ampm, at, at + sl);
        i = sl ? at + sl : last;
        continue;
      }
      while (i < n && (IsDigit(s.t[i]) || s.t[i] == ':'))
        ++i;
      continue;
    }
    i = e;
  }

  // "2022 Dec 31": a year in front of the date.
  if (!Set(tp->year) && Set(tp->mon)) {
    U4 first = tp->mon.start;
    if (Set(tp->mday) && tp->mday.start < first) first = tp->mday.start;
    if (Set(tp->wday) && tp->wday.start < first) first = tp->wday.start;
    U4 j = first;
    while (j > 0 && !IsAlnum(s.t[j - 1]))
      --j;
    U4 k = j;
    while (k > 0 && IsDigit(s.t[k - 1]))
      --k;
    U4 v = 0, vnd = 0, ve = 0;
    if (k < j && (k == 0 || !IsAlnum(s.t[k - 1])) && s.Num(k, &v, &vnd, &ve) && IsYear4(v, vnd))
      Put(&tp->year, v, k, ve);
  }
  return Set(tp->year) || Set(tp->mon) || Set(tp->mday) || Set(tp->wday) || Set(tp->hour);
}
