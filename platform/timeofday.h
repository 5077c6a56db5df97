// Calendar clock, uptime and process times of the platform.
#pragma once
#include "base/types.h"

#include <ctime>

struct PlatformTime {
  U2 year;
  U1 mon;  // 1..12
  U1 mday; // 1..31
  U1 wday; // 0..6, 0 = Sunday
  U1 hour;
  U1 min;
  U1 sec;
  U2 msec;
};

bool PlatformLocalTime(PlatformTime* out);
bool PlatformUTCTime(PlatformTime* out);
// Sets the local clock; false with the platform's error code in *err.
bool PlatformSetLocalTime(const PlatformTime& t, U4* err);
// Milliseconds since the system started.
U8 PlatformUptimeMsecs();
// Kernel plus user time of this process in 100-nanosecond units; false with *err set.
bool PlatformProcessTimes(U8* hundred_ns, U4* err);

// The calendar clock and its conversions, in 64-bit seconds since 1970 UTC whatever the width
// of the C runtime's time_t (4 bytes in the 32-bit Windows runtime: wrong after 2038).
I8 PlatformCalendarSecs();
// Seconds to broken-down local time (UTC when utc); false where the platform cannot convert.
bool PlatformSecsToTm(I8 secs, bool utc, std::tm* out);
// Local broken-down time to seconds, with mktime's normalisation and tm_isdst rules; false with
// an errno code in *err.
bool PlatformTmToSecs(std::tm* tm, I8* secs, int* err);
// A file time (100 ns units since 1601 UTC) to local time; false with the failing call's name
// and the platform's error code.
bool PlatformFiletimeToLocal(U8 ft, PlatformTime* out, const char** failed_call, U4* err);
