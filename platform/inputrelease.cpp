#include "platform/inputrelease.h"

#include <atomic>

namespace {
std::atomic<InputReleaseFn> installed{nullptr};
std::atomic<bool> released{false};
static_assert(std::atomic<InputReleaseFn>::is_always_lock_free);
} // namespace

void PlatformSetInputRelease(InputReleaseFn release) {
  installed.store(release);
}

void PlatformReleaseInputNow() {
  // A fault inside the release, or a second thread faulting, must not send it twice.
  if (released.exchange(true)) return;
  if (InputReleaseFn release = installed.load()) release();
}

bool PlatformInputReleased() {
  return released.load();
}
