// The X11 desktop's connection: opening the display, X errors and a lost connection,
// and the property reads everything else is built on.
#include "platform/x11/x11desktop.h"

#include "errlog/errstack.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

const char* const kAtomNames[kAtomCount] = {
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_CLIENT_LIST",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_ACTIVE_WINDOW",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "_NET_WM_PID",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_STATE_MAXIMIZED_VERT",
    "_NET_WM_STATE_MAXIMIZED_HORZ",
    "WM_STATE",
};

std::vector<X11Desktop*> live_desktops;

std::string Hex(unsigned long value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%lx", value);
  return text;
}

X11Desktop* DesktopOf(Display* dpy) {
  for (X11Desktop* d : live_desktops)
    if (d->display() == dpy) return d;
  return nullptr;
}

int OnXError(Display* dpy, XErrorEvent* event) {
  if (X11Desktop* d = DesktopOf(dpy)) d->RecordError(*event);
  return 0;
}

int OnXIOError(Display* dpy) {
  if (X11Desktop* d = DesktopOf(dpy)) d->ConnectionLost();
  return 0;
}

// Returning instead of ending the process leaves the connection dead but the program in
// charge: every later call reports the loss.
void OnXIOExit(Display* dpy, void*) {
  if (X11Desktop* d = DesktopOf(dpy)) d->ConnectionLost();
}

} // namespace

X11Desktop::X11Desktop(const char* displayName) {
  if (displayName) name_ = displayName, named_ = true;
  live_desktops.push_back(this);
  // A server that froze mid-text must find the releases behind the presses when it wakes.
  watchdog_.BeforeGiveUp([this](int fd) { release_.SendAfterResume(fd); });
}

X11Desktop::~X11Desktop() {
  XCall call(this);
  if (dpy_ && !lost_) RestoreSpareKeys();
  if (modmap_) XFreeModifiermap(modmap_);
  if (xkb_) XkbFreeKeyboard(xkb_, 0, True);
  // After a lost connection Xlib sends nothing more and only frees the display's memory.
  if (dpy_) XCloseDisplay(dpy_);
  live_desktops.erase(std::remove(live_desktops.begin(), live_desktops.end(), this),
                      live_desktops.end());
}

void X11Desktop::RecordError(const XErrorEvent& event) {
  if (errors_.size() >= 16) return;
  XErrorRecord r;
  r.serial = event.serial;
  r.code = event.error_code;
  r.request = event.request_code;
  r.minor = event.minor_code;
  r.resource = event.resourceid;
  errors_.push_back(r);
}

void X11Desktop::PushLost() {
  if (watchdog_.TimedOut()) {
    PushNoAnswer("X11");
    return;
  }
  SeMErrMult("X11: the connection to display \"", DisplayString(dpy_), "\" was lost", nullptr);
}

void X11Desktop::PushNoAnswer(const char* call) {
  char limit[24];
  std::snprintf(limit, sizeof limit, "%lld", watchdog_.LimitSeconds());
  SeMErrMult(call, ": display \"", name_.c_str(), "\" did not answer within ", limit, " seconds",
             nullptr);
}

bool X11Desktop::Ready() {
  // A fault handler has the connection now; the program is ending.
  if (PlatformInputReleased()) return false;
  if (dpy_) {
    if (lost_) {
      PushLost();
      return false;
    }
    ReportLateErrors();
    return true;
  }
  if (!named_) {
    const char* env = std::getenv("DISPLAY");
    name_ = env ? env : "";
  }
  if (openFailed_ || name_.empty()) {
    openFailed_ = true;
    if (name_.empty())
      SeMErrMult("XOpenDisplay: cannot open display (DISPLAY is not set)", nullptr);
    else
      SeMErrMult("XOpenDisplay: cannot open display \"", name_.c_str(), "\"", nullptr);
    return false;
  }
  XSetErrorHandler(OnXError);
  XSetIOErrorHandler(OnXIOError);
  // A server that accepts the connection and then says nothing would hold the open forever.
  watchdog_.Watch(NextFileDescriptor());
  dpy_ = XOpenDisplay(name_.c_str());
  if (!dpy_) {
    openFailed_ = true;
    if (watchdog_.TimedOut())
      PushNoAnswer("XOpenDisplay");
    else
      SeMErrMult("XOpenDisplay: cannot open display \"", name_.c_str(), "\"", nullptr);
    return false;
  }
  watchdog_.Watch(ConnectionNumber(dpy_));
  XSetIOErrorExitHandler(dpy_, OnXIOExit, nullptr);
  int event, error, major, minor;
  if (!XTestQueryExtension(dpy_, &event, &error, &major, &minor)) {
    XCloseDisplay(dpy_);
    dpy_ = nullptr;
    openFailed_ = true;
    SeMErrMult("XTestQueryExtension: display \"", name_.c_str(),
               "\" has no XTEST extension for input injection", nullptr);
    return false;
  }
  screen_ = DefaultScreen(dpy_);
  root_ = RootWindow(dpy_, screen_);
  width_ = DisplayWidth(dpy_, screen_);
  height_ = DisplayHeight(dpy_, screen_);
  XInternAtoms(dpy_, const_cast<char**>(kAtomNames), kAtomCount, False, atoms_);
  return true;
}

void X11Desktop::ReportLateErrors() {
  if (errors_.empty()) return;
  XErrorRecord first = errors_.front();
  errors_.clear();
  char number[16], request[64];
  std::snprintf(number, sizeof number, "%d", first.request);
  XGetErrorDatabaseText(dpy_, "XRequest", number, "", request, sizeof request);
  std::string call = request[0] ? request : std::string("X request ") + number;
  PushXError(call.c_str(), first, first.resource);
}

bool X11Desktop::Failed(unsigned long mark, XErrorRecord* error) {
  XSync(dpy_, False);
  bool failed = false;
  for (auto it = errors_.begin(); it != errors_.end();) {
    if (it->serial >= mark) {
      if (!failed && error) *error = *it;
      failed = true;
      it = errors_.erase(it);
    } else {
      ++it;
    }
  }
  return Lost() || failed;
}

void X11Desktop::PushXError(const char* call, const XErrorRecord& error, Window window) {
  if (lost_) {
    PushLost();
    return;
  }
  char text[256] = "";
  XGetErrorText(dpy_, error.code, text, sizeof text);
  char code[16];
  std::snprintf(code, sizeof code, "%d", error.code);
  SeMErrMult(call, " (error #", code, ": ", text, ") window=", Hex(window).c_str(), nullptr);
}

bool X11Desktop::Property(Window w, Atom property, Atom type, std::vector<unsigned char>* data,
                          int* format, unsigned long* items, Atom* actualType) {
  unsigned long mark = Mark();
  Atom actual = None;
  unsigned long after = 0;
  unsigned char* bytes = nullptr;
  *items = 0;
  int status = XGetWindowProperty(dpy_, w, property, 0, 1L << 20, False, type, &actual, format,
                                  items, &after, &bytes);
  // A reply means the request is done; an error reply was taken by the handler already.
  bool failed = Lost() || status != Success;
  for (auto it = errors_.begin(); it != errors_.end();) {
    if (it->serial >= mark) {
      failed = true;
      it = errors_.erase(it);
    } else {
      ++it;
    }
  }
  if (actualType) *actualType = actual;
  if (failed || actual == None || !bytes) {
    if (bytes) XFree(bytes);
    return false;
  }
  std::size_t unit = *format == 32 ? sizeof(long) : *format == 16 ? sizeof(short) : 1;
  data->assign(bytes, bytes + *items * unit);
  XFree(bytes);
  return true;
}

int X11Desktop::GetSystemMetrics(int index) {
  XCall call(this);
  if (!Ready()) return 0;
  switch (index) {
  case kSmCxScreen:
  case 16: // SM_CXFULLSCREEN
  case 78: // SM_CXVIRTUALSCREEN
    return width_;
  case kSmCyScreen:
  case 17: // SM_CYFULLSCREEN
  case 79: // SM_CYVIRTUALSCREEN
    return height_;
  case 19: // SM_MOUSEPRESENT
  case 75: // SM_MOUSEWHEELPRESENT
  case 80: // SM_CMONITORS
  case 81: // SM_SAMEDISPLAYFORMAT
    return 1;
  case 43: // SM_CMOUSEBUTTONS
    return 3;
  default:
    return 0;
  }
}

int X11Desktop::ProcessMessages() {
  XCall call(this);
  if (!ReadyQuiet()) return 0;
  // This program owns no windows; what arrives are notices, which only the keyboard
  // mapping needs.
  RefreshKeyboardIfChanged();
  int n = 0;
  while (XPending(dpy_)) {
    XEvent e;
    XNextEvent(dpy_, &e);
    ++n;
  }
  return n;
}

std::unique_ptr<Desktop> MakeX11Desktop(const char* displayName) {
  return std::make_unique<X11Desktop>(displayName);
}
