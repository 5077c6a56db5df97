#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace {
class PosixClock : public Clock {
public:
  U8 MonotonicUsecs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return U8(ts.tv_sec) * 1000000u + U8(ts.tv_nsec) / 1000u;
  }
  void SleepMsecs(U4 msecs) override {
    timespec left{time_t(msecs / 1000), long(msecs % 1000) * 1000000L};
    // A signal cuts the sleep short; finish it.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
};
} // namespace

Clock& PlatformClock() {
  static PosixClock clock;
  return clock;
}
