#include "platform/clock.h"
#include "platform/interrupt.h"

#include <ctime>

namespace {
class PosixClock : public Clock {
public:
  U8 MonotonicUsecs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return U8(ts.tv_sec) * 1000000u + U8(ts.tv_nsec) / 1000u;
  }
  void SleepMsecs(U4 msecs) override { PlatformInterruptibleSleep(msecs); }
};
} // namespace

Clock& PlatformClock() {
  static PosixClock clock;
  return clock;
}
