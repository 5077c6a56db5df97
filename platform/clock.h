// The time base under the library's clocks and sleeps. Tests install a fake one so that
// waits and time-outs run without real sleeping.
#pragma once
#include "base/types.h"

class Clock {
public:
  virtual ~Clock() = default;
  // Microseconds from an arbitrary fixed origin, never going backwards.
  virtual U8 MonotonicUsecs() = 0;
  virtual void SleepMsecs(U4 msecs) = 0;
};

// The clock in use: the platform's real one unless a test installed another.
Clock& TheClock();
// Install a clock (tests); null goes back to the platform's own.
void SetClock(Clock* clock);
// The platform's monotonic clock and sleep.
Clock& PlatformClock();
