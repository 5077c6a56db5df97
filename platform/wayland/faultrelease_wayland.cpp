// Input held when a fault ends the run. The compositor releases a virtual keyboard's keys
// when its client's connection goes, but not a virtual pointer's buttons: the handler writes
// those releases itself, whole wire messages, shuts its side of the socket and waits (at most
// kHangUpWaitMsecs) for the compositor to hang up, which it does only after handling what
// came before. All of it is async-signal-safe, and it happens before the fault's report.
#include "platform/wayland/wayland_desktop.h"

#include "platform/inputrelease.h"

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <initializer_list>

namespace {

constexpr long kHangUpWaitMsecs = 1000;
constexpr std::uint32_t kButtonCodes[] = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE};

std::atomic<int> armedFd{-1};
std::atomic<std::uint32_t> pointerObject{0};
std::atomic<unsigned> buttonsHeld{0}; // bit i: kButtonCodes[i], as the compositor got them
static_assert(std::atomic<int>::is_always_lock_free &&
              std::atomic<std::uint32_t>::is_always_lock_free &&
              std::atomic<unsigned>::is_always_lock_free);

long MonotonicMsecs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

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

void SendAll(int fd, const char* p, std::size_t left, long deadline) {
  while (left > 0) {
    ssize_t n = send(fd, p, left, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      p += n, left -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return;
    pollfd pf = {fd, POLLOUT, 0};
    long wait = deadline - MonotonicMsecs();
    if (wait <= 0 || poll(&pf, 1, static_cast<int>(wait)) < 0) return;
  }
}

void ReleaseButtons(int fd, long deadline) {
  const unsigned held = buttonsHeld.load();
  const std::uint32_t pointer = pointerObject.load();
  if (!held || !pointer) return;
  std::uint32_t words[3 * 5 + 2];
  std::size_t n = 0;
  const auto time = static_cast<std::uint32_t>(MonotonicMsecs());
  for (std::size_t i = 0; i < 3; ++i)
    if (held & (1u << i))
      n += Encode(words + n, pointer, ZWLR_VIRTUAL_POINTER_V1_BUTTON,
                  {time, kButtonCodes[i], WL_POINTER_BUTTON_STATE_RELEASED});
  n += Encode(words + n, pointer, ZWLR_VIRTUAL_POINTER_V1_FRAME, {});
  SendAll(fd, reinterpret_cast<const char*>(words), n * sizeof words[0], deadline);
}

void WaitForHangUp(int fd, long deadline) {
  char discard[4096];
  for (long wait; (wait = deadline - MonotonicMsecs()) > 0;) {
    pollfd pf = {fd, POLLIN, 0};
    int ready = poll(&pf, 1, static_cast<int>(wait));
    if (ready < 0 && errno != EINTR) return;
    if (ready > 0 && read(fd, discard, sizeof discard) <= 0) return;
  }
}

void ReleaseOnFault() {
  const int fd = armedFd.load();
  if (fd < 0) return;
  const long deadline = MonotonicMsecs() + kHangUpWaitMsecs;
  ReleaseButtons(fd, deadline);
  shutdown(fd, SHUT_WR);
  WaitForHangUp(fd, deadline);
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
  unsigned held = 0;
  for (std::size_t i = 0; i < 3; ++i)
    if (buttonsDown_[i]) held |= 1u << i;
  buttonsHeld.store(held);
}
