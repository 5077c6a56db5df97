// Runs on one Wayland display take turns at its input through a lock file named after the
// display: the system frees the lock with the process, so a run that crashed or was killed
// leaves it free.
#include "platform/wayland/wayland_desktop.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

namespace {

std::string LockFileOf(const std::string& display) {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  std::string file = std::string(dir && *dir ? dir : "/tmp") + "/tapster-";
  for (char c : display)
    file.push_back(c == '/' ? '_' : c);
  return file + ".lock";
}

} // namespace

bool WaylandDesktop::AcquireInputLock(U4 timeoutMsecs) {
  if (lockHeld_) return true;
  if (lockFd_ < 0) lockFd_ = open(LockFileOf(name_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  // Without a lock file the run goes on alone: the lock protects, it does not gate.
  if (lockFd_ < 0) return true;
  SteadyClock::time_point end = SteadyClock::now() + std::chrono::milliseconds(timeoutMsecs);
  while (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return true;
    if (SteadyClock::now() >= end) {
      PushInputLockBusy(timeoutMsecs);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  lockHeld_ = true;
  return true;
}

void WaylandDesktop::ReleaseInputLock() {
  if (!lockHeld_) return;
  lockHeld_ = false;
  // The compositor takes the keys of each client in turn: ours must be in before the next
  // run's may come.
  if (display_ && !broken_) wl_display_roundtrip(display_);
  flock(lockFd_, LOCK_UN);
}
