#include "platform/x11/watchdog_x11.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

X11Watchdog::~X11Watchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void X11Watchdog::Watch(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  fd_ = fd;
  if (thread_.joinable()) return;
  // A signal must reach the main thread: its handlers act on what that thread does.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  thread_ = std::thread([this] { Run(); });
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void X11Watchdog::BeforeGiveUp(std::function<void(int fd)> last) {
  std::lock_guard<std::mutex> lock(mutex_);
  last_ = std::move(last);
}

void X11Watchdog::Arm() {
  bool wasIdle;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wasIdle = until_ == std::chrono::steady_clock::time_point{};
    until_ = std::chrono::steady_clock::now() + limit_;
  }
  // A running wait sees the later deadline when it ends; only an idle thread needs waking.
  if (wasIdle) wake_.notify_one();
}

void X11Watchdog::Disarm() {
  std::lock_guard<std::mutex> lock(mutex_);
  until_ = {};
}

void X11Watchdog::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (until_ == std::chrono::steady_clock::time_point{}) {
      wake_.wait(lock);
    } else if (std::chrono::steady_clock::now() < until_) {
      wake_.wait_until(lock, until_);
    } else {
      struct stat st;
      if (fd_ >= 0 && fstat(fd_, &st) == 0 && S_ISSOCK(st.st_mode)) {
        if (last_) last_(fd_);
        // Set before the waiting call wakes, which reads it to name its error.
        timedOut_ = true;
        shutdown(fd_, SHUT_RDWR);
      }
      until_ = {};
    }
  }
}

int NextFileDescriptor() {
  int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) close(fd);
  return fd;
}
