// The program's clocks: microseconds on the monotonic counter, shifted once so that they
// read as calendar time; a 32-bit millisecond clock for cheap time-outs; sleeping.
#pragma once
#include "base/types.h"

inline constexpr U4 kMsecsPerSec = 1000;
inline constexpr U4 kMsecsPerMin = 60000;
inline constexpr U4 kMsecsPerHour = 3600000;
inline constexpr U4 kMsecsPerDay = 86400000;

// Microseconds since 1970 (UTC) on the monotonic clock; the offset is fixed at first use.
U8 ClockUsecs();
U8 ClockMsecs64();
U8 ClockSecs();
// Low 32 bits of ClockMsecs64, never 0 (0 means "not started").
U4 ClockMsecs();

// Milliseconds from start to now (now 0: the current clock). A start of 0 gives all ones;
// one wrap of the 32-bit clock is allowed for.
U4 ElapsedMsecs(U4 start, U4 now = 0);
U4 ElapsedSecs(U4 start, U4 now = 0);
U8 ElapsedMsecs64(U8 start, U8 now = 0);
U8 ElapsedSecs64(U8 start, U8 now = 0);
U8 ElapsedMins64(U8 start, U8 now = 0);
U8 ElapsedHours64(U8 start, U8 now = 0);

// Sleeps the thread; nothing is polled meanwhile. Logged above one second with -DEBUG.
void SleepMsecs(U4 ms);
void SleepSecs(U4 secs);

// Processor time of this process (kernel + user); 0 with an error pushed on failure.
U8 ProcessUSecs();
U8 ProcessMSecs();
