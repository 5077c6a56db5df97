#include "time/clock.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/logline.h"
#include "platform/clock.h"
#include "platform/timeofday.h"
#include "runtime/interrupt.h"
#include "text/numfmt.h"

// Last: no 32-bit calendar time from here on.
#include "time/crt_time_guard.h"

namespace {
I8 clock_offset_usecs = 0; // fixed at the first ClockUsecs
bool clock_offset_set = false;
U4 clock_msecs_last = 0;
} // namespace

U8 ClockUsecs() {
  if (!clock_offset_set) {
    // Shift the monotonic count so that it reads as calendar time, once: a later change of
    // the calendar clock then cannot stretch or cut a wait.
    const I8 calendar_secs = PlatformCalendarSecs();
    clock_offset_usecs = calendar_secs * 1000000 - I8(PlatformUptimeMsecs()) * 1000;
    clock_offset_set = true;
  }
  return TheClock().MonotonicUsecs() + U8(clock_offset_usecs);
}

U8 ClockMsecs64() {
  return ClockUsecs() / 1000u;
}
U8 ClockSecs() {
  return ClockUsecs() / 1000000u;
}

U4 ClockMsecs() {
  // At the instant the low 32 bits pass 0 the clock reads 1: one millisecond early
  // rather than "never started".
  U4 v = U4(ClockMsecs64());
  if (v == 0) v = 1;
  clock_msecs_last = v;
  return v;
}

U4 ElapsedMsecs(U4 start, U4 now) {
  if (start == 0) return 0xFFFFFFFFu;
  if (now == 0) now = ClockMsecs();
  return now - start; // modulo 2^32: right across one wrap
}

U4 ElapsedSecs(U4 start, U4 now) {
  return ElapsedMsecs(start, now) / 1000u;
}

U8 ElapsedMsecs64(U8 start, U8 now) {
  if (start == 0) return ~U8{0};
  if (now == 0) now = ClockMsecs64();
  return now - start;
}

U8 ElapsedSecs64(U8 start, U8 now) {
  return ElapsedMsecs64(start, now) / 1000u;
}
U8 ElapsedMins64(U8 start, U8 now) {
  return ElapsedMsecs64(start, now) / 60000u;
}
U8 ElapsedHours64(U8 start, U8 now) {
  return ElapsedMsecs64(start, now) / 3600000u;
}

void SleepMsecs(U4 ms) {
  // A stop request ends the wait with its error, which the waiting caller then sees.
  if (ms == 0 || (InterruptRequested() && CheckInterrupt())) return;
  if (debug_level > 0 && ms > 1000) LogSt("SleepMsecs", ":", VS10_U8(ms).bf);
  TheClock().SleepMsecs(ms);
  if (InterruptRequested()) CheckInterrupt();
}

void SleepSecs(U4 secs) {
  SleepMsecs(secs * 1000u);
}

U8 ProcessUSecs() {
  if (ErrSet) return 0;
  U8 hundred_ns = 0;
  U4 err = 0;
  if (!PlatformProcessTimes(&hundred_ns, &err)) {
    SeMLastErr("GetProcessTimes", nullptr, err);
    return 0;
  }
  return hundred_ns / 10u;
}

U8 ProcessMSecs() {
  return ProcessUSecs() / 1000u;
}
