#include "time/sttoutm.h"

#include "platform/timeofday.h"

#include "errlog/errstack.h"
#include "text/numfmt.h"
#include "time/parsetime.h"

#include <cerrno>
#include <ctime>
#include <string>

// Last: no 32-bit calendar time from here on.
#include "time/crt_time_guard.h"

namespace {

bool Found(const TPComp& c) {
  return c.val != kTPNotFound;
}
bool IsAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
char Upper(char c) {
  return c >= 'a' && c <= 'z' ? char(c - 32) : c;
}

void SetNothing(UTM* utm) {
  utm->timet = kTimeTUndefined;
  utm->year = kUnsetU2;
  utm->mon = utm->mday = utm->wday = utm->hour = utm->min = utm->sec = kUnsetU1;
  utm->msec = kUnsetU2;
}

// The word "DST" standing alone; its span through *start, *end.
bool DstWord(const char* t, U4* start, U4* end) {
  for (U4 i = 0; t[i]; ++i) {
    if (Upper(t[i]) == 'D' && Upper(t[i + 1]) == 'S' && Upper(t[i + 2]) == 'T' &&
        (i == 0 || !IsAlnum(t[i - 1])) && !IsAlnum(t[i + 3])) {
      *start = i;
      *end = i + 3;
      return true;
    }
  }
  return false;
}

// The found components into the record; the finer fields after the last time field given
// become 0, and a date without a time keeps no time of the defaults.
void Apply(const TPDAT& tp, UTM* utm, bool had_defaults) {
  if (Found(tp.year)) utm->year = tp.year.val;
  if (Found(tp.mon)) utm->mon = U1(tp.mon.val);
  if (Found(tp.mday)) utm->mday = U1(tp.mday.val);
  if (Found(tp.wday)) utm->wday = U1(tp.wday.val);
  const bool any_time = Found(tp.hour) || Found(tp.min) || Found(tp.sec) || Found(tp.msec);
  const bool any_date = Found(tp.year) || Found(tp.mon) || Found(tp.mday);
  if (!any_time && !(any_date && had_defaults)) return;
  utm->hour = Found(tp.hour) ? U1(tp.hour.val) : 0;
  utm->min = Found(tp.min) ? U1(tp.min.val) : 0;
  utm->sec = Found(tp.sec) ? U1(tp.sec.val) : 0;
  utm->msec = Found(tp.msec) ? tp.msec.val : 0;
}

bool DayFits(const UTM* utm) {
  if (utm->mon == kUnsetU1 || utm->mday == kUnsetU1) return true;
  if (utm->mon < 1 || utm->mon > 12) return false;
  // Without a year February may have its 29th.
  const U1 last = utm->year == kUnsetU2 ? (utm->mon == 2 ? 29 : DaysInMonth(utm->mon, 2000))
                                        : DaysInMonth(utm->mon, utm->year);
  return utm->mday <= last;
}

bool Complete(const UTM* utm) {
  return utm->year != kUnsetU2 && utm->mon != kUnsetU1 && utm->mday != kUnsetU1 &&
         utm->hour != kUnsetU1 && utm->min != kUnsetU1 && utm->sec != kUnsetU1;
}

I8 Mktime(const UTM* utm, bool dst, bool report) {
  if (!dst) {
    // The conversion's own message names the conversion; here the date failed as a whole.
    PushErr();
    const I8 t = UTMToTIME_T(utm);
    const bool failed = ErrSet;
    PopErr(false);
    if (!failed) return t;
    if (report) SeMErrno("mktime", nullptr, EINVAL);
    return -1;
  }
  std::tm tm{};
  tm.tm_year = int(utm->year) - 1900;
  tm.tm_mon = int(utm->mon) - 1;
  tm.tm_mday = utm->mday;
  tm.tm_hour = utm->hour;
  tm.tm_min = utm->min;
  tm.tm_sec = utm->sec;
  tm.tm_isdst = 1;
  I8 t = -1;
  int err = 0;
  if (!PlatformTmToSecs(&tm, &t, &err) || t < 0) {
    if (report) SeMErrno("mktime", nullptr, err ? err : EINVAL);
    return -1;
  }
  return t;
}

// The span of the text that the found components take.
void Taken(const TPDAT& tp, U4* first, U4* last) {
  const TPComp* all[] = {&tp.year, &tp.mon, &tp.mday, &tp.wday, &tp.hour,
                         &tp.min,  &tp.sec, &tp.msec, &tp.ampm};
  *first = kAllU4;
  *last = 0;
  for (const TPComp* c : all) {
    if (!Found(*c)) continue;
    if (c->start < *first) *first = c->start;
    if (c->end > *last) *last = c->end;
  }
}

bool LeadOk(const char* t, U4 first, U1 leadbadsok, bool report) {
  for (U4 i = 0; i < first; ++i) {
    const char c = t[i];
    if (c == ' ' || c == '\t' || c == '-' || c == '/' || (leadbadsok == 1 && !IsAlnum(c))) continue;
    if (report) {
      const std::string bad(t + i, first - i);
      SeMErrMult("Unexp leading date/time text \"", bad.c_str(), "\"", nullptr);
    }
    return false;
  }
  return true;
}

bool TrailOk(const char* t, U4 last, U1 trailbadsok, bool report) {
  U4 i = last;
  if (trailbadsok == 1) {
    if (!IsAlnum(t[i])) return true;
  } else {
    while (t[i] == ' ' || t[i] == '\t')
      ++i;
    if (!t[i]) return true;
  }
  if (report) {
    char name[32];
    PrintableText_MyBf(t + i, 1, 16, name, sizeof name);
    SeMErrMult("Unexp trailing date/time character \"", name, "\" in \"", t, "\"", nullptr);
  }
  return false;
}

} // namespace

bool StToUTM(UTM* utm, const char* tms, U1 defaults, U1 leadbadsok, U1 trailbadsok, bool report) {
  if (!utm) utm = &cur_utm;
  if (ErrSet) return false;
  SetNothing(utm);
  if (!tms || !*tms) {
    if (report) SeMErrMult("StToUTM", tms ? ":tms=empty" : ":tms=null", nullptr);
    return false;
  }
  if (defaults != kUtmNoDefaults) {
    ClockToUTM(utm);
    if (defaults == kUtmToday) utm->hour = utm->min = utm->sec = 0, utm->msec = 0;
    utm->timet = kTimeTUndefined;
  }
  TPDAT tp{};
  if (!ParseTime(&tp, tms, kAllU4)) {
    if (report) SeMErrMult("No time in \"", tms, "\"", nullptr);
    return false;
  }
  Apply(tp, utm, defaults != kUtmNoDefaults);
  if (!DayFits(utm)) {
    if (report)
      SeMErrMult("Day ", VS10_U8(utm->mday).bf, " beyond the end of month ", VS10_U8(utm->mon).bf,
                 " in \"", tms, "\"", nullptr);
    utm->mday = kUnsetU1;
    return false;
  }
  if (!Found(tp.wday) && utm->year != kUnsetU2 && utm->mon != kUnsetU1 && utm->mday != kUnsetU1)
    utm->wday = UTMDayOfWeek(utm);
  U4 dst_start = 0, dst_end = 0;
  const bool dst = DstWord(tms, &dst_start, &dst_end);
  if (Complete(utm)) {
    const I8 t = Mktime(utm, dst, report);
    if (t < 0 || ErrSet) {
      if (!report) ClearErr();
      return false;
    }
    utm->timet = t;
  }
  if (leadbadsok >= 2 && trailbadsok >= 2) return true;
  U4 first = 0, last = 0;
  Taken(tp, &first, &last);
  if (dst) {
    if (dst_start < first) first = dst_start;
    if (dst_end > last) last = dst_end;
  }
  if (leadbadsok < 2 && !LeadOk(tms, first, leadbadsok, report)) return false;
  if (trailbadsok < 2 && !TrailOk(tms, last, trailbadsok, report)) return false;
  return true;
}
