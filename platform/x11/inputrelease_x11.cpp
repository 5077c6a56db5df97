#include "platform/x11/inputrelease_x11.h"

#include "platform/inputrelease.h"
#include "platform/posix/socketio_posix.h"

#include <X11/Xproto.h>
#include <X11/extensions/xtestproto.h>

#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

std::atomic<const X11InputRelease*> active{nullptr};

void ReleaseActive() {
  if (const X11InputRelease* r = active.load()) r->SendFromHandler();
}

// Reads what fd sends until a reply (not an event or error) has come, or limit msecs pass.
void ReadUntilReply(int fd, long limit) {
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  unsigned char unit[32];
  std::size_t have = 0;
  while (WaitForSocket(fd, POLLIN, start, limit)) {
    ssize_t n = recv(fd, unit + have, sizeof unit - have, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return;
    if (n > 0) have += static_cast<std::size_t>(n);
    if (have < sizeof unit) continue;
    if (unit[0] == X_Reply) return;
    have = 0;
  }
}

// A request whose reply tells that everything before it was read.
bool SendRoundTrip(int fd) {
  xReq sync{};
  sync.reqType = X_GetInputFocus;
  sync.length = 1;
  return SocketSendAll(fd, reinterpret_cast<const unsigned char*>(&sync), sizeof sync, 2000);
}

void Pause(long msecs) {
  timespec left{0, msecs * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

} // namespace

X11InputRelease::~X11InputRelease() {
  const X11InputRelease* self = this;
  if (active.compare_exchange_strong(self, nullptr)) PlatformSetInputRelease(nullptr);
  // Releases queued for a frozen server stay queued: the socket is left to the end of the
  // process. Closing politely is a round trip, which such a server would never answer.
  if (!idle_ || sent_) return;
  shutdown(idleFd_, SHUT_RDWR);
  XCloseDisplay(idle_);
}

bool X11InputRelease::Prepare(Display* main, const char* displayName) {
  if (tried_) return idle_ != nullptr;
  tried_ = true;
  int event, error;
  if (!XQueryExtension(main, "XTEST", &xtestOpcode_, &event, &error)) return false;
  main_ = main;
  mainFd_ = ConnectionNumber(main);
  idle_ = XOpenDisplay(displayName);
  if (!idle_) return false;
  idleFd_ = ConnectionNumber(idle_);
  XSetIOErrorExitHandler(
      idle_, [](Display*, void*) {}, nullptr);
  // One run, one desktop that injects: the first one keeps the handler.
  const X11InputRelease* none = nullptr;
  if (active.compare_exchange_strong(none, this)) PlatformSetInputRelease(ReleaseActive);
  return true;
}

void X11InputRelease::Key(unsigned keycode, bool down, unsigned long serial) {
  Note(KeyPress, keycode, down, serial);
}

void X11InputRelease::Button(unsigned button, bool down, unsigned long serial) {
  Note(ButtonPress, button, down, serial);
}

void X11InputRelease::Note(unsigned char type, unsigned detail, bool down, unsigned long serial) {
  if (detail > 255) return;
  auto held = std::find_if(held_.begin(), held_.end(),
                           [&](const Held& h) { return h.type == type && h.detail == detail; });
  if (down) {
    if (held != held_.end()) held_.erase(held);
    held_.push_back({type, static_cast<unsigned char>(detail), 0});
  } else if (held != held_.end()) {
    // Until the server has carried the release out, it may still be waiting in a buffer.
    held->releasedAt = serial;
  }
  PublishReleases();
}

void X11InputRelease::PublishReleases() {
  const unsigned long done = main_ ? LastKnownRequestProcessed(main_) : 0;
  held_.erase(std::remove_if(held_.begin(), held_.end(),
                             [&](const Held& h) { return h.releasedAt && h.releasedAt <= done; }),
              held_.end());
  Requests& draft = releases_.Draft();
  draft.size = 0;
  // The latest pressed goes up first, as a hand lets go of a chord.
  for (auto h = held_.rbegin(); h != held_.rend() && draft.size < sizeof draft.bytes; ++h) {
    xXTestFakeInputReq req{};
    req.reqType = static_cast<CARD8>(xtestOpcode_);
    req.xtReqType = X_XTestFakeInput;
    req.length = sz_xXTestFakeInputReq / 4;
    req.type = h->type == KeyPress ? KeyRelease : ButtonRelease;
    req.detail = h->detail;
    static_assert(sizeof req == kFakeInputSize);
    std::memcpy(draft.bytes + draft.size, &req, sizeof req);
    draft.size += sizeof req;
  }
  releases_.Publish();
}

void X11InputRelease::Lent(const std::vector<KeyCode>& codes, int symsPerCode) {
  DrainIdle(); // each change of the mapping sends every client a notice
  Requests& draft = mapping_.Draft();
  draft.size = 0;
  const std::size_t one = sz_xChangeKeyboardMappingReq + 4 * static_cast<std::size_t>(symsPerCode);
  for (KeyCode code : codes) {
    if (draft.size + one > sizeof draft.bytes) break;
    xChangeKeyboardMappingReq req{};
    req.reqType = X_ChangeKeyboardMapping;
    req.keyCodes = 1;
    req.length = static_cast<CARD16>(one / 4);
    req.firstKeyCode = code;
    req.keySymsPerKeyCode = static_cast<CARD8>(symsPerCode);
    std::memcpy(draft.bytes + draft.size, &req, sizeof req);
    std::memset(draft.bytes + draft.size + sizeof req, 0, one - sizeof req); // NoSymbol
    draft.size += one;
  }
  mapping_.Publish();
}

void X11InputRelease::DrainIdle() const {
  unsigned char scrap[4096];
  while (idleFd_ >= 0 && recv(idleFd_, scrap, sizeof scrap, MSG_DONTWAIT) > 0) {
  }
}

void X11InputRelease::SendAfterResume(int fd) const {
  if (fd != mainFd_ || idleFd_ < 0 || sent_.exchange(true)) return;
  // The idle connection is always at a request boundary, unlike the stuck one. The server
  // holds the first release back (XTEST's delay), so that what the main connection had
  // sent before it froze is carried out first.
  constexpr CARD32 kResumeDelayMsecs = 500;
  Requests keys = releases_.Current();
  if (keys.size >= kFakeInputSize) {
    xXTestFakeInputReq first;
    std::memcpy(&first, keys.bytes, sizeof first);
    first.time = kResumeDelayMsecs;
    std::memcpy(keys.bytes, &first, sizeof first);
  }
  const Requests& mapping = mapping_.Current();
  if (keys.size == 0 && mapping.size == 0) return;
  if (!SocketSendAll(idleFd_, keys.bytes, keys.size, 0) ||
      !SocketSendAll(idleFd_, mapping.bytes, mapping.size, 0) || !SendRoundTrip(idleFd_))
    return;
  // The server drops what a closed connection left unread: a small process of its own
  // keeps the idle one open until the server has answered, or gives up after minutes.
  if (fork() != 0) return;
  for (int other = 0; other < 4096; ++other)
    if (other != idleFd_) close(other);
  ReadUntilReply(idleFd_, 5 * 60 * 1000);
  _exit(0);
}

void X11InputRelease::SendFromHandler() const {
  if (sent_.exchange(true)) return;
  constexpr long kServerMsecs = 2000;
  // What the main connection sent must be carried out before the releases: the server
  // closes it only after its last request.
  shutdown(mainFd_, SHUT_WR);
  SocketReadUntilClosed(mainFd_, kServerMsecs);
  const Requests& keys = releases_.Current();
  const Requests& mapping = mapping_.Current();
  if (!SocketSendAll(idleFd_, keys.bytes, keys.size, kServerMsecs)) return;
  if (mapping.size) {
    // The target reads the symbol of a lent key code when it takes the event.
    Pause(200);
    if (!SocketSendAll(idleFd_, mapping.bytes, mapping.size, kServerMsecs)) return;
  }
  // A round trip: the server has read all of it before the process ends.
  DrainIdle();
  if (SendRoundTrip(idleFd_)) ReadUntilReply(idleFd_, kServerMsecs);
}
