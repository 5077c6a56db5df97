#include "platform/console.h"

#include <cerrno>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool mode_saved = false;
termios saved_mode{};
bool mouse_reporting = false;
std::string undecoded;
std::deque<KbEvent> events;

// Waits up to msecs for input; true when some is there.
bool InputWithin(int msecs) {
  pollfd p{STDIN_FILENO, POLLIN, 0};
  return poll(&p, 1, msecs) > 0 && (p.revents & (POLLIN | POLLHUP));
}

bool ReadAvailable() {
  char bf[256];
  while (InputWithin(0)) {
    const ssize_t n = read(STDIN_FILENO, bf, sizeof bf);
    if (n < 0 && errno == EINTR) return true; // a signal: the caller looks at it
    if (n <= 0) return n == 0 || errno == EAGAIN;
    undecoded.append(bf, size_t(n));
  }
  return true;
}

void WriteOut(const char* text) {
  size_t len = 0;
  while (text[len])
    ++len;
  while (len > 0) {
    const ssize_t n = write(STDOUT_FILENO, text, len);
    if (n <= 0) return;
    text += n;
    len -= size_t(n);
  }
}

void Decode(bool final) {
  std::vector<KbEvent> out;
  const size_t used = DecodeTerminalInput(undecoded.data(), undecoded.size(), final, &out);
  undecoded.erase(0, used);
  for (const KbEvent& e : out)
    events.push_back(e);
}

} // namespace

bool PlatformKbOpen(bool raw, const char** failed, U4* code) {
  if (isatty(STDIN_FILENO) != 1) return true; // redirected input is read as it comes
  termios t{};
  if (tcgetattr(STDIN_FILENO, &t) != 0) {
    *failed = "tcgetattr";
    *code = U4(errno);
    return false;
  }
  if (!mode_saved) saved_mode = t;
  // Keys one at a time without echo; Ctrl-C stays a signal so that a busy program can
  // still be stopped, while Ctrl-\ and Ctrl-Z become plain keys.
  t.c_lflag &= tcflag_t(~(ICANON | ECHO | IEXTEN));
  t.c_iflag &= tcflag_t(~(IXON | ICRNL | INLCR | IGNCR));
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  t.c_cc[VQUIT] = _POSIX_VDISABLE;
  t.c_cc[VSUSP] = _POSIX_VDISABLE;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &t) != 0) {
    *failed = "tcsetattr";
    *code = U4(errno);
    return false;
  }
  mode_saved = true;
  if (raw && isatty(STDOUT_FILENO) == 1) {
    WriteOut("\x1b[?1000h\x1b[?1006h"); // button and wheel reports, SGR form
    mouse_reporting = true;
  }
  return true;
}

bool PlatformKbClose(const char** failed, U4* code) {
  undecoded.clear();
  events.clear();
  if (mouse_reporting) {
    WriteOut("\x1b[?1006l\x1b[?1000l");
    mouse_reporting = false;
  }
  if (!mode_saved) return true;
  mode_saved = false;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode) != 0) {
    *failed = "tcsetattr";
    *code = U4(errno);
    return false;
  }
  return true;
}

bool PlatformKbEventCount(U4* count, const char** failed, U4* code) {
  if (!ReadAvailable()) {
    *failed = "read";
    *code = U4(errno);
    return false;
  }
  Decode(false);
  // An escape sequence cut short: the rest follows at once, or it was the Esc key.
  if (!undecoded.empty()) {
    if (InputWithin(30)) ReadAvailable();
    Decode(!InputWithin(0));
  }
  *count = U4(events.size());
  return true;
}

bool PlatformKbReadEvent(KbEvent* ev, const char** failed, U4* code) {
  if (events.empty()) {
    *failed = "read";
    *code = EAGAIN;
    return false;
  }
  *ev = events.front();
  events.pop_front();
  return true;
}

bool PlatformKbHitPlain() {
  return InputWithin(0);
}

int PlatformStdinKind() {
  if (fcntl(STDIN_FILENO, F_GETFD) == -1) return 0;
  return isatty(STDIN_FILENO) == 1 ? 1 : 2;
}

int PlatformStdinByte() {
  unsigned char c = 0;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno == EINTR) continue;
    return -1;
  }
}

int PlatformConsoleGetch() {
  termios saved{};
  const bool tty = tcgetattr(STDIN_FILENO, &saved) == 0;
  if (tty) {
    termios t = saved;
    // Ctrl-C arrives as the character 3 here, as the console's own reading gives it.
    t.c_lflag &= tcflag_t(~(ICANON | ECHO | ISIG | IEXTEN));
    t.c_iflag &= tcflag_t(~(IXON | ICRNL));
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &t);
  }
  const int c = PlatformStdinByte();
  if (tty) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  return c;
}

// Terminals have no clipboard of their own that a program could read.
bool PlatformClipboardText(std::string*) {
  return false;
}
