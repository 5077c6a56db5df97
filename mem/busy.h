// The allocator's re-entry flag, and the test that lets a call take a quick path: no
// second entry, no debug lines, no allocation times, no injected failure waiting.
#pragma once
#include "base/settings.h"
#include "mem/memdsc.h"

#include <atomic>

extern bool alloc_busy; // AllocU1 is running: a second entry ends the program
// (fail_countdown, the failure hook, is one of the switches in base/settings.h.)

// The flag stays out of the switches' word: it is written on every quick call, and a wide
// load just after a narrow store has to wait for it.
TAP_HOT bool AllocQuiet() {
  return !alloc_busy && AllocSwitchesOff();
}

// Re-entry from a signal handler must still find the flag set while the books change.
struct AllocBusy {
  AllocBusy() {
    *static_cast<volatile bool*>(&alloc_busy) = true;
    std::atomic_signal_fence(std::memory_order_seq_cst);
  }
  ~AllocBusy() {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    *static_cast<volatile bool*>(&alloc_busy) = false;
  }
  AllocBusy(const AllocBusy&) = delete;
  AllocBusy& operator=(const AllocBusy&) = delete;
};
