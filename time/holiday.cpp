#include "errlog/errstack.h"
#include "text/numfmt.h"
#include "time/sttoutm.h"

// Last: no 32-bit calendar time from here on.
#include "time/crt_time_guard.h"

namespace {

constexpr U2 kFirstEasterYear = 2013, kLastEasterYear = 2099;

// Easter Sunday as day of March (32 and beyond run into April), 2013 onward.
constexpr U1 kEasterMarchDay[kLastEasterYear - kFirstEasterYear + 1] = {
    31, 51, 36, 27, 47, 32, 52, 43, 35, 48, 40, 31, 51, 36, 28, 47, 32, 52, 44, 28, 48, 40,
    25, 44, 36, 56, 41, 32, 52, 37, 29, 48, 40, 25, 45, 36, 49, 41, 33, 52, 37, 29, 49, 33,
    53, 45, 30, 49, 41, 26, 46, 37, 29, 42, 34, 53, 45, 30, 50, 41, 26, 46, 38, 50, 42, 34,
    54, 38, 30, 50, 35, 26, 46, 31, 51, 42, 34, 47, 39, 30, 43, 35, 55, 46, 31, 51, 43};

char easter_text[8];

bool Nth(U1 mday, U1 n) { // the n-th such weekday of the month
  return mday >= 7 * (n - 1) + 1 && mday <= 7 * n;
}

} // namespace

const char* EasterDate(U2 year, U1* mon, U1* mday, bool report) {
  if (year < kFirstEasterYear || year > kLastEasterYear) {
    if (report) SeMErrMult("Easter unknown for year ", VS10_U8(year).bf, nullptr);
    return nullptr;
  }
  const U1 d = kEasterMarchDay[year - kFirstEasterYear];
  const U1 m = d > 31 ? 4 : 3;
  const U1 day = d > 31 ? U1(d - 31) : d;
  if (mon) *mon = m;
  if (mday) *mday = day;
  easter_text[0] = char('0' + m);
  easter_text[1] = '/';
  U1 k = 2;
  if (day >= 10) easter_text[k++] = char('0' + day / 10);
  easter_text[k++] = char('0' + day % 10);
  easter_text[k] = 0;
  return easter_text;
}

const char* HolidayName(U2 year, U1 mon, U1 mday, U1 wday, const char* dflt) {
  constexpr U1 kSunday = 1, kMonday = 2, kThursday = 5;
  switch (mon) {
  case 1:
    if (mday == 1) return "New years";
    if (wday == kMonday && Nth(mday, 3)) return "MLK Day";
    break;
  case 2:
    if (wday == kMonday && Nth(mday, 3)) return "Washingtons birthday";
    break;
  case 5:
    if (wday == kMonday && mday + 7 > DaysInMonth(5, year)) return "Memorial day";
    if (wday == kSunday && Nth(mday, 2)) return "Mothers day";
    break;
  case 6:
    if (wday == kSunday && Nth(mday, 3)) return "Fathers day";
    break;
  case 7:
    if (mday == 4) return "Independence day";
    break;
  case 9:
    if (wday == kMonday && Nth(mday, 1)) return "Labor day";
    break;
  case 10:
    if (wday == kMonday && Nth(mday, 2)) return "Columbus day";
    break;
  case 11:
    if (mday == 11) return "Veterans day";
    if (wday == kThursday && Nth(mday, 4)) return "Thanksgiving";
    break;
  case 12:
    if (mday == 25) return "Christmas";
    break;
  default:
    break;
  }
  if (mon == 3 || mon == 4) {
    U1 em = 0, ed = 0;
    if (EasterDate(year, &em, &ed, false) && em == mon && ed == mday) return "Easter";
  }
  return dflt;
}
