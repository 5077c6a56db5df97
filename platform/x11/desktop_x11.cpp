// The Desktop calls on Xlib and XTest.
//
// Round trips are what costs time here: atoms, the keyboard map and the modifier map are
// fetched once, titles read for one enumeration are kept for its callbacks, and injected
// events are only flushed, never synchronised one by one (one connection keeps them in
// order). X errors arrive late; every call that must know its outcome synchronises and
// takes the errors of its own requests, and the errors of unsynchronised requests are
// reported by the next call.
#include "platform/x11/desktop_x11.h"

#include "errlog/errstack.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

struct XErrorRecord {
  unsigned long serial = 0;
  int code = 0;
  int request = 0;
  int minor = 0;
  unsigned long resource = 0;
};

enum AtomIndex {
  kNetSupportingWmCheck,
  kNetClientList,
  kNetClientListStacking,
  kNetActiveWindow,
  kNetWmName,
  kUtf8String,
  kNetWmPid,
  kNetWmState,
  kNetWmStateHidden,
  kNetWmStateMaxVert,
  kNetWmStateMaxHorz,
  kWmState,
  kAtomCount
};
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

constexpr int kVkShift = 0x10, kVkControl = 0x11, kVkMenu = 0x12, kVkCapital = 0x14,
              kVkNumlock = 0x90;
constexpr U4 kSwpNoZOrder = 0x0004, kSwpHideWindow = 0x0080;
constexpr U4 kMouseEventfWheel = 0x0800;
constexpr HWND_T kHwndTop = 0, kHwndBottom = 1;
constexpr int kNetWmStateRemove = 0, kNetWmStateAdd = 1;
constexpr long kSourcePager = 2; // _NET_ACTIVE_WINDOW source: a pager acts for the user

class X11Desktop;
std::vector<X11Desktop*> live_desktops;
X11Desktop* DesktopOf(Display* dpy);
int OnXError(Display* dpy, XErrorEvent* event);
int OnXIOError(Display* dpy);
void OnXIOExit(Display* dpy, void*);

std::string Hex(unsigned long value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%lx", value);
  return text;
}

void Latin1ToUtf8(const unsigned char* in, unsigned long n, std::string* out) {
  out->clear();
  for (unsigned long i = 0; i < n && in[i]; ++i) {
    unsigned char c = in[i];
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else {
      out->push_back(static_cast<char>(0xC0 | (c >> 6)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

bool EqualNoCase(const std::string& a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The pixel of a normalised absolute coordinate: the smallest pixel whose normalised value
// (truncated) is d, so that normalising and mapping back meet exactly.
int Denormalise(I4 d, int size) {
  if (size <= 1) return 0;
  I8 n = I8{d} * (size - 1);
  return static_cast<int>(n >= 0 ? (n + 65534) / 65535 : -((-n) / 65535));
}

class X11Desktop final : public Desktop {
public:
  explicit X11Desktop(const char* displayName) {
    if (displayName) name_ = displayName, named_ = true;
    live_desktops.push_back(this);
  }
  ~X11Desktop() override;
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  HWND_T FindWindowA(const char* className, const char* title) override;
  bool EnumWindows(WinEnumProc proc, std::intptr_t param) override;
  bool EnumChildWindows(HWND_T parent, WinEnumProc proc, std::intptr_t param) override;
  int GetWindowTextA(HWND_T window, char* buffer, int maxCount) override;
  int GetClassNameA(HWND_T window, char* buffer, int maxCount) override;
  U4 GetWindowThreadProcessId(HWND_T window, U4* pid) override;
  bool IsWindow(HWND_T window) override;
  HWND_T GetForegroundWindow() override;
  bool GetWindowPlacement(HWND_T window, WinPlacement* placement) override;
  bool SetWindowPos(HWND_T window, HWND_T insertAfter, int x, int y, int cx, int cy,
                    U4 flags) override;
  bool ShowWindow(HWND_T window, int showCmd) override;
  HWND_T GetFocus() override;
  HWND_T SetFocus(HWND_T window) override;
  bool GetWindowRect(HWND_T window, WinRect* rect) override;
  I2 GetKeyState(int virtualKey) override;
  int GetSystemMetrics(int index) override;
  U4 MapVirtualKeyA(U4 code, U4 mapType) override;
  void keybd_event(U1 virtualKey, U1 scanCode, U4 flags, std::uintptr_t extraInfo) override;
  U4 SendInput(U4 count, const MouseInputRecord* inputs, int recordSize) override;
  bool GetCursorPos(WinPoint* point) override;
  int ProcessMessages() override;

  // Error handler entries.
  void RecordError(const XErrorEvent& event);
  void ConnectionLost() { lost_ = true; }
  Display* display() const { return dpy_; }

private:
  bool Ready();
  bool ReadyQuiet() { return dpy_ && !lost_; }
  // Push the errors of earlier unsynchronised requests.
  void ReportLateErrors();
  unsigned long Mark() { return NextRequest(dpy_); }
  // Synchronise and take the first error of the requests since mark.
  bool Failed(unsigned long mark, XErrorRecord* error = nullptr);
  void PushXError(const char* call, const XErrorRecord& error, Window window);
  void PushLost();
  // After a round trip: the connection broke (and that is on the error stack).
  bool Lost() {
    if (lost_) PushLost();
    return lost_;
  }

  bool Property(Window w, Atom property, Atom type, std::vector<unsigned char>* data, int* format,
                unsigned long* items, Atom* actualType = nullptr);
  bool WindowListProperty(Window w, Atom property, std::vector<Window>* out);
  bool Title(Window w, std::string* title);
  bool ClassName(Window w, std::string* name);
  bool Parent(Window w, Window* parent);
  bool Children(Window w, std::vector<Window>* children);
  bool WmRunning();
  std::vector<Window> TopLevels();
  // The top-level window that holds w (w itself when it is one), 0 when none.
  Window TopLevelOf(Window w);
  bool IsTopLevel(Window w);
  Window Frame(Window client);
  void Activate(Window topLevel);
  void ChangeNetState(Window w, long action, Atom first, Atom second);
  bool NetStates(Window w, std::vector<Atom>* states);
  Window CurrentFocus();
  bool EnumChildren(Window parent, WinEnumProc proc, std::intptr_t param, bool* stopped);

  // Keyboard.
  void LoadKeyboard();
  void RefreshKeyboardIfChanged();
  KeyCode KeycodeForVk(U1 vk, bool report);
  KeyCode KeycodeForKeysym(KeySym keysym, bool report);
  unsigned int ModifierMaskOf(KeyCode code);
  bool KeyDown(const char keys[32], KeyCode code) const {
    return code && (keys[code / 8] & (1 << (code % 8)));
  }
  void RestoreSpareKeys();

  std::string name_;
  bool named_ = false;
  Display* dpy_ = nullptr;
  bool openFailed_ = false;
  bool lost_ = false;
  int screen_ = 0;
  Window root_ = 0;
  int width_ = 0, height_ = 0;
  Atom atoms_[kAtomCount] = {};
  std::vector<XErrorRecord> errors_;

  Window wmCheck_ = 0; // the window manager's check window, once verified
  bool wmRunning_ = false;
  SteadyClock::time_point wmCheckedAt_{};
  Window foregroundFocus_ = 0, foregroundTop_ = 0; // the last focus and its top-level window
  SteadyClock::time_point foregroundAt_{};

  int enumDepth_ = 0;
  std::unordered_map<Window, std::string> titleCache_; // titles read within one enumeration

  bool keyboardLoaded_ = false;
  int minKeycode_ = 0, maxKeycode_ = 0, symsPerCode_ = 0;
  std::vector<KeySym> keymap_;
  XModifierKeymap* modmap_ = nullptr;
  KeyCode vkCodes_[256] = {};
  std::vector<KeyCode> spareBound_; // key codes this desktop gave a symbol; restored at the end
  std::size_t recycle_ = 0;
};

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

X11Desktop::~X11Desktop() {
  if (dpy_ && !lost_) {
    RestoreSpareKeys();
    if (modmap_) XFreeModifiermap(modmap_);
    XCloseDisplay(dpy_);
  }
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
  SeMErrMult("X11: the connection to display \"", DisplayString(dpy_), "\" was lost", nullptr);
}

bool X11Desktop::Ready() {
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
  dpy_ = XOpenDisplay(name_.c_str());
  if (!dpy_) {
    openFailed_ = true;
    SeMErrMult("XOpenDisplay: cannot open display \"", name_.c_str(), "\"", nullptr);
    return false;
  }
  XSetErrorHandler(OnXError);
  XSetIOErrorHandler(OnXIOError);
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

bool X11Desktop::WindowListProperty(Window w, Atom property, std::vector<Window>* out) {
  std::vector<unsigned char> data;
  int format = 0;
  unsigned long items = 0;
  out->clear();
  if (!Property(w, property, XA_WINDOW, &data, &format, &items) || format != 32) return false;
  const long* ids = reinterpret_cast<const long*>(data.data());
  for (unsigned long i = 0; i < items; ++i)
    out->push_back(static_cast<Window>(ids[i]));
  return true;
}

bool X11Desktop::Title(Window w, std::string* title) {
  if (enumDepth_ > 0) {
    auto it = titleCache_.find(w);
    if (it != titleCache_.end()) {
      *title = it->second;
      return !title->empty();
    }
  }
  std::vector<unsigned char> data;
  int format = 0;
  unsigned long items = 0;
  Atom actual = None;
  title->clear();
  if (Property(w, atoms_[kNetWmName], atoms_[kUtf8String], &data, &format, &items) && format == 8) {
    title->assign(data.begin(), data.end());
  } else if (Property(w, XA_WM_NAME, AnyPropertyType, &data, &format, &items, &actual) &&
             format == 8) {
    if (actual == XA_STRING)
      Latin1ToUtf8(data.data(), items, title);
    else
      title->assign(data.begin(), data.end());
  }
  if (std::size_t nul = title->find('\0'); nul != std::string::npos) title->resize(nul);
  if (enumDepth_ > 0) titleCache_[w] = *title;
  return !title->empty();
}

bool X11Desktop::ClassName(Window w, std::string* name) {
  std::vector<unsigned char> data;
  int format = 0;
  unsigned long items = 0;
  name->clear();
  if (!Property(w, XA_WM_CLASS, XA_STRING, &data, &format, &items) || format != 8) return false;
  // WM_CLASS holds the instance name and then the class name, each ended by a NUL.
  auto end = std::find(data.begin(), data.end(), '\0');
  if (end == data.end()) return false;
  auto classEnd = std::find(end + 1, data.end(), '\0');
  name->assign(end + 1, classEnd);
  return !name->empty();
}

bool X11Desktop::Parent(Window w, Window* parent) {
  Window rootReturn = 0, parentReturn = 0, *kids = nullptr;
  unsigned int n = 0;
  unsigned long mark = Mark();
  Status ok = XQueryTree(dpy_, w, &rootReturn, &parentReturn, &kids, &n);
  if (kids) XFree(kids);
  bool failed = Lost() || !ok;
  for (auto it = errors_.begin(); it != errors_.end();)
    if (it->serial >= mark)
      failed = true, it = errors_.erase(it);
    else
      ++it;
  *parent = failed ? 0 : parentReturn;
  return !failed;
}

bool X11Desktop::Children(Window w, std::vector<Window>* children) {
  Window rootReturn = 0, parentReturn = 0, *kids = nullptr;
  unsigned int n = 0;
  unsigned long mark = Mark();
  Status ok = XQueryTree(dpy_, w, &rootReturn, &parentReturn, &kids, &n);
  bool failed = Lost() || !ok;
  for (auto it = errors_.begin(); it != errors_.end();)
    if (it->serial >= mark)
      failed = true, it = errors_.erase(it);
    else
      ++it;
  children->clear();
  // Stacking order is bottom to top; the front window comes first, as on Windows.
  if (!failed && kids)
    for (unsigned int i = n; i-- > 0;)
      children->push_back(kids[i]);
  if (kids) XFree(kids);
  return !failed;
}

bool X11Desktop::WmRunning() {
  SteadyClock::time_point now = SteadyClock::now();
  if (wmCheckedAt_ != SteadyClock::time_point{} &&
      now - wmCheckedAt_ < std::chrono::milliseconds(250))
    return wmRunning_;
  wmCheckedAt_ = now;
  std::vector<Window> check;
  wmRunning_ = false;
  if (WindowListProperty(root_, atoms_[kNetSupportingWmCheck], &check) && !check.empty()) {
    // A window manager that went away leaves its root property behind: the check window
    // must exist and name itself.
    std::vector<Window> self;
    if (check[0] == wmCheck_ ||
        (WindowListProperty(check[0], atoms_[kNetSupportingWmCheck], &self) && !self.empty() &&
         self[0] == check[0])) {
      wmCheck_ = check[0];
      wmRunning_ = true;
    }
  }
  return wmRunning_;
}

std::vector<Window> X11Desktop::TopLevels() {
  std::vector<Window> list;
  if (WmRunning()) {
    if (WindowListProperty(root_, atoms_[kNetClientListStacking], &list) ||
        WindowListProperty(root_, atoms_[kNetClientList], &list)) {
      std::reverse(list.begin(), list.end());
      return list;
    }
  }
  std::vector<Window> children;
  Children(root_, &children);
  std::string title;
  for (Window w : children)
    if (Title(w, &title)) list.push_back(w);
  return list;
}

bool X11Desktop::IsTopLevel(Window w) {
  if (WmRunning()) {
    std::vector<Window> clients;
    if (WindowListProperty(root_, atoms_[kNetClientList], &clients))
      return std::find(clients.begin(), clients.end(), w) != clients.end();
  }
  Window parent = 0;
  return Parent(w, &parent) && parent == root_;
}

Window X11Desktop::TopLevelOf(Window w) {
  if (!w || w == root_) return 0;
  std::vector<Window> clients;
  bool wm = WmRunning() && WindowListProperty(root_, atoms_[kNetClientList], &clients);
  for (int depth = 0; w && w != root_ && depth < 64; ++depth) {
    if (wm && std::find(clients.begin(), clients.end(), w) != clients.end()) return w;
    Window parent = 0;
    if (!Parent(w, &parent)) return 0;
    if (!wm && parent == root_) return w;
    w = parent;
  }
  return 0;
}

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

// --- Windows -------------------------------------------------------------------------

HWND_T X11Desktop::FindWindowA(const char* className, const char* title) {
  if (!Ready()) return 0;
  ++enumDepth_;
  HWND_T found = 0;
  std::string text;
  for (Window w : TopLevels()) {
    if (title && !(Title(w, &text), EqualNoCase(text, title))) continue;
    if (className && !(ClassName(w, &text), EqualNoCase(text, className))) continue;
    found = w;
    break;
  }
  if (--enumDepth_ == 0) titleCache_.clear();
  return found;
}

bool X11Desktop::EnumWindows(WinEnumProc proc, std::intptr_t param) {
  if (!Ready()) return false;
  ++enumDepth_;
  std::vector<Window> tops = TopLevels();
  for (Window w : tops)
    if (proc(w, param) == 0) break;
  if (--enumDepth_ == 0) titleCache_.clear();
  return true;
}

bool X11Desktop::EnumChildren(Window parent, WinEnumProc proc, std::intptr_t param, bool* stopped) {
  std::vector<Window> kids;
  if (!Children(parent, &kids)) return false;
  for (Window w : kids) {
    if (proc(w, param) == 0) {
      *stopped = true;
      return true;
    }
    EnumChildren(w, proc, param, stopped);
    if (*stopped) return true;
  }
  return true;
}

bool X11Desktop::EnumChildWindows(HWND_T parent, WinEnumProc proc, std::intptr_t param) {
  if (!Ready() || !parent) return false;
  bool stopped = false;
  return EnumChildren(parent, proc, param, &stopped);
}

namespace {
// Copies text into a caller's buffer of maxCount bytes (> 0); returns the length copied.
// A cut never splits a UTF-8 sequence.
int CopyOut(const std::string& text, char* buffer, int maxCount) {
  std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(maxCount - 1));
  if (n < text.size())
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
      --n;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}
} // namespace

int X11Desktop::GetWindowTextA(HWND_T window, char* buffer, int maxCount) {
  if (!buffer || maxCount <= 0) return 0;
  buffer[0] = 0;
  if (!window || !Ready()) return 0;
  std::string title;
  if (!Title(window, &title)) return 0;
  return CopyOut(title, buffer, maxCount);
}

int X11Desktop::GetClassNameA(HWND_T window, char* buffer, int maxCount) {
  if (!buffer || maxCount <= 0) return 0;
  buffer[0] = 0;
  if (!window || !Ready()) return 0;
  std::string name;
  if (!ClassName(window, &name)) return 0;
  return CopyOut(name, buffer, maxCount);
}

U4 X11Desktop::GetWindowThreadProcessId(HWND_T window, U4* pid) {
  if (pid) *pid = 0;
  if (!window || !Ready()) return 0;
  std::vector<unsigned char> data;
  int format = 0;
  unsigned long items = 0;
  if (Property(window, atoms_[kNetWmPid], XA_CARDINAL, &data, &format, &items) && format == 32 &&
      items >= 1) {
    U4 id = static_cast<U4>(*reinterpret_cast<const long*>(data.data()));
    if (pid) *pid = id;
    return id;
  }
  // No owner is published; X has no threads to name, so any existing window has thread 1.
  return IsWindow(window) ? 1 : 0;
}

bool X11Desktop::IsWindow(HWND_T window) {
  if (!window || !Ready()) return false;
  XWindowAttributes attrs;
  unsigned long mark = Mark();
  Status ok = XGetWindowAttributes(dpy_, window, &attrs);
  return !Failed(mark) && ok;
}

HWND_T X11Desktop::GetForegroundWindow() {
  if (!Ready()) return 0;
  Window focus = CurrentFocus();
  if (!focus || focus == root_) return 0;
  // Typed text asks once per character; the window holding the focus stays the same.
  SteadyClock::time_point now = SteadyClock::now();
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

bool X11Desktop::GetWindowPlacement(HWND_T window, WinPlacement* placement) {
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
  if (!Ready()) return 0;
  Window focus = CurrentFocus();
  return focus == root_ ? 0 : focus;
}

HWND_T X11Desktop::SetFocus(HWND_T window) {
  if (!window || !Ready()) return 0;
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

// --- Keyboard ------------------------------------------------------------------------

void X11Desktop::LoadKeyboard() {
  XDisplayKeycodes(dpy_, &minKeycode_, &maxKeycode_);
  int count = maxKeycode_ - minKeycode_ + 1;
  KeySym* syms = XGetKeyboardMapping(dpy_, static_cast<KeyCode>(minKeycode_), count, &symsPerCode_);
  keymap_.assign(syms, syms + static_cast<std::size_t>(count) * symsPerCode_);
  XFree(syms);
  if (modmap_) XFreeModifiermap(modmap_);
  modmap_ = XGetModifierMapping(dpy_);
  std::fill(std::begin(vkCodes_), std::end(vkCodes_), KeyCode{0});
  keyboardLoaded_ = true;
}

void X11Desktop::RefreshKeyboardIfChanged() {
  // Mapping changes are announced to every client, this one included, and land in the
  // local queue with the replies; looking there costs no input or output.
  XEvent e;
  bool changed = false;
  while (XEventsQueued(dpy_, QueuedAlready) > 0) {
    XNextEvent(dpy_, &e);
    if (e.type == MappingNotify && e.xmapping.request != MappingPointer) changed = true;
  }
  if (changed || !keyboardLoaded_) LoadKeyboard();
}

KeyCode X11Desktop::KeycodeForKeysym(KeySym keysym, bool report) {
  int count = maxKeycode_ - minKeycode_ + 1;
  for (int i = 0; i < count; ++i)
    if (keymap_[static_cast<std::size_t>(i) * symsPerCode_] == keysym)
      return static_cast<KeyCode>(minKeycode_ + i);

  // No key gives the symbol unshifted: lend it a key code that has no symbols at all.
  for (int i = count; i-- > 0;) {
    KeySym* row = &keymap_[static_cast<std::size_t>(i) * symsPerCode_];
    if (!std::all_of(row, row + symsPerCode_, [](KeySym s) { return s == NoSymbol; })) continue;
    std::vector<KeySym> syms(static_cast<std::size_t>(symsPerCode_), NoSymbol);
    syms[0] = keysym;
    if (symsPerCode_ > 1) {
      KeySym shifted = X11ShiftedKeysym(keysym);
      if (shifted) syms[1] = shifted;
    }
    KeyCode code = static_cast<KeyCode>(minKeycode_ + i);
    unsigned long mark = Mark();
    XChangeKeyboardMapping(dpy_, code, symsPerCode_, syms.data(), 1);
    XErrorRecord error;
    if (Failed(mark, &error)) {
      if (report) PushXError("XChangeKeyboardMapping", error, 0);
      return 0;
    }
    std::copy(syms.begin(), syms.end(), row);
    spareBound_.push_back(code);
    return code;
  }
  if (spareBound_.empty()) {
    if (report) {
      const char* name = XKeysymToString(keysym);
      SeMErrMult("keybd_event: no free key code for the key symbol ", name ? name : "?", nullptr);
    }
    return 0;
  }
  // All lent codes are taken: lend the oldest again, once its last event had time to be read.
  KeyCode code = spareBound_[recycle_++ % spareBound_.size()];
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::vector<KeySym> syms(static_cast<std::size_t>(symsPerCode_), NoSymbol);
  syms[0] = keysym;
  if (symsPerCode_ > 1 && X11ShiftedKeysym(keysym)) syms[1] = X11ShiftedKeysym(keysym);
  unsigned long mark = Mark();
  XChangeKeyboardMapping(dpy_, code, symsPerCode_, syms.data(), 1);
  XErrorRecord error;
  if (Failed(mark, &error)) {
    if (report) PushXError("XChangeKeyboardMapping", error, 0);
    return 0;
  }
  std::copy(syms.begin(), syms.end(),
            &keymap_[static_cast<std::size_t>(code - minKeycode_) * symsPerCode_]);
  for (KeyCode& c : vkCodes_)
    if (c == code) c = 0;
  return code;
}

KeyCode X11Desktop::KeycodeForVk(U1 vk, bool report) {
  RefreshKeyboardIfChanged();
  if (vkCodes_[vk]) return vkCodes_[vk];
  KeySym keysym = X11KeysymForVk(vk);
  if (!keysym) {
    if (report) {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02X", vk);
      SeMErrMult("keybd_event: no X key for the virtual-key code ", code, nullptr);
    }
    return 0;
  }
  vkCodes_[vk] = KeycodeForKeysym(keysym, report);
  return vkCodes_[vk];
}

unsigned int X11Desktop::ModifierMaskOf(KeyCode code) {
  if (!modmap_ || !code) return 0;
  for (int mod = 0; mod < 8; ++mod)
    for (int k = 0; k < modmap_->max_keypermod; ++k)
      if (modmap_->modifiermap[mod * modmap_->max_keypermod + k] == code) return 1u << mod;
  return 0;
}

void X11Desktop::RestoreSpareKeys() {
  if (spareBound_.empty()) return;
  // The target resolves a key symbol when it reads the event, which may be after this
  // program ended: give it a moment before the lent key codes go blank again.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::vector<KeySym> blank(static_cast<std::size_t>(symsPerCode_), NoSymbol);
  for (KeyCode code : spareBound_)
    XChangeKeyboardMapping(dpy_, code, symsPerCode_, blank.data(), 1);
  spareBound_.clear();
  XSync(dpy_, False);
}

I2 X11Desktop::GetKeyState(int virtualKey) {
  if (!Ready() || virtualKey < 0 || virtualKey > 255) return 0;
  RefreshKeyboardIfChanged();
  unsigned int mask = 0;
  {
    Window r, c;
    int rx, ry, wx, wy;
    XQueryPointer(dpy_, root_, &r, &c, &rx, &ry, &wx, &wy, &mask);
  }
  if (Lost()) return 0;
  bool down = false, toggled = false;
  switch (virtualKey) {
  case kVkShift:
    down = mask & ShiftMask;
    break;
  case kVkControl:
    down = mask & ControlMask;
    break;
  case kVkMenu:
    down = mask & ModifierMaskOf(KeycodeForVk(static_cast<U1>(kVkMenu), false));
    break;
  case kVkCapital:
    // Asked before every letter typed: the lock alone, without a second round trip.
    toggled = mask & LockMask;
    break;
  default: {
    KeyCode code = KeycodeForVk(static_cast<U1>(virtualKey), false);
    char keys[32] = {};
    XQueryKeymap(dpy_, keys);
    down = KeyDown(keys, code);
    if (virtualKey == kVkNumlock) toggled = mask & ModifierMaskOf(code);
    break;
  }
  }
  return static_cast<I2>((down ? 0xFF80 : 0) | (toggled ? 1 : 0));
}

int X11Desktop::GetSystemMetrics(int index) {
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

U4 X11Desktop::MapVirtualKeyA(U4 code, U4 mapType) {
  if (!Ready()) return 0;
  switch (mapType) {
  case 0: // virtual key to scan code
  case 3: {
    if (code > 255) return 0;
    KeyCode kc = KeycodeForVk(static_cast<U1>(code), false);
    return kc >= 8 ? kc - 8u : 0;
  }
  case 1:   // scan code to virtual key
  case 2: { // virtual key to character
    RefreshKeyboardIfChanged();
    KeySym sym = NoSymbol;
    if (mapType == 1) {
      int kc = static_cast<int>(code) + 8;
      if (kc < minKeycode_ || kc > maxKeycode_) return 0;
      sym = keymap_[static_cast<std::size_t>(kc - minKeycode_) * symsPerCode_];
      for (int vk = 1; vk < 256; ++vk)
        if (X11KeysymForVk(static_cast<U1>(vk)) == sym) return static_cast<U4>(vk);
      return 0;
    }
    if (code > 255) return 0;
    sym = X11KeysymForVk(static_cast<U1>(code));
    if (sym >= XK_a && sym <= XK_z) return static_cast<U4>(sym - XK_a + 'A');
    return sym >= 0x20 && sym < 0x7F ? static_cast<U4>(sym) : 0;
  }
  default:
    return 0;
  }
}

void X11Desktop::keybd_event(U1 virtualKey, U1 scanCode, U4 flags, std::uintptr_t) {
  if (!Ready()) return;
  KeyCode code = 0;
  if (virtualKey)
    code = KeycodeForVk(virtualKey, true);
  else if (scanCode)
    code = static_cast<KeyCode>(scanCode + 8);
  if (!code) return;
  XTestFakeKeyEvent(dpy_, code, (flags & kKeyEventfKeyUp) ? False : True, CurrentTime);
  XFlush(dpy_);
}

U4 X11Desktop::SendInput(U4 count, const MouseInputRecord* inputs, int recordSize) {
  if (!Ready()) return 0;
  if (!inputs || recordSize != static_cast<int>(sizeof(MouseInputRecord))) {
    SeMErrMult("SendInput: bad input records", nullptr);
    return 0;
  }
  for (U4 i = 0; i < count; ++i) {
    const MouseInputRecord& in = inputs[i];
    if (in.type != 0) {
      SeMErrMult("SendInput: only mouse records are supported", nullptr);
      return i;
    }
    U4 f = in.dwFlags;
    if (f & kMouseEventfMove) {
      if (f & kMouseEventfAbsolute)
        XTestFakeMotionEvent(dpy_, screen_, Denormalise(in.dx, width_), Denormalise(in.dy, height_),
                             CurrentTime);
      else
        XTestFakeRelativeMotionEvent(dpy_, in.dx, in.dy, CurrentTime);
    }
    // Presses before releases, so that one record can carry a whole click.
    if (f & kMouseEventfLeftDown) XTestFakeButtonEvent(dpy_, Button1, True, CurrentTime);
    if (f & kMouseEventfRightDown) XTestFakeButtonEvent(dpy_, Button3, True, CurrentTime);
    if (f & kMouseEventfMiddleDown) XTestFakeButtonEvent(dpy_, Button2, True, CurrentTime);
    if (f & kMouseEventfLeftUp) XTestFakeButtonEvent(dpy_, Button1, False, CurrentTime);
    if (f & kMouseEventfRightUp) XTestFakeButtonEvent(dpy_, Button3, False, CurrentTime);
    if (f & kMouseEventfMiddleUp) XTestFakeButtonEvent(dpy_, Button2, False, CurrentTime);
    if (f & kMouseEventfWheel) {
      // One notch is 120; X scrolls with buttons 4 (away) and 5 (towards the user).
      I4 notches = static_cast<I4>(in.mouseData) / 120;
      unsigned int button = notches >= 0 ? Button4 : Button5;
      for (I4 n = notches >= 0 ? notches : -notches; n > 0; --n) {
        XTestFakeButtonEvent(dpy_, button, True, CurrentTime);
        XTestFakeButtonEvent(dpy_, button, False, CurrentTime);
      }
    }
  }
  XFlush(dpy_);
  return count;
}

bool X11Desktop::GetCursorPos(WinPoint* point) {
  if (!point || !Ready()) return false;
  Window r, c;
  int rx = 0, ry = 0, wx, wy;
  unsigned int mask;
  XQueryPointer(dpy_, root_, &r, &c, &rx, &ry, &wx, &wy, &mask);
  if (Lost()) return false;
  point->x = rx;
  point->y = ry;
  return true;
}

int X11Desktop::ProcessMessages() {
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

} // namespace

std::unique_ptr<Desktop> MakeX11Desktop(const char* displayName) {
  return std::make_unique<X11Desktop>(displayName);
}

Desktop& PlatformDesktop() {
  static std::unique_ptr<Desktop> desktop = MakeX11Desktop();
  return *desktop;
}
