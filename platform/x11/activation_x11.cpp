// X11 activation: the foreground window, placement, raising, showing and the focus.
#include "platform/x11/x11desktop.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <thread>

namespace {
constexpr U4 kSwpNoZOrder = 0x0004, kSwpHideWindow = 0x0080;
constexpr HWND_T kHwndTop = 0, kHwndBottom = 1;
constexpr int kNetWmStateRemove = 0, kNetWmStateAdd = 1;
constexpr long kSourcePager = 2; // _NET_ACTIVE_WINDOW source: a pager acts for the user
} // namespace

Window X11Desktop::Frame(Window client) {
  Window w = client;
  for (int depth = 0; depth < 64; ++depth) {
    Window parent = 0;
    if (!Parent(w, &parent) || !parent) return client;
    if (parent == root_) return w;
    w = parent;
  }
  return client;
}

Window X11Desktop::CurrentFocus() {
  Window focus = None;
  int revert = 0;
  XGetInputFocus(dpy_, &focus, &revert);
  return Lost() || focus == PointerRoot ? None : focus;
}

void X11Desktop::Activate(Window topLevel) {
  XRaiseWindow(dpy_, topLevel);
  if (!WmRunning()) return;
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = topLevel;
  e.xclient.message_type = atoms_[kNetActiveWindow];
  e.xclient.format = 32;
  e.xclient.data.l[0] = kSourcePager;
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(dpy_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
}

void X11Desktop::ChangeNetState(Window w, long action, Atom first, Atom second) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = atoms_[kNetWmState];
  e.xclient.format = 32;
  e.xclient.data.l[0] = action;
  e.xclient.data.l[1] = static_cast<long>(first);
  e.xclient.data.l[2] = static_cast<long>(second);
  e.xclient.data.l[3] = kSourcePager;
  XSendEvent(dpy_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
}

bool X11Desktop::NetStates(Window w, std::vector<Atom>* states) {
  std::vector<unsigned char> data;
  int format = 0;
  unsigned long items = 0;
  states->clear();
  if (!Property(w, atoms_[kNetWmState], XA_ATOM, &data, &format, &items) || format != 32)
    return false;
  const long* a = reinterpret_cast<const long*>(data.data());
  for (unsigned long i = 0; i < items; ++i)
    states->push_back(static_cast<Atom>(a[i]));
  return true;
}

HWND_T X11Desktop::GetForegroundWindow() {
  XCall call(this);
  if (!Ready()) return 0;
  // Typed text asks before every key; within a text only this program moves the focus.
  SteadyClock::time_point now = SteadyClock::now();
  if (inText_ && foregroundTop_ && now - foregroundAt_ < std::chrono::milliseconds(250))
    return foregroundTop_;
  Window focus = CurrentFocus();
  if (!focus || focus == root_) return 0;
  if (focus == foregroundFocus_ && now - foregroundAt_ < std::chrono::milliseconds(250))
    return foregroundTop_;
  Window top = TopLevelOf(focus);
  if (!top && WmRunning()) {
    // The focus sits in a frame or in the window manager's own window.
    std::vector<Window> active;
    if (WindowListProperty(root_, atoms_[kNetActiveWindow], &active) && !active.empty())
      top = active[0];
  }
  foregroundFocus_ = top ? focus : 0;
  foregroundTop_ = top;
  foregroundAt_ = now;
  return top;
}

bool X11Desktop::TextTargetFocused(HWND_T) {
  XCall call(this);
  if (!ReadyQuiet()) return false;
  // The focus is asked after the keys sent before it, so its answer is what they met.
  Window focus = CurrentFocus();
  if (lost_) return false;
  if (!textTop_) return true; // no window had the focus: the keys go where the pointer is
  if (focus && focus == textFocus_) return true;
  // The focus moved: still within the text's window is fine. A window that closed holds it
  // no longer.
  if (!focus || TopLevelOf(focus) != textTop_) return false;
  textFocus_ = focus;
  return true;
}

bool X11Desktop::GetWindowPlacement(HWND_T window, WinPlacement* placement) {
  XCall call(this);
  if (!placement || !window || !Ready()) return false;
  WinPlacement p;
  p.length = sizeof(WinPlacement);
  p.showCmd = kSwShowNormal;
  XWindowAttributes attrs;
  unsigned long mark = Mark();
  Status ok = XGetWindowAttributes(dpy_, window, &attrs);
  if (Failed(mark) || !ok) return false;

  std::vector<unsigned char> data;
  int format = 0;
  unsigned long items = 0;
  bool iconic = Property(window, atoms_[kWmState], atoms_[kWmState], &data, &format, &items) &&
                format == 32 && items >= 1 &&
                *reinterpret_cast<const long*>(data.data()) == IconicState;
  std::vector<Atom> states;
  NetStates(window, &states);
  auto has = [&](Atom a) { return std::find(states.begin(), states.end(), a) != states.end(); };
  if (iconic || has(atoms_[kNetWmStateHidden]))
    p.showCmd = kSwShowMinimized;
  else if (has(atoms_[kNetWmStateMaxVert]) && has(atoms_[kNetWmStateMaxHorz]))
    p.showCmd = kSwShowMaximized;

  WinRect rect;
  if (GetWindowRect(window, &rect)) p.normalPosition = rect;
  p.minPosition = {-1, -1};
  p.maxPosition = {-1, -1};
  *placement = p;
  return true;
}

bool X11Desktop::SetWindowPos(HWND_T window, HWND_T insertAfter, int x, int y, int cx, int cy,
                              U4 flags) {
  XCall call(this);
  if (!window || !Ready()) return false;
  unsigned long mark = Mark();
  if (!(flags & kSwpNoZOrder)) {
    if (insertAfter == kHwndTopmost || insertAfter == kHwndTop) {
      if (IsTopLevel(window)) {
        Activate(window);
      } else {
        // A child comes to the front of its siblings, and its top-level window with it.
        XRaiseWindow(dpy_, window);
        Window top = TopLevelOf(window);
        if (top && top != GetForegroundWindow()) Activate(top);
      }
    } else if (insertAfter == kHwndBottom) {
      XLowerWindow(dpy_, window);
    }
  }
  if (!(flags & kSwpNoMove)) XMoveWindow(dpy_, window, x, y);
  if (!(flags & kSwpNoSize))
    XResizeWindow(dpy_, window, static_cast<unsigned>(std::max(cx, 1)),
                  static_cast<unsigned>(std::max(cy, 1)));
  if (flags & kSwpShowWindow) XMapWindow(dpy_, window);
  if (flags & kSwpHideWindow) XWithdrawWindow(dpy_, window, screen_);
  XErrorRecord error;
  if (Failed(mark, &error)) {
    PushXError("SetWindowPos", error, window);
    return false;
  }
  return true;
}

bool X11Desktop::ShowWindow(HWND_T window, int showCmd) {
  XCall call(this);
  if (!window || !Ready()) return false;
  XWindowAttributes attrs;
  unsigned long mark = Mark();
  Status ok = XGetWindowAttributes(dpy_, window, &attrs);
  XErrorRecord error;
  if (Failed(mark, &error) || !ok) {
    PushXError("ShowWindow", error, window);
    return false;
  }
  bool wasVisible = attrs.map_state != IsUnmapped;
  bool wm = WmRunning() && IsTopLevel(window);
  mark = Mark();
  switch (showCmd) {
  case kSwHide:
    XWithdrawWindow(dpy_, window, screen_);
    break;
  case kSwShowMinimized:
  case 6: // SW_MINIMIZE
  case 7: // SW_SHOWMINNOACTIVE
    if (wm)
      XIconifyWindow(dpy_, window, screen_);
    else
      XUnmapWindow(dpy_, window); // no window manager keeps icons
    break;
  case kSwShowMaximized:
    XMapWindow(dpy_, window);
    if (wm)
      ChangeNetState(window, kNetWmStateAdd, atoms_[kNetWmStateMaxVert],
                     atoms_[kNetWmStateMaxHorz]);
    break;
  case kSwShowNormal:
  case kSwRestore:
  case 10: // SW_SHOWDEFAULT
    if (wm)
      ChangeNetState(window, kNetWmStateRemove, atoms_[kNetWmStateMaxVert],
                     atoms_[kNetWmStateMaxHorz]);
    XMapWindow(dpy_, window); // also takes an icon back
    break;
  default:
    XMapWindow(dpy_, window);
    break;
  }
  if (Failed(mark, &error)) {
    PushXError("ShowWindow", error, window);
    return false;
  }
  return wasVisible;
}

HWND_T X11Desktop::GetFocus() {
  XCall call(this);
  if (!Ready()) return 0;
  Window focus = CurrentFocus();
  return focus == root_ ? 0 : focus;
}

HWND_T X11Desktop::SetFocus(HWND_T window) {
  XCall call(this);
  if (!window || !Ready()) return 0;
  foregroundTop_ = 0; // the focus moves: ask again
  Window previous = CurrentFocus();
  auto deadline = [](int ms) { return SteadyClock::now() + std::chrono::milliseconds(ms); };
  auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); };

  // Only a viewable window takes the focus; a window just created may still be on its way
  // through the window manager.
  for (SteadyClock::time_point end = deadline(2000);;) {
    XWindowAttributes attrs;
    unsigned long mark = Mark();
    Status ok = XGetWindowAttributes(dpy_, window, &attrs);
    if (Failed(mark) || !ok) return 0;
    if (attrs.map_state == IsViewable) break;
    if (SteadyClock::now() > end) return 0;
    pause();
  }

  Window top = TopLevelOf(window);
  if (top && WmRunning()) {
    // Let the window manager hand over the focus, so that it does not take it back later.
    if (TopLevelOf(CurrentFocus()) != top) {
      Activate(top);
      XFlush(dpy_);
      for (SteadyClock::time_point end = deadline(1000); TopLevelOf(CurrentFocus()) != top;) {
        if (SteadyClock::now() > end) break;
        pause();
      }
    }
  }
  if (CurrentFocus() != window) {
    unsigned long mark = Mark();
    XSetInputFocus(dpy_, window, RevertToParent, CurrentTime);
    if (Failed(mark)) return 0;
  }
  if (CurrentFocus() != window) return 0;
  return previous ? previous : root_;
}

bool X11Desktop::GetWindowRect(HWND_T window, WinRect* rect) {
  XCall call(this);
  if (!rect || !window || !Ready()) return false;
  Window outer = WmRunning() && IsTopLevel(window) ? Frame(window) : window;
  XWindowAttributes attrs;
  unsigned long mark = Mark();
  Status ok = XGetWindowAttributes(dpy_, outer, &attrs);
  int ax = 0, ay = 0;
  Window child = 0;
  if (ok) XTranslateCoordinates(dpy_, outer, root_, 0, 0, &ax, &ay, &child);
  XErrorRecord error;
  if (Failed(mark, &error) || !ok) {
    PushXError("GetWindowRect", error, window);
    return false;
  }
  // The translated origin is inside the border; Windows measures from the outer corner.
  rect->left = ax - attrs.border_width;
  rect->top = ay - attrs.border_width;
  rect->right = rect->left + attrs.width + 2 * attrs.border_width;
  rect->bottom = rect->top + attrs.height + 2 * attrs.border_width;
  return true;
}
