// A bound on waiting for the X server. Xlib and XCB wait for replies without a time limit;
// when a call has waited too long, the watchdog shuts the connection's socket down, which
// makes the waiting call fail at once as on a lost connection.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class X11Watchdog {
public:
  explicit X11Watchdog(std::chrono::milliseconds limit) : limit_(limit) {}
  ~X11Watchdog();
  X11Watchdog(const X11Watchdog&) = delete;
  X11Watchdog& operator=(const X11Watchdog&) = delete;

  // The socket to shut down; -1 for none yet. Signals go to the other threads.
  void Watch(int fd);
  // Runs on the watchdog's thread with the socket, just before it is shut down.
  void BeforeGiveUp(std::function<void(int fd)> last);
  // A call that may wait begins now: it has the whole limit from here.
  void Arm();
  // No call waits any more.
  void Disarm();
  // The limit ran out and the socket was shut down.
  bool TimedOut() const { return timedOut_; }
  long long LimitSeconds() const {
    return std::chrono::duration_cast<std::chrono::seconds>(limit_).count();
  }

private:
  void Run();

  const std::chrono::milliseconds limit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  std::chrono::steady_clock::time_point until_{}; // zero while nothing waits
  int fd_ = -1;
  std::function<void(int)> last_;
  bool stop_ = false;
  std::atomic<bool> timedOut_{false};
};

// The socket number that the next socket of this thread will get (the lowest free one).
int NextFileDescriptor();
