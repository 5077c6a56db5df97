#include "platform/desktop.h"

#include "errlog/errstack.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace {
Desktop* installedDesktop = nullptr;
}

Desktop& TheDesktop() {
  return installedDesktop ? *installedDesktop : PlatformDesktop();
}

void SetDesktop(Desktop* desktop) {
  installedDesktop = desktop;
}

void PushInputLockBusy(U4 timeoutMsecs) {
  char waited[16];
  std::snprintf(waited, sizeof waited, "%lu", static_cast<unsigned long>(timeoutMsecs));
  SeMErrMult("AcquireInputLock: another run is sending input to this desktop; gave up after ",
             waited, " ms", nullptr);
}

bool PollInputLock(U4 timeoutMsecs, LockTry (*take)(void* self), void* self) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMsecs);
  for (;;) {
    switch (take(self)) {
    case LockTry::kTaken:
      return true;
    case LockTry::kFailed:
      return false;
    case LockTry::kBusy:
      break;
    }
    if (Clock::now() >= end) {
      PushInputLockBusy(timeoutMsecs);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}
