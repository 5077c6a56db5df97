#include "platform/clipboard.h"

#include "platform/syserr.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// The CLIPBOARD selection. X keeps no clipboard contents of its own: the owner hands the
// text to whoever asks, so a copy to the clipboard leaves a small process behind that
// serves the text until another program takes the clipboard over or the display ends.
namespace {
constexpr const char kNoDisplay[] = "Clipboard not supported (no X display)";

struct Atoms {
  Atom clipboard, utf8, targets, text, property;
};

Atoms AtomsOf(Display* dpy) {
  return {XInternAtom(dpy, "CLIPBOARD", False), XInternAtom(dpy, "UTF8_STRING", False),
          XInternAtom(dpy, "TARGETS", False), XInternAtom(dpy, "TEXT", False),
          XInternAtom(dpy, "TAPSTER_CLIPBOARD", False)};
}

Window HiddenWindow(Display* dpy) {
  return XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
}

// Waits up to ms for the event of type on w.
bool WaitEvent(Display* dpy, Window w, int type, XEvent* ev, int ms) {
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    if (XCheckTypedWindowEvent(dpy, w, type, ev)) return true;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long spent = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (spent >= ms) return false;
    pollfd pfd{ConnectionNumber(dpy), POLLIN, 0};
    poll(&pfd, 1, int(ms - spent));
  }
}

// The owner's text in target, or false when the owner does not offer it.
bool Convert(Display* dpy, Window w, const Atoms& a, Atom target, std::string* text) {
  XConvertSelection(dpy, a.clipboard, target, a.property, w, CurrentTime);
  XEvent ev;
  if (!WaitEvent(dpy, w, SelectionNotify, &ev, 5000) || ev.xselection.property == None)
    return false;
  Atom type = None;
  int format = 0;
  unsigned long n = 0, left = 0;
  unsigned char* data = nullptr;
  const bool ok = XGetWindowProperty(dpy, w, a.property, 0, 0x4000000, True, AnyPropertyType, &type,
                                     &format, &n, &left, &data) == Success &&
                  format == 8;
  if (ok) text->assign(reinterpret_cast<const char*>(data), n);
  if (data) XFree(data);
  return ok;
}

void Answer(Display* dpy, const XSelectionRequestEvent& rq, const Atoms& a,
            const std::string& text) {
  XSelectionEvent reply{};
  reply.type = SelectionNotify;
  reply.requestor = rq.requestor;
  reply.selection = rq.selection;
  reply.target = rq.target;
  reply.time = rq.time;
  reply.property = rq.property != None ? rq.property : rq.target;
  if (rq.target == a.targets) {
    const Atom offered[] = {a.targets, a.utf8, XA_STRING, a.text};
    XChangeProperty(dpy, rq.requestor, reply.property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(offered), 4);
  } else if (rq.target == a.utf8 || rq.target == XA_STRING || rq.target == a.text) {
    XChangeProperty(dpy, rq.requestor, reply.property, rq.target, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
  } else {
    reply.property = None;
  }
  XSendEvent(dpy, rq.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
  XFlush(dpy);
}

// The serving process: owns the clipboard, tells the program through ready, and answers
// requests until the clipboard passes to another owner.
[[noreturn]] void Serve(const std::string& text, int ready) {
  // Nothing of the program's own is held open: a reader of its output sees it end.
  const int null = open("/dev/null", O_RDWR);
  for (int fd = 0; fd < 3; ++fd)
    dup2(null, fd);
  for (int fd = 3, top = int(sysconf(_SC_OPEN_MAX)); fd < top && fd < 65536; ++fd)
    if (fd != ready) close(fd);
  XSetIOErrorHandler([](Display*) -> int { _exit(0); });
  Display* dpy = XOpenDisplay(nullptr);
  char ok = 0;
  Window w = None;
  Atoms a{};
  if (dpy) {
    a = AtomsOf(dpy);
    w = HiddenWindow(dpy);
    XSetSelectionOwner(dpy, a.clipboard, w, CurrentTime);
    ok = XGetSelectionOwner(dpy, a.clipboard) == w ? 1 : 0;
  }
  (void)!write(ready, &ok, 1);
  close(ready);
  if (ok) {
    // A display that goes away ends the process through Xlib's fatal-error exit.
    for (;;) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type == SelectionClear) break;
      if (ev.type == SelectionRequest) Answer(dpy, ev.xselectionrequest, a, text);
    }
  }
  _exit(ok ? 0 : 1);
}
} // namespace

bool PlatformClipboardGet(std::string* text, const char** why) {
  text->clear();
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    SetPlatformLastError(ENXIO);
    *why = kNoDisplay;
    return false;
  }
  const Atoms a = AtomsOf(dpy);
  bool ok = true;
  if (XGetSelectionOwner(dpy, a.clipboard) != None) {
    const Window w = HiddenWindow(dpy);
    ok = Convert(dpy, w, a, a.utf8, text) || Convert(dpy, w, a, XA_STRING, text);
    if (!ok) {
      SetPlatformLastError(ETIMEDOUT);
      *why = "XConvertSelection";
    }
  }
  XCloseDisplay(dpy);
  return ok;
}

bool PlatformClipboardSet(const char* text, U4 len, const char** why) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    SetPlatformLastError(ENXIO);
    *why = kNoDisplay;
    return false;
  }
  const std::string copy(text, len);
  int fds[2];
  if (pipe(fds) != 0) {
    SetPlatformLastError(U4(errno));
    *why = "pipe";
    return false;
  }
  std::fflush(nullptr);
  // Twice forked, so that the server belongs to no one who must wait for it.
  const pid_t middle = fork();
  if (middle == 0) {
    close(fds[0]);
    if (fork() == 0) Serve(copy, fds[1]);
    _exit(0);
  }
  close(fds[1]);
  char ok = 0;
  const bool started = middle > 0 && read(fds[0], &ok, 1) == 1 && ok == 1;
  close(fds[0]);
  if (middle > 0) waitpid(middle, nullptr, 0);
  if (!started) {
    SetPlatformLastError(middle < 0 ? U4(errno) : ENXIO);
    *why = middle < 0 ? "fork" : kNoDisplay;
  }
  return started;
}
