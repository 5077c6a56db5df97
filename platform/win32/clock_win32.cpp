#include "platform/clock.h"
#include "platform/interrupt.h"

#include <windows.h>

namespace {
class Win32Clock : public Clock {
public:
  U8 MonotonicUsecs() override {
    LARGE_INTEGER freq, count;
    if (!QueryPerformanceFrequency(&freq) || !QueryPerformanceCounter(&count) || freq.QuadPart <= 0)
      return GetTickCount64() * 1000u;
    const U8 f = U8(freq.QuadPart), c = U8(count.QuadPart);
    // Split so that the product cannot overflow.
    return c / f * 1000000u + c % f * 1000000u / f;
  }
  void SleepMsecs(U4 msecs) override { PlatformInterruptibleSleep(msecs); }
};
} // namespace

Clock& PlatformClock() {
  static Win32Clock clock;
  return clock;
}
