// Calendar clock, uptime and process times of the platform.
#pragma once
#include "runtime/types.h"

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
