#include "platform/timeofday.h"

#include <cerrno>
#include <windows.h>

// Every conversion here goes through the runtime's 64-bit time functions: the default
// time_t of the 32-bit runtime ends in 2038.
static_assert(sizeof(__time64_t) == 8, "64-bit time functions required");

namespace {
void FromSystemTime(const SYSTEMTIME& st, PlatformTime* out) {
  out->year = st.wYear;
  out->mon = U1(st.wMonth);
  out->mday = U1(st.wDay);
  out->wday = U1(st.wDayOfWeek);
  out->hour = U1(st.wHour);
  out->min = U1(st.wMinute);
  out->sec = U1(st.wSecond);
  out->msec = st.wMilliseconds;
}
} // namespace

bool PlatformLocalTime(PlatformTime* out) {
  if (!out) return false;
  SYSTEMTIME st;
  GetLocalTime(&st);
  FromSystemTime(st, out);
  return true;
}

bool PlatformUTCTime(PlatformTime* out) {
  if (!out) return false;
  SYSTEMTIME st;
  GetSystemTime(&st);
  FromSystemTime(st, out);
  return true;
}

bool PlatformSetLocalTime(const PlatformTime& t, U4* err) {
  SYSTEMTIME st{};
  st.wYear = t.year;
  st.wMonth = t.mon;
  st.wDay = t.mday;
  st.wDayOfWeek = t.wday;
  st.wHour = t.hour;
  st.wMinute = t.min;
  st.wSecond = t.sec;
  st.wMilliseconds = t.msec;
  if (SetLocalTime(&st)) return true;
  if (err) *err = GetLastError();
  return false;
}

U8 PlatformUptimeMsecs() {
  return GetTickCount64();
}

bool PlatformProcessTimes(U8* hundred_ns, U4* err) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
    if (err) *err = GetLastError();
    return false;
  }
  const U8 k = (U8(kernel.dwHighDateTime) << 32) | kernel.dwLowDateTime;
  const U8 u = (U8(user.dwHighDateTime) << 32) | user.dwLowDateTime;
  if (hundred_ns) *hundred_ns = k + u;
  return true;
}

I8 PlatformCalendarSecs() {
  return I8(_time64(nullptr));
}

bool PlatformSecsToTm(I8 secs, bool utc, std::tm* out) {
  const __time64_t t = secs;
  return out && (utc ? _gmtime64_s(out, &t) : _localtime64_s(out, &t)) == 0;
}

bool PlatformTmToSecs(std::tm* tm, I8* secs, int* err) {
  errno = 0;
  const __time64_t t = _mktime64(tm);
  if (t == __time64_t(-1)) {
    if (err) *err = errno ? errno : EINVAL;
    return false;
  }
  *secs = I8(t);
  return true;
}

bool PlatformFiletimeToLocal(U8 ft, PlatformTime* out, const char** failed_call, U4* err) {
  FILETIME f{DWORD(ft & 0xFFFFFFFFu), DWORD(ft >> 32)};
  SYSTEMTIME utc, local;
  if (!FileTimeToSystemTime(&f, &utc)) {
    *failed_call = "FileTimeToSystemTime";
    *err = GetLastError();
    return false;
  }
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    *failed_call = "SystemTimeToTzSpecificLocalTime";
    *err = GetLastError();
    return false;
  }
  FromSystemTime(local, out);
  return true;
}
