// A value that the program's thread changes and a signal or exception handler reads: two
// copies and a counter that says which one is whole, so that a handler that interrupts a
// change still reads the last finished value. One writer; readers either interrupt it or
// run while it waits.
#pragma once
#include <atomic>

template <typename T> class SignalSnapshot {
public:
  // The copy to fill in; Publish() makes it the current one.
  T& Draft() { return copies_[(published_.load(std::memory_order_relaxed) + 1) & 1]; }
  void Publish() { published_.fetch_add(1, std::memory_order_release); }
  const T& Current() const { return copies_[published_.load(std::memory_order_acquire) & 1]; }

private:
  T copies_[2]{};
  std::atomic<unsigned> published_{0};
  static_assert(std::atomic<unsigned>::is_always_lock_free);
};
