// The real Win32 desktop: every call goes straight to user32.
#include "platform/desktop.h"
#include "platform/win32/inputlock_win32.h"
#include "platform/win32/inputrelease_win32.h"
#include "platform/win32/keyintake_win32.h"
#include "platform/win32/keylayout_win32.h"
#include "platform/win32/keystateshare_win32.h"

#include <windows.h>

#include <vector>

namespace {

HWND Hwnd(HWND_T window) {
  return reinterpret_cast<HWND>(window);
}
HWND_T Handle(HWND window) {
  return reinterpret_cast<HWND_T>(window);
}

// EnumWindows hands us an LPARAM; carry the portable callback through it.
struct EnumContext {
  WinEnumProc proc;
  std::intptr_t param;
  bool stopped;
};

BOOL CALLBACK EnumTrampoline(HWND window, LPARAM lParam) {
  auto* context = reinterpret_cast<EnumContext*>(lParam);
  if (context->proc(Handle(window), context->param)) return TRUE;
  context->stopped = true;
  return FALSE;
}

// Copies at most maxCount - 1 bytes, always terminated; empty and 0 on failure.
template <typename Call> int CopyText(char* buffer, int maxCount, Call call) {
  if (!buffer || maxCount <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  buffer[0] = 0;
  int n = call(buffer, maxCount);
  if (n <= 0) {
    buffer[0] = 0;
    return 0;
  }
  if (n >= maxCount) n = maxCount - 1;
  buffer[n] = 0;
  return n;
}

// Input state (focus, active window, key state) is per thread; attaching our thread to the
// target's and to the foreground's lets SetFocus and SetForegroundWindow act on them.
class InputAttachment {
public:
  explicit InputAttachment(DWORD other) {
    DWORD self = GetCurrentThreadId();
    if (other && other != self && AttachInputKeepingKeys(other)) threads_.push_back(other);
  }
  void Add(DWORD other) {
    DWORD self = GetCurrentThreadId();
    if (!other || other == self) return;
    for (DWORD t : threads_)
      if (t == other) return;
    if (AttachInputKeepingKeys(other)) threads_.push_back(other);
  }
  ~InputAttachment() {
    for (DWORD t : threads_)
      DetachInputKeepingKeys(t);
  }
  InputAttachment(const InputAttachment&) = delete;
  InputAttachment& operator=(const InputAttachment&) = delete;

private:
  std::vector<DWORD> threads_;
};

constexpr DWORD kMouseButtons = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP | MOUSEEVENTF_RIGHTDOWN |
                                MOUSEEVENTF_RIGHTUP | MOUSEEVENTF_MIDDLEDOWN | MOUSEEVENTF_MIDDLEUP;

const INPUT* LastClick(const std::vector<INPUT>& records) {
  for (auto r = records.rbegin(); r != records.rend(); ++r)
    if (r->type == INPUT_MOUSE && (r->mi.dwFlags & kMouseButtons)) return &*r;
  return nullptr;
}

// The pixel an absolute coordinate was normalised from (rounded down) is the one it names.
LONG PixelOf(LONG normalised, int size) {
  if (size <= 1) return 0;
  return static_cast<LONG>((static_cast<long long>(normalised) * (size - 1) + 65534) / 65535);
}

// The thread of the window the record clicks in; 0 when none.
DWORD ThreadAt(const INPUT& click) {
  POINT at;
  if (click.mi.dwFlags & MOUSEEVENTF_ABSOLUTE) {
    at.x = PixelOf(click.mi.dx, ::GetSystemMetrics(SM_CXSCREEN));
    at.y = PixelOf(click.mi.dy, ::GetSystemMetrics(SM_CYSCREEN));
  } else if (!::GetCursorPos(&at)) {
    return 0;
  } else if (click.mi.dwFlags & MOUSEEVENTF_MOVE) {
    at.x += click.mi.dx;
    at.y += click.mi.dy;
  }
  HWND window = ::WindowFromPoint(at);
  return window ? ::GetWindowThreadProcessId(window, nullptr) : 0;
}

class Win32Desktop final : public Win32LayoutDesktop {
public:
  HWND_T FindWindowA(const char* className, const char* title) override {
    return Handle(::FindWindowA(className, title));
  }

  bool EnumWindows(WinEnumProc proc, std::intptr_t param) override {
    if (!proc) return false;
    EnumContext context{proc, param, false};
    // A callback that stops the walk makes the call return FALSE; that is no failure.
    return ::EnumWindows(EnumTrampoline, reinterpret_cast<LPARAM>(&context)) || context.stopped;
  }

  bool EnumChildWindows(HWND_T parent, WinEnumProc proc, std::intptr_t param) override {
    if (!proc || !::IsWindow(Hwnd(parent))) return false;
    EnumContext context{proc, param, false};
    ::EnumChildWindows(Hwnd(parent), EnumTrampoline, reinterpret_cast<LPARAM>(&context));
    // Its result is unreliable (FALSE for a window without children), so none is reported.
    return true;
  }

  int GetWindowTextA(HWND_T window, char* buffer, int maxCount) override {
    return CopyText(buffer, maxCount,
                    [&](char* b, int n) { return ::GetWindowTextA(Hwnd(window), b, n); });
  }

  int GetClassNameA(HWND_T window, char* buffer, int maxCount) override {
    return CopyText(buffer, maxCount,
                    [&](char* b, int n) { return ::GetClassNameA(Hwnd(window), b, n); });
  }

  U4 GetWindowThreadProcessId(HWND_T window, U4* pid) override {
    DWORD process = 0;
    DWORD thread = ::GetWindowThreadProcessId(Hwnd(window), &process);
    if (pid) *pid = thread ? process : 0;
    return thread;
  }

  bool IsWindow(HWND_T window) override { return window && ::IsWindow(Hwnd(window)); }

  HWND_T GetForegroundWindow() override { return Handle(::GetForegroundWindow()); }

  bool GetWindowPlacement(HWND_T window, WinPlacement* placement) override {
    if (!placement) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    if (!::GetWindowPlacement(Hwnd(window), &wp)) return false;
    placement->length = sizeof(WinPlacement);
    placement->flags = wp.flags;
    placement->showCmd = wp.showCmd;
    placement->minPosition = {wp.ptMinPosition.x, wp.ptMinPosition.y};
    placement->maxPosition = {wp.ptMaxPosition.x, wp.ptMaxPosition.y};
    placement->normalPosition = {wp.rcNormalPosition.left, wp.rcNormalPosition.top,
                                 wp.rcNormalPosition.right, wp.rcNormalPosition.bottom};
    return true;
  }

  bool SetWindowPos(HWND_T window, HWND_T insertAfter, int x, int y, int cx, int cy,
                    U4 flags) override {
    return ::SetWindowPos(Hwnd(window), Hwnd(insertAfter), x, y, cx, cy, flags);
  }

  bool ShowWindow(HWND_T window, int showCmd) override {
    if (!::IsWindow(Hwnd(window))) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    // Its result tells whether the window was visible before, not whether the call worked.
    ::ShowWindow(Hwnd(window), showCmd);
    return true;
  }

  HWND_T GetFocus() override {
    // ::GetFocus only sees our own thread's windows; ask the foreground thread instead.
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(0, &info)) return Handle(info.hwndFocus);
    return Handle(::GetFocus());
  }

  HWND_T SetFocus(HWND_T window) override {
    HWND target = Hwnd(window);
    if (!::IsWindow(target)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    HWND before = Hwnd(GetFocus());
    // Our keys so far are taken; attaching to more threads would end the sharing anyway.
    StopSharingKeyState();
    InputAttachment attached(::GetWindowThreadProcessId(target, nullptr));
    if (HWND front = ::GetForegroundWindow())
      attached.Add(::GetWindowThreadProcessId(front, nullptr));
    HWND top = GetAncestor(target, GA_ROOT);
    if (top && ::GetForegroundWindow() != top) SetForegroundWindow(top);
    ::SetFocus(target);
    if (::GetFocus() != target) return 0;
    return Handle(before ? before : target);
  }

  bool GetWindowRect(HWND_T window, WinRect* rect) override {
    if (!rect) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    RECT r;
    if (!::GetWindowRect(Hwnd(window), &r)) return false;
    *rect = {r.left, r.top, r.right, r.bottom};
    return true;
  }

  I2 GetKeyState(int virtualKey) override { return ::GetKeyState(virtualKey); }

  int GetSystemMetrics(int index) override { return ::GetSystemMetrics(index); }

  U4 MapVirtualKeyA(U4 code, U4 mapType) override { return ::MapVirtualKeyA(code, mapType); }

  // A press is noted before it goes out and a release after: a fault between the two
  // may release once too often, never too seldom.
  void keybd_event(U1 virtualKey, U1 scanCode, U4 flags, std::uintptr_t extraInfo) override {
    if (InText()) {
      QueueKey(virtualKey, scanCode, flags, extraInfo); // noted when the queue is sent
      return;
    }
    // Sharing the foreground thread's key state shows when it has taken the key; until
    // then a change of the foreground, by the next run for one, would take it along.
    HWND front = ::GetForegroundWindow();
    DWORD thread = front ? ::GetWindowThreadProcessId(front, nullptr) : 0;
    bool await = ShareKeyState(thread) && IntakeSeen();
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = virtualKey;
    in.ki.dwFlags = flags;
    KeyIntakeMark mark = KeyIntakeMarkOf(&in, 0, 1);
    if (!(flags & KEYEVENTF_KEYUP)) Win32NoteKeyEvent(virtualKey, scanCode, flags);
    ::keybd_event(virtualKey, scanCode, flags, extraInfo);
    if (flags & KEYEVENTF_KEYUP) Win32NoteKeyEvent(virtualKey, scanCode, flags);
    if (await) AwaitIntake(mark, front);
  }

  bool AcquireInputLock(U4 timeoutMsecs) override { return Win32AcquireInputLock(timeoutMsecs); }
  void ReleaseInputLock() override { Win32ReleaseInputLock(); }

  U4 SendInput(U4 count, const MouseInputRecord* inputs, int recordSize) override {
    // Callers size their records as the portable record or as the platform's INPUT.
    if (!inputs || count == 0 ||
        (recordSize != sizeof(MouseInputRecord) && recordSize != sizeof(INPUT))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    std::vector<INPUT> records(count);
    for (U4 i = 0; i < count; ++i) {
      INPUT& r = records[i];
      r.type = inputs[i].type;
      r.mi.dx = inputs[i].dx;
      r.mi.dy = inputs[i].dy;
      r.mi.mouseData = inputs[i].mouseData;
      r.mi.dwFlags = inputs[i].dwFlags;
      r.mi.time = inputs[i].time;
      r.mi.dwExtraInfo = inputs[i].dwExtraInfo;
    }
    // Buttons reach the window under the pointer only as its thread takes them; until then
    // a change of the foreground, by the next run for one, could put another window there.
    const INPUT* clicking = LastClick(records);
    bool await = clicking && ShareKeyState(ThreadAt(*clicking)) && IntakeSeen();
    KeyIntakeMark mark = clicking ? MouseIntakeMarkOf(clicking->mi.dwFlags) : KeyIntakeMark{};
    for (const INPUT& r : records)
      if (r.type == INPUT_MOUSE) Win32NoteMouseDowns(r.mi.dwFlags);
    U4 sent = ::SendInput(count, records.data(), sizeof(INPUT));
    for (U4 i = 0; i < sent; ++i)
      if (records[i].type == INPUT_MOUSE) Win32NoteMouseUps(records[i].mi.dwFlags);
    if (await && sent == count) AwaitIntake(mark, nullptr);
    return sent;
  }

  bool GetCursorPos(WinPoint* point) override {
    if (!point) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    POINT p;
    if (!::GetCursorPos(&p)) return false;
    *point = {p.x, p.y};
    return true;
  }

  int ProcessMessages() override {
    int handled = 0;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      BOOL got = GetMessageA(&msg, nullptr, 0, 0);
      if (got == 0) {
        // WM_QUIT belongs to whoever runs the thread's main loop: leave it for them.
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      if (got < 0) break;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
      ++handled;
    }
    return handled;
  }
};

} // namespace

Desktop& PlatformDesktop() {
  static Win32Desktop desktop;
  return desktop;
}
