#include "platform/timeofday.h"

#include <windows.h>

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
