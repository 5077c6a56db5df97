// A window that writes every key, button, motion and focus event it receives to a file,
// one line each, flushed at once, and "ready" once it is mapped.
//
//   testwin_x11 --out FILE [--title T] [--class C] [--child TITLE] [--delay MS]
//               [--geometry WxH+X+Y] [--latin1-name] [--lifetime SECONDS] [--others N]
//               [--close-after N]
//
// --others N adds N more small titled top-level windows ("Other 1" ...), a busy desktop.
// --close-after N destroys the window and ends once it has read N key presses.
// SIGUSR1 puts the window at the bottom of the stack again, behind all others.
//
// Lines (window "top" or "child"):
//   ready top=0x... child=0x...
//   KeyPress win=top code=38 sym=a text=61 state=0x0      (text: the bytes produced, hex)
//   KeyRelease win=top code=38 sym=a
//   ButtonPress win=top button=1 x=20 y=10 root=120,60
//   ButtonRelease win=top button=1 x=20 y=10 root=120,60
//   Motion win=top x=20 y=10 root=120,60
//   FocusIn win=top mode=0 detail=3   /  FocusOut win=top mode=0 detail=3
//   Mapping request=1 first=8 count=248  (the keyboard mapping changed)
//   closed                               (--close-after: the window is gone)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {
FILE* out = nullptr;
volatile sig_atomic_t lowerWanted = 0;
Window top = 0, child = 0;

void Line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Line(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(out, fmt, ap);
  va_end(ap);
  std::fputc('\n', out);
  std::fflush(out);
}

const char* Which(Window w) {
  return w == child ? "child" : w == top ? "top" : "other";
}

void SetTitle(Display* dpy, Window w, const std::string& title, bool latin1) {
  if (!latin1) {
    Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    XChangeProperty(dpy, w, XInternAtom(dpy, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
  }
  XChangeProperty(dpy, w, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title.data()),
                  static_cast<int>(title.size()));
}

int Usage() {
  std::fprintf(stderr, "usage: testwin_x11 --out FILE [--title T] [--class C] [--child TITLE]"
                       " [--delay MS] [--geometry WxH+X+Y] [--latin1-name] [--lifetime S]"
                       " [--others N] [--close-after N]\n");
  return 2;
}
} // namespace

int main(int argc, char** argv) {
  std::string title = "Tapster Test", cls = "TapsterTest", childTitle, outName;
  int delayMs = 0, lifetime = 300, others = 0, closeAfter = 0;
  unsigned width = 300, height = 200;
  int x = 100, y = 50;
  bool latin1 = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--latin1-name") {
      latin1 = true;
      continue;
    }
    if (!(v = value())) return Usage();
    if (a == "--title")
      title = v;
    else if (a == "--class")
      cls = v;
    else if (a == "--child")
      childTitle = v;
    else if (a == "--out")
      outName = v;
    else if (a == "--delay")
      delayMs = std::atoi(v);
    else if (a == "--lifetime")
      lifetime = std::atoi(v);
    else if (a == "--others")
      others = std::atoi(v);
    else if (a == "--close-after")
      closeAfter = std::atoi(v);
    else if (a == "--geometry") {
      if (std::sscanf(v, "%ux%u+%d+%d", &width, &height, &x, &y) != 4) return Usage();
    } else
      return Usage();
  }
  if (outName.empty()) return Usage();
  out = std::fopen(outName.c_str(), "a");
  if (!out) {
    std::perror(outName.c_str());
    return 1;
  }
  if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));

  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    std::fprintf(stderr, "testwin_x11: cannot open display\n");
    return 1;
  }
  int screen = DefaultScreen(dpy);
  long events = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                PointerMotionMask | FocusChangeMask | StructureNotifyMask | ExposureMask;
  XSetWindowAttributes attrs{};
  attrs.background_pixel = WhitePixel(dpy, screen);
  attrs.event_mask = events;
  // The event mask comes with the window itself, so nothing sent once the title exists
  // can be missed.
  top = XCreateWindow(dpy, RootWindow(dpy, screen), x, y, width, height, 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attrs);
  if (!childTitle.empty()) {
    attrs.background_pixel = BlackPixel(dpy, screen);
    attrs.event_mask = events & ~StructureNotifyMask;
    child = XCreateWindow(dpy, top, static_cast<int>(width) / 2, static_cast<int>(height) / 2,
                          width / 3, height / 3, 0, CopyFromParent, InputOutput, CopyFromParent,
                          CWBackPixel | CWEventMask, &attrs);
    SetTitle(dpy, child, childTitle, latin1);
    XMapWindow(dpy, child);
  }
  XSizeHints size{};
  size.flags = USPosition | USSize;
  size.x = x, size.y = y, size.width = static_cast<int>(width),
  size.height = static_cast<int>(height);
  XWMHints hints{};
  hints.flags = InputHint | StateHint;
  hints.input = True;
  hints.initial_state = NormalState;
  std::string instance = cls;
  XClassHint classHint{instance.data(), cls.data()};
  XSetWMProperties(dpy, top, nullptr, nullptr, argv, argc, &size, &hints, &classHint);
  long pid = getpid();
  XChangeProperty(dpy, top, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
  SetTitle(dpy, top, title, latin1);
  // Xlib loads its keyboard description, and asks to hear of changes to it, only at the
  // first key lookup; done late, a key code bound just before its first event goes unseen.
  XKeyEvent probe{};
  probe.type = KeyPress;
  probe.display = dpy;
  probe.keycode = static_cast<unsigned>(XKeysymToKeycode(dpy, XK_space));
  char scratch[8];
  XLookupString(&probe, scratch, sizeof scratch, nullptr, nullptr);
  XSync(dpy, False);
  for (int i = 1; i <= others; ++i) {
    Window w = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), (i * 7) % 900, (i * 3) % 700, 10,
                                   10, 0, 0, WhitePixel(dpy, screen));
    SetTitle(dpy, w, "Other " + std::to_string(i), latin1);
    XMapWindow(dpy, w);
  }
  XMapWindow(dpy, top);
  XFlush(dpy);

  signal(SIGUSR1, [](int) { lowerWanted = 1; });
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetime);
  bool ready = false;
  for (;;) {
    while (XPending(dpy)) {
      XEvent e;
      XNextEvent(dpy, &e);
      switch (e.type) {
      case MapNotify:
        if (e.xmap.window == top && !ready) {
          ready = true;
          Line("ready top=0x%lx child=0x%lx", top, child);
        }
        break;
      case MappingNotify:
        XRefreshKeyboardMapping(&e.xmapping);
        Line("Mapping request=%d first=%d count=%d", e.xmapping.request, e.xmapping.first_keycode,
             e.xmapping.count);
        break;
      case KeyPress:
      case KeyRelease: {
        char text[32];
        KeySym sym = NoSymbol;
        int n = XLookupString(&e.xkey, text, sizeof text, &sym, nullptr);
        const char* name = sym != NoSymbol ? XKeysymToString(sym) : nullptr;
        if (e.type == KeyRelease) {
          Line("KeyRelease win=%s code=%u sym=%s", Which(e.xkey.window), e.xkey.keycode,
               name ? name : "NoSymbol");
          break;
        }
        std::string hex;
        for (int i = 0; i < n; ++i) {
          char b[4];
          std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(text[i]));
          hex += b;
        }
        Line("KeyPress win=%s code=%u sym=%s text=%s state=0x%x", Which(e.xkey.window),
             e.xkey.keycode, name ? name : "NoSymbol", hex.c_str(), e.xkey.state);
        if (closeAfter > 0 && --closeAfter == 0) {
          XDestroyWindow(dpy, top);
          XSync(dpy, False);
          Line("closed");
          XCloseDisplay(dpy);
          return 0;
        }
        break;
      }
      case ButtonPress:
      case ButtonRelease:
        Line("%s win=%s button=%u x=%d y=%d root=%d,%d",
             e.type == ButtonPress ? "ButtonPress" : "ButtonRelease", Which(e.xbutton.window),
             e.xbutton.button, e.xbutton.x, e.xbutton.y, e.xbutton.x_root, e.xbutton.y_root);
        break;
      case MotionNotify:
        Line("Motion win=%s x=%d y=%d root=%d,%d", Which(e.xmotion.window), e.xmotion.x,
             e.xmotion.y, e.xmotion.x_root, e.xmotion.y_root);
        break;
      case FocusIn:
      case FocusOut:
        Line("%s win=%s mode=%d detail=%d", e.type == FocusIn ? "FocusIn" : "FocusOut",
             Which(e.xfocus.window), e.xfocus.mode, e.xfocus.detail);
        break;
      default:
        break;
      }
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    end - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) break;
    pollfd fd{ConnectionNumber(dpy), POLLIN, 0};
    if (lowerWanted) {
      lowerWanted = 0;
      XLowerWindow(dpy, top);
      XSync(dpy, False);
      Line("lowered");
    }
    if (poll(&fd, 1, static_cast<int>(std::min<long long>(left, 1000))) < 0 && errno != EINTR)
      break;
    if (fd.revents & (POLLHUP | POLLERR)) break;
  }
  XCloseDisplay(dpy);
  return 0;
}
