// An in-process desktop for tests: windows, focus, key state and a record of every call
// that changes something, including each injected key and mouse record.
#pragma once
#include "platform/desktop.h"

#include <map>
#include <string>
#include <vector>

struct FakeWindow {
  std::string title;
  std::string className;
  U4 pid = 0;
  HWND_T parent = 0; // 0 for a top-level window
  WinRect rect{0, 0, 640, 480};
  U4 showCmd = kSwShowNormal;
  U4 style = 0;
};

class FakeDesktop : public Desktop {
public:
  FakeDesktop();

  // Add a window; its handle is returned. Children go after their parent in enumeration.
  HWND_T Add(const FakeWindow& w);
  // Add a window that comes into existence after msecs of the installed clock's time.
  HWND_T AddLater(const FakeWindow& w, U4 msecs);
  void Close(HWND_T window);
  FakeWindow* Find(HWND_T window);

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
  void ReturnLentKeys() override { calls.push_back("ReturnLentKeys"); }
  bool AcquireInputLock(U4 timeoutMsecs) override;
  void ReleaseInputLock() override;
  bool TextTargetFocused(HWND_T window) override;

  // Behaviour switches.
  bool setFocusFails = false;  // SetFocus returns 0 and changes nothing
  bool showActivates = true;   // ShowWindow with a visible show command brings the window forward
  bool clickActivates = true;  // a button press brings the window under the pointer forward
  bool sendInputFails = false; // SendInput inserts nothing
  bool placementFails = false; // GetWindowPlacement fails
  // The window that closes once keysUntilClose more key events have been sent (0: none).
  HWND_T closesAfterKeys = 0;
  int keysUntilClose = 0;
  // Another run holds the input lock: acquiring it fails after the timeout.
  bool inputLockBusy = false;
  bool inputLockHeld = false;
  int inputLockTurns = 0; // times the lock was taken
  // TextTargetFocused answers false from its nth call on (0: never).
  int focusLostAtCheck = 0;
  // calls.size() at each TextTargetFocused.
  std::vector<std::size_t> focusChecks;
  int screenWidth = 1920;
  int screenHeight = 1080;

  HWND_T foreground = 0;
  HWND_T focus = 0;
  WinPoint cursor;
  std::map<U4, U4> scanCodes; // MapVirtualKeyA(vk, 0) results; a missing code maps to 0

  // Every change in order: "SetWindowPos 1 after=-1 flags=0x3", "ShowWindow 1 cmd=9",
  // "SetFocus 1", "SetFocus 1 failed", "key 41 scan=1e down", "key 41 scan=1e up",
  // "mouse dx=32750 dy=32737 flags=0x8007", and so on.
  std::vector<std::string> calls;
  // Only the injected keys and mouse records of calls.
  std::vector<std::string> Input() const;
  // Every FindWindowA look-up as "class|title" ("(null)" for a missing argument).
  std::vector<std::string> findWindowCalls;
  int enumWindowsCalls = 0;

private:
  struct Entry {
    HWND_T hwnd;
    FakeWindow w;
    U8 dueMsecs; // exists from this clock time on
    bool closed;
  };
  U8 NowMsecs() const;
  Entry* Live(HWND_T window);
  void Descendants(HWND_T parent, std::vector<HWND_T>& out);
  HWND_T TopLevelAt(I4 x, I4 y);

  std::vector<Entry> windows_;
  HWND_T next_ = 0x100;
  bool down_[256] = {};
  bool toggled_[256] = {};
};

// Installs a fake desktop for the lifetime of the object.
class ScopedFakeDesktop {
public:
  ScopedFakeDesktop() { SetDesktop(&desktop); }
  ~ScopedFakeDesktop() { SetDesktop(nullptr); }
  ScopedFakeDesktop(const ScopedFakeDesktop&) = delete;
  ScopedFakeDesktop& operator=(const ScopedFakeDesktop&) = delete;
  FakeDesktop desktop;
};
