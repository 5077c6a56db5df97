#include "time/utm.h"

#include "errlog/errstack.h"
#include "platform/timeofday.h"
#include "text/numbers.h"
#include "text/strbuild.h"
#include "time/clock.h"
#include "time/parsetime.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Last: no 32-bit calendar time from here on.
#include "time/crt_time_guard.h"

UTM cur_utm{};

namespace {
constexpr U1 kMonthDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

UTM* Rec(UTM* utm) {
  return utm ? utm : &cur_utm;
}

bool FromTm(UTM* utm, const std::tm& tm) {
  utm->year = U2(tm.tm_year + 1900);
  utm->mon = U1(tm.tm_mon + 1);
  utm->mday = U1(tm.tm_mday);
  utm->wday = U1(tm.tm_wday + 1);
  utm->hour = U1(tm.tm_hour);
  utm->min = U1(tm.tm_min);
  utm->sec = U1(tm.tm_sec > 59 ? 59 : tm.tm_sec); // a leap second reads as :59
  utm->msec = 0;
  return true;
}

// The calendar fields only; timet stays as it is.
void FromPlatformTime(UTM* utm, const PlatformTime& pt) {
  utm->year = pt.year;
  utm->mon = pt.mon;
  utm->mday = pt.mday;
  utm->wday = U1(pt.wday + 1);
  utm->hour = pt.hour;
  utm->min = pt.min;
  utm->sec = pt.sec;
  utm->msec = pt.msec;
}

bool BrokenDown(I8 t, bool utc, std::tm* out) {
  return PlatformSecsToTm(t, utc, out);
}

// The msec of "now" when the platform's clock agrees on the second, else 999.
U2 MsecAgreeing(U1 sec) {
  PlatformTime pt{};
  if (PlatformLocalTime(&pt) && pt.sec == sec) return pt.msec;
  return 999;
}

void DayForward(UTM* u) {
  u->wday = u->wday >= 7 ? 1 : U1(u->wday + 1);
  if (++u->mday > DaysInMonth(u->mon, u->year)) {
    u->mday = 1;
    if (++u->mon > 12) {
      u->mon = 1;
      ++u->year;
    }
  }
}

void DayBackward(UTM* u) {
  u->wday = u->wday <= 1 ? 7 : U1(u->wday - 1);
  if (u->mday <= 1) {
    if (u->mon <= 1) {
      u->mon = 12;
      --u->year;
    } else {
      --u->mon;
    }
    u->mday = DaysInMonth(u->mon, u->year);
  } else {
    --u->mday;
  }
}

// Adds n (0 <= n < limit) to a field counting 0..limit-1; true when it carried.
bool StepUp(U1* field, U4 n, U4 limit) {
  U4 v = U4(*field) + n;
  const bool carry = v >= limit;
  *field = U1(carry ? v - limit : v);
  return carry;
}
bool StepDown(U1* field, U4 n, U4 limit) {
  const bool borrow = U4(*field) < n;
  *field = U1(borrow ? U4(*field) + limit - n : U4(*field) - n);
  return borrow;
}

void SecondForward(UTM* u);
void MinuteForward(UTM* u) {
  if (StepUp(&u->min, 1, 60) && StepUp(&u->hour, 1, 24)) DayForward(u);
}
void SecondForward(UTM* u) {
  if (StepUp(&u->sec, 1, 60)) MinuteForward(u);
}
void MinuteBackward(UTM* u) {
  if (StepDown(&u->min, 1, 60) && StepDown(&u->hour, 1, 24)) DayBackward(u);
}
void SecondBackward(UTM* u) {
  if (StepDown(&u->sec, 1, 60)) MinuteBackward(u);
}

U4 NthSunday(U2 year, U1 mon, U4 nth) {
  const U1 first_dow = DayOfWeek(year, mon, 1);
  if (first_dow == 0xFF) return 0;
  return 1 + (8 - first_dow) % 7 + 7 * (nth - 1);
}
U4 LastSunday(U2 year, U1 mon) {
  U4 d = NthSunday(year, mon, 1);
  while (d + 7 <= DaysInMonth(mon, year))
    d += 7;
  return d;
}

bool EqualNoCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return *a == *b;
}
} // namespace

bool ClearUTM(UTM* utm) {
  if (!utm) {
    SeMErrMult("ClearUTM", ":utmp=null", nullptr);
    return false;
  }
  *utm = UTM{};
  return true;
}

bool UTMIsEmpty(const UTM* utm) {
  if (!utm) {
    SeMErrMult("UTMIsEmpty", ":utmp=null", nullptr);
    return true;
  }
  return utm->timet == 0 && utm->year == 0 && utm->mon == 0 && utm->mday == 0 && utm->wday == 0 &&
         utm->hour == 0 && utm->min == 0 && utm->sec == 0 && utm->msec == 0;
}

UTM* ClockToUTM(UTM* utm) {
  TIME_TToUTM(&cur_utm, PlatformCalendarSecs(), false);
  cur_utm.msec = MsecAgreeing(cur_utm.sec);
  if (utm) *utm = cur_utm;
  return Rec(utm);
}

UTM* UTCToUTM(UTM* utm) {
  PlatformTime pt{};
  if (PlatformUTCTime(&pt)) {
    FromPlatformTime(&cur_utm, pt);
  }
  if (utm) *utm = cur_utm;
  return Rec(utm);
}

U2 ClockYear() {
  return ClockToUTM()->year;
}
U1 ClockHour() {
  return ClockToUTM()->hour;
}
U1 ClockMinute() {
  return ClockToUTM()->min;
}
U1 ClockSecond() {
  return ClockToUTM()->sec;
}

bool TIME_TToUTM(UTM* utm, I8 t, bool utc) {
  utm = Rec(utm);
  std::tm tm{};
  if (t == kTimeTUndefined || !BrokenDown(t, utc, &tm)) {
    *utm = UTM{};
    return false;
  }
  utm->timet = t;
  return FromTm(utm, tm);
}

I8 UTMToTIME_T(const UTM* utm) {
  if (!utm || ErrSet) return 0;
  std::tm tm{};
  tm.tm_year = int(utm->year) - 1900;
  tm.tm_mon = int(utm->mon) - 1;
  tm.tm_mday = utm->mday;
  tm.tm_hour = utm->hour;
  tm.tm_min = utm->min;
  tm.tm_sec = utm->sec;
  // The daylight-saving rule settles the hour that occurs twice in autumn; where the
  // rule does not describe the local zone (a reading that does not convert back to the
  // same clock time) the runtime's own judgement stands.
  std::tm ruled = tm;
  ruled.tm_isdst = DaylightSavingsActive(nullptr, utm) ? 1 : 0;
  tm.tm_isdst = -1;
  I8 t = -1;
  int err = 0;
  const bool converted = PlatformTmToSecs(&tm, &t, &err);
  I8 t_ruled = -1;
  std::tm back{};
  if (PlatformTmToSecs(&ruled, &t_ruled, nullptr) && t_ruled >= 0 &&
      BrokenDown(t_ruled, false, &back) && back.tm_hour == utm->hour && back.tm_min == utm->min &&
      back.tm_mday == utm->mday)
    t = t_ruled;
  if (!converted || t < 0) {
    SeMErrno("UTMToTIME_T", ":mktime", err ? err : EINVAL);
    return 0;
  }
  return t;
}

bool FiletimeToUTM(UTM* utm, U8 ft) {
  utm = Rec(utm);
  *utm = UTM{};
  if (ErrSet) return false;
  PlatformTime local{};
  const char* failed_call = nullptr;
  U4 err = 0;
  if (!PlatformFiletimeToLocal(ft, &local, &failed_call, &err)) {
    SeMLastErr(failed_call, nullptr, err);
    return false;
  }
  FromPlatformTime(utm, local);
  return true;
}

bool UTMToClock(const UTM* utm) {
  if (ErrSet) return false;
  if (!utm) utm = &cur_utm;
  PlatformTime pt{};
  PlatformLocalTime(&pt);
  pt.year = utm->year;
  pt.mon = utm->mon;
  pt.mday = utm->mday;
  pt.hour = utm->hour;
  pt.min = utm->min;
  pt.sec = utm->sec;
  pt.msec = utm->msec;
  U4 err = 0;
  if (!PlatformSetLocalTime(pt, &err)) {
    SeMLastErr("SetLocalTime", nullptr, err);
    return false;
  }
  return true;
}

bool UTMAddMsecs(UTM* utm, I8 ms) {
  utm = Rec(utm);
  if (ms == 0) return true;
  if (utm->timet != kTimeTUndefined) {
    // Whole seconds as the calendar fields will show them: 59.999 + 1 ms is the next second.
    const I8 total = (utm->msec < 1000 ? I8(utm->msec) : 0) + ms;
    utm->timet += total >= 0 ? total / 1000 : -((999 - total) / 1000);
  }
  if (ms > 0) {
    U8 rest = U8(ms);
    for (U8 days = rest / kMsecsPerDay; days > 0; --days)
      DayForward(utm);
    rest %= kMsecsPerDay;
    if (StepUp(&utm->hour, U4(rest / kMsecsPerHour), 24)) DayForward(utm);
    rest %= kMsecsPerHour;
    if (StepUp(&utm->min, U4(rest / kMsecsPerMin), 60) && StepUp(&utm->hour, 1, 24))
      DayForward(utm);
    rest %= kMsecsPerMin;
    if (StepUp(&utm->sec, U4(rest / kMsecsPerSec), 60)) MinuteForward(utm);
    rest %= kMsecsPerSec;
    const U4 sum = U4(utm->msec) + U4(rest);
    if (sum < 1000) {
      utm->msec = U2(sum);
    } else {
      utm->msec = U2(sum - 1000);
      SecondForward(utm);
    }
  } else {
    U8 rest = U8(-(ms + 1)) + 1; // no overflow for the most negative count
    for (U8 days = rest / kMsecsPerDay; days > 0; --days)
      DayBackward(utm);
    rest %= kMsecsPerDay;
    if (StepDown(&utm->hour, U4(rest / kMsecsPerHour), 24)) DayBackward(utm);
    rest %= kMsecsPerHour;
    if (StepDown(&utm->min, U4(rest / kMsecsPerMin), 60) && StepDown(&utm->hour, 1, 24))
      DayBackward(utm);
    rest %= kMsecsPerMin;
    if (StepDown(&utm->sec, U4(rest / kMsecsPerSec), 60)) MinuteBackward(utm);
    rest %= kMsecsPerSec;
    if (utm->msec >= rest) {
      utm->msec = U2(utm->msec - rest);
    } else {
      utm->msec = U2(utm->msec + 1000 - rest);
      SecondBackward(utm);
    }
  }
  return true;
}

U8 UTMKey(const UTM* utm) {
  if (!utm) return 0;
  U8 key = 0;
  if (utm->year != kUnsetU2) key |= U8(utm->year) << 48;
  if (utm->mon != kUnsetU1) key |= U8(utm->mon) << 40;
  if (utm->mday != kUnsetU1) key |= U8(utm->mday) << 32;
  U4 low = 0;
  if (utm->hour != kUnsetU1) low += U4(utm->hour) * kMsecsPerHour;
  if (utm->min != kUnsetU1) low += U4(utm->min) * kMsecsPerMin;
  if (utm->sec != kUnsetU1) low += U4(utm->sec) * kMsecsPerSec;
  if (utm->msec != kUnsetU2) low += utm->msec;
  return key | low;
}

bool IsLeapYear(U2 year) {
  if (year == kUnsetU2) year = ClockYear();
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

U1 DaysInMonth(U2 mon, U2 year) {
  if (mon == kUnsetU2 || mon == kUnsetU1) mon = ClockToUTM()->mon;
  if (year == kUnsetU2) year = ClockYear();
  if (mon < 1 || mon > 12) return 0;
  return U1(kMonthDays[mon] + (mon == 2 && IsLeapYear(year) ? 1 : 0));
}

U2 DaysInYear(U2 year) {
  if (year == kUnsetU2) year = ClockYear();
  U2 days = 0;
  for (U2 m = 1; m <= 12; ++m)
    days = U2(days + DaysInMonth(m, year));
  return days;
}

U1 DayOfWeek(U2 year, U1 mon, U1 mday) {
  static constexpr U1 kMonthKey[13] = {0, 0, 3, 3, 6, 1, 4, 6, 2, 5, 0, 3, 5};
  static constexpr U1 kCenturyKey[4] = {6, 4, 2, 0};
  if (mon < 1 || mon > 12 || mday == 0 || mday > 31) return 0xFF;
  if (year == 0 || year == kUnsetU2) year = ClockYear();
  U4 key = kMonthKey[mon];
  if (IsLeapYear(year) && mon <= 2) key = mon == 1 ? 6 : 2;
  const U4 yy = year % 100;
  return U1((mday + key + yy + yy / 4 + kCenturyKey[(year / 100) % 4]) % 7 + 1);
}

U1 UTMDayOfWeek(const UTM* utm) {
  return utm ? DayOfWeek(utm->year, utm->mon, utm->mday) : 0;
}

bool DaylightSavingsActive(const char* zone, const UTM* utm) {
  const char* dst = std::getenv("DST");
  if (dst && *dst && FalseWord(dst)) return false;
  if (zone && (EqualNoCase(zone, "European Central") || EqualNoCase(zone, "European Eastern"))) {
    // The European switch happens at one instant everywhere: judge it in UTC.
    PlatformTime pt{};
    if (!PlatformUTCTime(&pt)) return false;
    if (pt.mon > 3 && pt.mon < 10) return true;
    if (pt.mon != 3 && pt.mon != 10) return false;
    const U4 last = LastSunday(pt.year, pt.mon);
    if (pt.mon == 3) return pt.mday > last || (pt.mday == last && pt.hour >= 1);
    return pt.mday < last || (pt.mday == last && pt.hour < 1);
  }
  UTM now{};
  if (!utm) utm = ClockToUTM(&now);
  if (utm->mon > 3 && utm->mon < 11) return true;
  if (utm->mon == 3) {
    const U4 second = NthSunday(utm->year, 3, 2);
    return utm->mday > second || (utm->mday == second && utm->hour >= 2);
  }
  if (utm->mon == 11) {
    const U4 first = NthSunday(utm->year, 11, 1);
    return utm->mday < first || (utm->mday == first && utm->hour < 2);
  }
  return false;
}

const char* TimeS_MyBf(const UTM* utm, const char* pattern, char* bf, U4 bfsz) {
  if (ErrSet || !bf || bfsz == 0) return "?";
  if (!utm) {
    if (UTMIsEmpty(&cur_utm)) ClockToUTM();
    utm = &cur_utm;
  }
  if (!pattern) pattern = kTimeDefaultPattern;
  TPDAT tp{};
  ParseTime(&tp, pattern, kAllU4);
  if (ErrSet) return "?";
  const bool has_ampm = tp.ampm.val != kTPNotFound;

  bf[0] = '\0';
  U4 len = 0;
  char num[32];
  auto put = [&](const char* st) { AppStMult(bf, &len, bfsz, false, st, nullptr); };
  auto fmt = [&](const char* f, long long v) {
    std::snprintf(num, sizeof num, f, v);
    put(num);
  };

  const U4 plen = U4(std::strlen(pattern));
  for (U4 p = 0; p < plen;) {
    const TPComp* comps[] = {&tp.year, &tp.mon, &tp.mday, &tp.wday, &tp.hour,
                             &tp.min,  &tp.sec, &tp.msec, &tp.ampm};
    int which = -1;
    for (int k = 0; k < 9; ++k)
      if (comps[k]->val != kTPNotFound && comps[k]->start == p) which = k;
    if (which < 0) {
      const char one[2] = {pattern[p], '\0'};
      put(one);
      ++p;
      continue;
    }
    const TPComp& c = *comps[which];
    const U4 span = c.end - c.start;
    const char first = pattern[c.start];
    const bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
    switch (which) {
    case 0:
      if (span > 2)
        fmt("%04lld", utm->year);
      else
        fmt("%02lld", utm->year % 100);
      break;
    case 1:
      if (utm->mon == 0 || utm->mon > 12) {
        fmt("%lld", utm->mon);
        put("?");
      } else if (letter) {
        put(span > 3 ? kMonthNames[utm->mon] : kMonthShortNames[utm->mon]);
      } else {
        fmt(first == '0' ? "%02lld" : "%lld", utm->mon);
      }
      break;
    case 2:
      fmt(first == '0' ? "%02lld" : "%lld", utm->mday);
      break;
    case 3:
      if (utm->wday == 0 || utm->wday > 7) {
        fmt("%lld", utm->wday);
        put("?");
      } else {
        put(span > 3 ? kDayNames[utm->wday] : kDayShortNames[utm->wday]);
      }
      break;
    case 4: {
      U4 h = utm->hour;
      if (h > 23) {
        fmt("%lld", h);
        break;
      }
      if (has_ampm) h = h == 0 ? 12 : h > 12 ? h - 12 : h;
      fmt(first == '0' || tp.hour.val >= 13 ? "%02lld" : "%lld", h);
      break;
    }
    case 5:
      fmt("%02lld", utm->min);
      break;
    case 6:
      fmt("%02lld", utm->sec);
      break;
    case 7:
      fmt("%03lld", utm->msec);
      break;
    default:
      if (span > 1)
        put(utm->hour >= 12 ? "PM" : "AM");
      else
        put(utm->hour >= 12 ? "P" : "A");
      break;
    }
    p = c.end;
  }
  return bf;
}

const char* TimeNowS_MyBf(const char* pattern, char* bf, U4 bfsz) {
  if (ErrSet) return "?";
  UTM now{};
  ClockToUTM(&now);
  return TimeS_MyBf(&now, pattern ? pattern : kTimeFullPattern, bf, bfsz);
}

const char* TmS_MyBf(const std::tm* tm, const char* pattern, char* bf, U4 bfsz) {
  if (ErrSet || !tm) return "?";
  UTM u{};
  FromTm(&u, *tm);
  u.timet = kTimeTUndefined;
  u.msec = MsecAgreeing(u.sec);
  return TimeS_MyBf(&u, pattern ? pattern : kTimeFullPattern, bf, bfsz);
}

const char* TimeTS_MyBf(I8 t, const char* pattern, char* bf, U4 bfsz) {
  if (ErrSet) return "?";
  std::tm tm{};
  if (t == kTimeTUndefined || !BrokenDown(t, false, &tm)) return "?";
  return TmS_MyBf(&tm, pattern, bf, bfsz);
}
