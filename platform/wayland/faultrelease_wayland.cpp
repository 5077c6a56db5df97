// Keys held when a fault ends the run. The compositor drops a virtual keyboard, releasing
// every key it holds, as soon as its client's connection goes. Shutting the socket down is
// async-signal-safe, so the fault handler hands the keys back before it writes its report,
// however long that takes.
#include "platform/wayland/wayland_desktop.h"

#include "platform/inputrelease.h"

#include <sys/socket.h>

#include <atomic>

namespace {

std::atomic<int> armedFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void ShutDownConnection() {
  int fd = armedFd.load();
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

} // namespace

void WaylandDesktop::ArmFaultRelease() {
  // One run, one desktop that injects: the first one keeps the handler.
  int none = -1;
  faultArmed_ = armedFd.compare_exchange_strong(none, wl_display_get_fd(display_));
  if (faultArmed_) PlatformSetInputRelease(ShutDownConnection);
}

void WaylandDesktop::DisarmFaultRelease() {
  if (!faultArmed_) return;
  PlatformSetInputRelease(nullptr);
  armedFd.store(-1);
  faultArmed_ = false;
}
