// The X11 desktop's shared state: one class, its members spread over files by job
// (connection and errors, window tree, activation, keyboard, pointer).
//
// Round trips are what costs time here: atoms, the keyboard map and the modifier map are
// fetched once, titles read for one enumeration are kept for its callbacks, and injected
// events are only flushed, never synchronised one by one (one connection keeps them in
// order). X errors arrive late; every call that must know its outcome synchronises and
// takes the errors of its own requests, and the errors of unsynchronised requests are
// reported by the next call.
#pragma once
#include "platform/inputrelease.h"
#include "platform/x11/desktop_x11.h"
#include "platform/x11/inputrelease_x11.h"
#include "platform/x11/watchdog_x11.h"

#include <X11/Xlib.h>

#include <chrono>
#include <string>
#include <unordered_map>
#include <vector>

using SteadyClock = std::chrono::steady_clock;

struct XErrorRecord {
  unsigned long serial = 0;
  int code = 0;
  int request = 0;
  int minor = 0;
  unsigned long resource = 0;
};

// A title of type STRING in the UTF-8 that titles are handed out in.
void Latin1ToUtf8(const unsigned char* in, unsigned long n, std::string* out);

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

class X11Desktop final : public Desktop {
public:
  explicit X11Desktop(const char* displayName);
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
  void ReturnLentKeys() override;
  void BeginText(HWND_T window) override;
  bool KeyTypes(U1 vk, bool shift, bool capsLock, U4 ch) override;
  bool LayoutKeyFor(U4 ch, bool capsLock, LayoutKey* key) override;
  bool TypeUnicodeChar(U4 ch) override;
  bool EndText() override;
  bool AcquireInputLock(U4 timeoutMsecs) override;
  void ReleaseInputLock() override;
  bool TextTargetFocused(HWND_T window) override;

  // Error handler entries.
  void RecordError(const XErrorEvent& event);
  void ConnectionLost() { lost_ = true; }
  Display* display() const { return dpy_; }

private:
  // Held by every call that talks to the server: none waits longer than the watchdog's limit.
  class XCall {
  public:
    // After a fault handler sent the releases, the program only ends: nothing is armed.
    explicit XCall(X11Desktop* desktop) : d_(desktop), armed_(!PlatformInputReleased()) {
      if (!armed_) return;
      d_->watchdog_.Arm();
      ++d_->callDepth_;
    }
    ~XCall() {
      if (armed_ && --d_->callDepth_ == 0) d_->watchdog_.Disarm();
    }
    XCall(const XCall&) = delete;
    XCall& operator=(const XCall&) = delete;

  private:
    X11Desktop* d_;
    bool armed_;
  };

  bool Ready();
  bool ReadyQuiet() { return dpy_ && !lost_ && !PlatformInputReleased(); }
  // Push the errors of earlier unsynchronised requests.
  void ReportLateErrors();
  unsigned long Mark() { return NextRequest(dpy_); }
  // Synchronise and take the first error of the requests since mark.
  bool Failed(unsigned long mark, XErrorRecord* error = nullptr);
  void PushXError(const char* call, const XErrorRecord& error, Window window);
  void PushLost();
  // The watchdog ended a wait: the server stopped answering.
  void PushNoAnswer(const char* call);
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
  bool EnumChildren(Window parent, WinEnumProc proc, std::intptr_t param);
  // Titles of windows into the cache, and with kids their subwindows (front first), all
  // in one round trip; a window that is gone has no title and no subwindows.
  void FetchBatch(const std::vector<Window>& windows, std::vector<std::vector<Window>>* kids);
  void FetchClasses(const std::vector<Window>& windows);
  void BeginEnumeration() { ++enumDepth_; }
  void EndEnumeration();

  // Injected events, kept ready to be released by a fault handler.
  void FakeKey(KeyCode code, bool down);
  void FakeButton(unsigned int button, bool down);
  void PrepareRelease();
  void NoteLentKeys() { release_.Lent(spareBound_, symsPerCode_); }

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
  // One look at the input lock: true when this run took it.
  bool TryInputLock();
  // Layout: what key code types under modifier state in the group of the text, and the
  // modifier keys that typing by layout holds.
  void LoadLayout();
  KeySym KeysymAt(KeyCode code, unsigned int state) const;

  X11InputRelease release_;
  bool releaseTried_ = false;
  X11Watchdog watchdog_{std::chrono::seconds(5)};
  int callDepth_ = 0;
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
  // Titles and class names read within one enumeration, a list at a time.
  std::unordered_map<Window, std::string> titleCache_, classCache_;
  const std::vector<Window>* batch_ = nullptr; // the list being enumerated

  bool keyboardLoaded_ = false;
  int minKeycode_ = 0, maxKeycode_ = 0, symsPerCode_ = 0;
  std::vector<KeySym> keymap_;
  XModifierKeymap* modmap_ = nullptr;
  KeyCode vkCodes_[256] = {};
  std::vector<KeyCode> spareBound_; // key codes this desktop gave a symbol; restored at the end
  std::size_t recycle_ = 0;

  struct _XkbDesc* xkb_ = nullptr; // the keyboard's types and symbols, null without XKB
  KeyCode shiftKey_ = 0, level3Key_ = 0;
  unsigned int level3Mask_ = 0;
  bool inText_ = false; // a text is being typed: events are flushed at its end
  int textGroup_ = 0;
  unsigned int textLocks_ = 0; // locked modifiers other than CapsLock
  // The top-level window the text goes to (0: not known yet) and the focus last seen in it.
  Window textTop_ = 0, textFocus_ = 0;

  Atom lockAtom_ = 0;
  Window lockOwner_ = 0;
  bool lockHeld_ = false;
};
