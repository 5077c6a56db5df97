#include "platform/clock.h"

namespace {
Clock* installedClock = nullptr;
}

Clock& TheClock() { return installedClock ? *installedClock : PlatformClock(); }

void SetClock(Clock* clock) { installedClock = clock; }
