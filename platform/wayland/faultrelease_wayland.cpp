// Input held when a fault ends the run. The compositor releases a virtual keyboard's keys
// when its client's connection goes, but not a virtual pointer's buttons: the handler writes
// those releases itself, whole wire messages, shuts its side of the socket and waits (at most
// kHangUpWaitMsecs) for the compositor to hang up, which it does only after handling what
// came before. All of it is async-signal-safe, and it happens before the fault's report.
#include "platform/wayland/wayland_desktop.h"

#include "platform/inputrelease.h"
#include "platform/posix/socketio_posix.h"

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <sys/socket.h>
#include <time.h>

#include <atomic>
#include <cstddef>
#include <initializer_list>

namespace {

constexpr long kHangUpWaitMsecs = 1000;

std::atomic<int> armedFd{-1};
std::atomic<std::uint32_t> pointerObject{0};
// The evdev codes of the buttons the compositor got pressed, 0 for none.
std::atomic<std::uint32_t> buttonsHeld[kPointerButtons];
static_assert(std::atomic<int>::is_always_lock_free &&
              std::atomic<std::uint32_t>::is_always_lock_free);

// One request on the wire: its object, its size and opcode, then its arguments.
std::size_t Encode(std::uint32_t* out, std::uint32_t object, std::uint32_t opcode,
                   std::initializer_list<std::uint32_t> args) {
  std::size_t n = 0;
  out[n++] = object;
  out[n++] = static_cast<std::uint32_t>((2 + args.size()) * 4) << 16 | opcode;
  for (std::uint32_t a : args)
    out[n++] = a;
  return n;
}

void ReleaseButtons(int fd, const timespec& now) {
  const std::uint32_t pointer = pointerObject.load();
  if (!pointer) return;
  std::uint32_t words[kPointerButtons * 5 + 2];
  std::size_t n = 0;
  const auto time = static_cast<std::uint32_t>(now.tv_sec * 1000L + now.tv_nsec / 1000000L);
  for (const std::atomic<std::uint32_t>& held : buttonsHeld)
    if (const std::uint32_t button = held.load())
      n += Encode(words + n, pointer, ZWLR_VIRTUAL_POINTER_V1_BUTTON,
                  {time, button, WL_POINTER_BUTTON_STATE_RELEASED});
  if (n == 0) return;
  n += Encode(words + n, pointer, ZWLR_VIRTUAL_POINTER_V1_FRAME, {});
  SocketSendAll(fd, reinterpret_cast<const unsigned char*>(words), n * sizeof words[0],
                kHangUpWaitMsecs);
}

void ReleaseOnFault() {
  const int fd = armedFd.load();
  if (fd < 0) return;
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  ReleaseButtons(fd, start);
  shutdown(fd, SHUT_WR);
  SocketReadUntilClosed(fd, kHangUpWaitMsecs - MsecsSince(start));
}

} // namespace

void WaylandDesktop::ArmFaultRelease() {
  // One run, one desktop that injects: the first one keeps the handler.
  int none = -1;
  faultArmed_ = armedFd.compare_exchange_strong(none, wl_display_get_fd(display_));
  if (faultArmed_) PlatformSetInputRelease(ReleaseOnFault);
}

void WaylandDesktop::DisarmFaultRelease() {
  if (!faultArmed_) return;
  PlatformSetInputRelease(nullptr);
  armedFd.store(-1);
  faultArmed_ = false;
}

void WaylandDesktop::NoteButtonsSent() {
  if (!faultArmed_) return;
  pointerObject.store(wl_proxy_get_id(reinterpret_cast<wl_proxy*>(pointer_)));
  for (std::size_t i = 0; i < kPointerButtons; ++i)
    buttonsHeld[i].store(buttonsDown_[i]);
}
