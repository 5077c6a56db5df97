// A clock that only moves when slept on or advanced: waits become exact and instant.
#pragma once
#include "platform/clock.h"

#include <functional>
#include <vector>

class FakeClock : public Clock {
public:
  U8 MonotonicUsecs() override { return nowUsecs; }
  void SleepMsecs(U4 msecs) override {
    sleeps.push_back(msecs);
    nowUsecs += U8{msecs} * 1000;
    if (onSleep) onSleep(msecs);
  }
  void Advance(U8 usecs) { nowUsecs += usecs; }

  U8 nowUsecs = 1'000'000;
  std::vector<U4> sleeps;               // every sleep, in order
  std::function<void(U4)> onSleep;      // lets a test change the world while time passes
};

// Installs a fake clock for the lifetime of the object.
class ScopedFakeClock {
public:
  ScopedFakeClock() { SetClock(&clock); }
  ~ScopedFakeClock() { SetClock(nullptr); }
  ScopedFakeClock(const ScopedFakeClock&) = delete;
  ScopedFakeClock& operator=(const ScopedFakeClock&) = delete;
  FakeClock clock;
};
