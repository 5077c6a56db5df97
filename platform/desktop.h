// The desktop the simulation drives: windows, focus, key state and input injection.
// Calls are shaped after the Win32 user-interface functions so that portable code reads
// like the Win32 program it is; the Win32, X11 and fake desktops implement them.
#pragma once
#include "base/types.h"

using HWND_T = std::uintptr_t; // window handle (HWND on Windows, X window id on X11); 0 = none

// Insert-after values of SetWindowPos.
inline constexpr HWND_T kHwndTopmost = static_cast<HWND_T>(-1);
inline constexpr HWND_T kHwndNotopmost = static_cast<HWND_T>(-2);

inline constexpr U4 kSwpNoSize = 0x0001;
inline constexpr U4 kSwpNoMove = 0x0002;
inline constexpr U4 kSwpShowWindow = 0x0040;

inline constexpr int kSwHide = 0;
inline constexpr int kSwShowNormal = 1;
inline constexpr int kSwShowMinimized = 2;
inline constexpr int kSwShowMaximized = 3;
inline constexpr int kSwRestore = 9;

inline constexpr int kSmCxScreen = 0;
inline constexpr int kSmCyScreen = 1;

inline constexpr U4 kKeyEventfKeyUp = 0x0002;

inline constexpr U4 kMouseEventfMove = 0x0001;
inline constexpr U4 kMouseEventfLeftDown = 0x0002;
inline constexpr U4 kMouseEventfLeftUp = 0x0004;
inline constexpr U4 kMouseEventfRightDown = 0x0008;
inline constexpr U4 kMouseEventfRightUp = 0x0010;
inline constexpr U4 kMouseEventfMiddleDown = 0x0020;
inline constexpr U4 kMouseEventfMiddleUp = 0x0040;
inline constexpr U4 kMouseEventfAbsolute = 0x8000;

inline constexpr int kVkShift = 0x10;
inline constexpr int kVkCapital = 0x14;

struct WinPoint {
  I4 x = 0;
  I4 y = 0;
};

struct WinRect {
  I4 left = 0;
  I4 top = 0;
  I4 right = 0;
  I4 bottom = 0;
};

// Same fields and size (44 bytes) as WINDOWPLACEMENT.
struct WinPlacement {
  U4 length = 0;
  U4 flags = 0;
  U4 showCmd = 0;
  WinPoint minPosition;
  WinPoint maxPosition;
  WinRect normalPosition;
};
static_assert(sizeof(WinPlacement) == 44);

// The mouse half of the INPUT record sent through SendInput (type 0).
struct MouseInputRecord {
  U4 type = 0;
  I4 dx = 0;
  I4 dy = 0;
  U4 mouseData = 0;
  U4 dwFlags = 0;
  U4 time = 0;
  std::uintptr_t dwExtraInfo = 0;
};

// The keys that type one character on a keyboard layout: the modifier keys held around the
// key itself, each as the virtual-key and scan code pair that keybd_event sends.
struct LayoutKey {
  struct Code {
    U1 vk = 0;
    U1 scan = 0;
  };
  Code key;
  Code modifiers[3];
  int modifierCount = 0;
};

// Enumeration callback: return 0 to stop, 1 to go on.
using WinEnumProc = int (*)(HWND_T window, std::intptr_t param);

class Desktop {
public:
  virtual ~Desktop() = default;

  // Exact look-up of a top-level window; either argument may be null (any).
  virtual HWND_T FindWindowA(const char* className, const char* title) = 0;
  virtual bool EnumWindows(WinEnumProc proc, std::intptr_t param) = 0;
  // All descendants of parent, each parent before its children.
  virtual bool EnumChildWindows(HWND_T parent, WinEnumProc proc, std::intptr_t param) = 0;
  // Copy at most maxCount - 1 bytes and a terminator; return the length, 0 on failure.
  virtual int GetWindowTextA(HWND_T window, char* buffer, int maxCount) = 0;
  virtual int GetClassNameA(HWND_T window, char* buffer, int maxCount) = 0;
  // Thread id (0 on failure); the owning process id through pid when given.
  virtual U4 GetWindowThreadProcessId(HWND_T window, U4* pid) = 0;
  virtual bool IsWindow(HWND_T window) = 0;

  virtual HWND_T GetForegroundWindow() = 0;
  virtual bool GetWindowPlacement(HWND_T window, WinPlacement* placement) = 0;
  virtual bool SetWindowPos(HWND_T window, HWND_T insertAfter, int x, int y, int cx, int cy,
                            U4 flags) = 0;
  virtual bool ShowWindow(HWND_T window, int showCmd) = 0;
  virtual HWND_T GetFocus() = 0;
  // The window that had the focus before, 0 when the focus could not be set.
  virtual HWND_T SetFocus(HWND_T window) = 0;
  virtual bool GetWindowRect(HWND_T window, WinRect* rect) = 0;

  // Bit 0: toggled (CapsLock on); bit 15: key is down.
  virtual I2 GetKeyState(int virtualKey) = 0;
  virtual int GetSystemMetrics(int index) = 0;
  virtual U4 MapVirtualKeyA(U4 code, U4 mapType) = 0;
  virtual void keybd_event(U1 virtualKey, U1 scanCode, U4 flags, std::uintptr_t extraInfo) = 0;
  // Records inserted; 0 on failure (the reason through the platform's last error).
  virtual U4 SendInput(U4 count, const MouseInputRecord* inputs, int recordSize) = 0;
  virtual bool GetCursorPos(WinPoint* point) = 0;

  // Drain the calling thread's message queue; return the number of messages handled.
  virtual int ProcessMessages() { return 0; }
  // Give back the key codes lent to key symbols that no key produced (X11); the keyboard
  // is as before the run afterwards.
  virtual void ReturnLentKeys() {}

  // Runs on one desktop take turns: a run holds the desktop's input lock (one per X display,
  // Wayland display or Windows session) from its first key to its last release. Wait at most
  // timeoutMsecs for it; true once held, at once when this run holds it already. A lock whose
  // holder ended, crashed included, is free. False with the error on the error stack
  // (PushInputLockBusy's when another run kept it).
  virtual bool AcquireInputLock(U4 timeoutMsecs) {
    (void)timeoutMsecs;
    return true;
  }
  // Give the lock back; nothing when it is not held.
  virtual void ReleaseInputLock() {}
  // A text goes out in chunks. Between two chunks and after the last: confirm, with a round
  // trip, that window (0: the one that had the focus when the text began) still exists and
  // still holds the input focus, which may have moved within it, and hand over the keys of
  // the text sent so far (a desktop may hold them back until this check passes and drop
  // them when it fails). False when not; nothing goes onto the error stack.
  virtual bool TextTargetFocused(HWND_T window) { return !window || IsWindow(window); }

  // Typed text on the keyboard layout of the window that receives it. The defaults are a
  // US layout, on which every virtual key gives its own character.
  // A text for window (0: the focus) begins: the layout is read here, once.
  virtual void BeginText(HWND_T window) { (void)window; }
  // True when key vk, with Shift held or not and CapsLock on or not, types ch.
  virtual bool KeyTypes(U1 vk, bool shift, bool capsLock, U4 ch) {
    (void)vk, (void)shift, (void)capsLock, (void)ch;
    return true;
  }
  // The layout's own key for ch under the given CapsLock; false when the layout has none.
  virtual bool LayoutKeyFor(U4 ch, bool capsLock, LayoutKey* key) {
    (void)ch, (void)capsLock, (void)key;
    return false;
  }
  // Press and release a key that types ch whatever the layout; false when impossible.
  virtual bool TypeUnicodeChar(U4 ch) {
    (void)ch;
    return false;
  }
  // The text has ended: what was sent has been taken by the system. False on failure (on
  // the error stack).
  virtual bool EndText() { return true; }
};

// The error of an input lock that another run kept for all of timeoutMsecs.
void PushInputLockBusy(U4 timeoutMsecs);
// Asks take() every few milliseconds, for at most timeoutMsecs, until it has the lock;
// PushInputLockBusy's error after that. True once taken.
enum class LockTry { kTaken, kBusy, kFailed /* its error on the error stack */ };
bool PollInputLock(U4 timeoutMsecs, LockTry (*take)(void* self), void* self);

// The desktop in use: the platform's real one unless a test installed another.
Desktop& TheDesktop();
// Install a desktop (tests); null goes back to the platform's own.
void SetDesktop(Desktop* desktop);
// The platform's real desktop (Win32 or X11), created on first use.
Desktop& PlatformDesktop();
