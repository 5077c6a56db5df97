// What the run holds on an X display, kept ready as raw protocol requests (XTEST releases
// of the keys and buttons down, and the key mapping that gives lent key codes back), so
// that a fault handler can send them with write() alone, on a second connection that
// stays idle for it, where a watchdog that gives up on a frozen server queues them too.
#pragma once
#include "platform/signalsnapshot.h"

#include <X11/Xlib.h>

#include <atomic>
#include <cstddef>
#include <vector>

class X11InputRelease {
public:
  X11InputRelease() = default;
  ~X11InputRelease();
  X11InputRelease(const X11InputRelease&) = delete;
  X11InputRelease& operator=(const X11InputRelease&) = delete;

  // Before the first injected event: opens the idle connection to the display of main and
  // installs the fault release; tried once. False when the display refused it.
  bool Prepare(Display* main, const char* displayName);
  // An XTEST event of main's, request serial the request number it went out with.
  void Key(unsigned keycode, bool down, unsigned long serial);
  void Button(unsigned button, bool down, unsigned long serial);
  // The key codes lent now, each to be blanked again (symsPerCode symbols).
  void Lent(const std::vector<KeyCode>& codes, int symsPerCode);

  // Watchdog thread, the main connection fd stuck in a call on a server that stopped
  // answering: queues the releases for when it answers again.
  void SendAfterResume(int fd) const;
  // The fault release: lets the server finish the main connection, then sends the releases
  // on the idle one and waits until they were read. Async-signal-safe. Either sends once.
  void SendFromHandler() const;

private:
  struct Held {
    unsigned char type; // KeyPress or ButtonPress
    unsigned char detail;
    unsigned long releasedAt; // serial of the release request, 0 while down
  };
  static constexpr std::size_t kFakeInputSize = 36;
  static constexpr std::size_t kMaxRequests = 512;
  struct Requests {
    std::size_t size = 0;
    unsigned char bytes[kMaxRequests * kFakeInputSize];
  };

  void Note(unsigned char type, unsigned detail, bool down, unsigned long serial);
  void PublishReleases();
  void DrainIdle() const;

  bool tried_ = false;
  Display* main_ = nullptr;
  Display* idle_ = nullptr;
  int mainFd_ = -1, idleFd_ = -1;
  int xtestOpcode_ = 0;
  std::vector<Held> held_; // in the order they went down
  SignalSnapshot<Requests> releases_, mapping_;
  mutable std::atomic<bool> sent_{false};
};
