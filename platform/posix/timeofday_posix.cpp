#include "platform/timeofday.h"

#include <cerrno>
#include <ctime>
#include <sys/resource.h>

static_assert(sizeof(time_t) >= 8, "time_t must hold times past 2038 (build with _TIME_BITS=64)");

namespace {
void FromTm(const std::tm& tm, long nsec, PlatformTime* out) {
  out->year = U2(tm.tm_year + 1900);
  out->mon = U1(tm.tm_mon + 1);
  out->mday = U1(tm.tm_mday);
  out->wday = U1(tm.tm_wday);
  out->hour = U1(tm.tm_hour);
  out->min = U1(tm.tm_min);
  out->sec = U1(tm.tm_sec > 59 ? 59 : tm.tm_sec);
  out->msec = U2(nsec / 1000000);
}

bool Now(PlatformTime* out, bool utc) {
  timespec ts{};
  std::tm tm{};
  if (!out || clock_gettime(CLOCK_REALTIME, &ts) != 0) return false;
  if (!(utc ? gmtime_r(&ts.tv_sec, &tm) : localtime_r(&ts.tv_sec, &tm))) return false;
  FromTm(tm, ts.tv_nsec, out);
  return true;
}
} // namespace

bool PlatformLocalTime(PlatformTime* out) {
  return Now(out, false);
}
bool PlatformUTCTime(PlatformTime* out) {
  return Now(out, true);
}

bool PlatformSetLocalTime(const PlatformTime& t, U4* err) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.mon - 1;
  tm.tm_mday = t.mday;
  tm.tm_hour = t.hour;
  tm.tm_min = t.min;
  tm.tm_sec = t.sec;
  tm.tm_isdst = -1;
  errno = 0;
  const time_t secs = mktime(&tm);
  if (secs == time_t(-1)) {
    if (err) *err = errno ? U4(errno) : U4(EINVAL);
    return false;
  }
  const timespec ts{secs, long(t.msec) * 1000000L};
  if (clock_settime(CLOCK_REALTIME, &ts) != 0) {
    if (err) *err = U4(errno);
    return false;
  }
  return true;
}

U8 PlatformUptimeMsecs() {
  // The same base as the monotonic clock, so that the two line up.
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return U8(ts.tv_sec) * 1000u + U8(ts.tv_nsec) / 1000000u;
}

bool PlatformProcessTimes(U8* hundred_ns, U4* err) {
  rusage ru{};
  if (getrusage(RUSAGE_SELF, &ru) != 0) {
    if (err) *err = U4(errno);
    return false;
  }
  const U8 usecs = (U8(ru.ru_utime.tv_sec) + U8(ru.ru_stime.tv_sec)) * 1000000u +
                   U8(ru.ru_utime.tv_usec) + U8(ru.ru_stime.tv_usec);
  if (hundred_ns) *hundred_ns = usecs * 10u;
  return true;
}

I8 PlatformCalendarSecs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return I8(ts.tv_sec);
}

bool PlatformSecsToTm(I8 secs, bool utc, std::tm* out) {
  const time_t t = time_t(secs);
  return out && (utc ? gmtime_r(&t, out) : localtime_r(&t, out)) != nullptr;
}

bool PlatformTmToSecs(std::tm* tm, I8* secs, int* err) {
  errno = 0;
  const time_t t = mktime(tm);
  if (t == time_t(-1) && errno != 0) {
    if (err) *err = errno;
    return false;
  }
  *secs = I8(t);
  return true;
}

bool PlatformFiletimeToLocal(U8 ft, PlatformTime* out, const char** failed_call, U4* err) {
  constexpr I8 kFiletimeEpochSecs = 11644473600; // 1601-01-01 to 1970-01-01
  std::tm tm{};
  if (ft > U8(0x7FFFFFFFFFFFFFFF)) {
    *failed_call = "FileTimeToSystemTime";
    *err = EINVAL;
    return false;
  }
  if (!PlatformSecsToTm(I8(ft / 10000000u) - kFiletimeEpochSecs, false, &tm)) {
    *failed_call = "SystemTimeToTzSpecificLocalTime";
    *err = errno ? U4(errno) : U4(EINVAL);
    return false;
  }
  FromTm(tm, long(ft / 10000u % 1000u) * 1000000L, out);
  return true;
}
