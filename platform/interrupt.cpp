#include "platform/interrupt.h"

#include <atomic>

namespace {
// Written from signal handlers and console-control threads, so it must be lock-free.
std::atomic<U4> pending{0};
static_assert(std::atomic<U4>::is_always_lock_free);
} // namespace

void PlatformWakeSleeper(); // per platform

U4 PlatformInterrupts() {
  return pending.load();
}

U4 PlatformTakeInterrupts(U4 mask) {
  return pending.fetch_and(~mask) & mask;
}

void PlatformRecordInterrupt(U4 kind) {
  pending.fetch_or(kind);
  PlatformWakeSleeper();
}
