// Runs on one Wayland display take turns at its input through a lock file named after the
// display: the system frees the lock with the process, so a run that crashed or was killed
// leaves it free.
#include "platform/wayland/wayland_desktop.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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
  auto take = [](void* self) {
    if (flock(static_cast<WaylandDesktop*>(self)->lockFd_, LOCK_EX | LOCK_NB) == 0)
      return LockTry::kTaken;
    // A lock file that refuses locking leaves the run alone as well.
    return errno == EWOULDBLOCK || errno == EINTR ? LockTry::kBusy : LockTry::kTaken;
  };
  lockHeld_ = PollInputLock(timeoutMsecs, take, this);
  return lockHeld_;
}

void WaylandDesktop::ReleaseInputLock() {
  if (!lockHeld_) return;
  lockHeld_ = false;
  // The compositor takes the keys of each client in turn: ours must be in before the next
  // run's may come.
  if (display_ && !broken_) wl_display_roundtrip(display_);
  flock(lockFd_, LOCK_UN);
}
