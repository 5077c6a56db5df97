#include "platform/fake/fake_desktop.h"

#include "platform/clock.h"

#include <cstdio>
#include <cstring>

namespace {
std::string Handle(HWND_T h) {
  if (h == kHwndTopmost) return "topmost";
  if (h == kHwndNotopmost) return "notopmost";
  return std::to_string(static_cast<unsigned long long>(h));
}

bool SameText(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char ca = a[i], cb = b[i];
    if (ca >= 'a' && ca <= 'z') ca = static_cast<char>(ca - 'a' + 'A');
    if (cb >= 'a' && cb <= 'z') cb = static_cast<char>(cb - 'a' + 'A');
    if (ca != cb) return false;
  }
  return true;
}

int CopyOut(const std::string& s, char* buffer, int maxCount) {
  if (!buffer || maxCount <= 0) return 0;
  std::size_t n = s.size();
  if (n > static_cast<std::size_t>(maxCount - 1)) n = static_cast<std::size_t>(maxCount - 1);
  std::memcpy(buffer, s.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

bool IsToggleKey(U1 vk) {
  return vk == 0x14 || vk == 0x90 || vk == 0x91;
}
} // namespace

FakeDesktop::FakeDesktop() {
  // Set-1 scan codes of a US keyboard for the keys tests like to type.
  const char* row1 = "QWERTYUIOP";
  const char* row2 = "ASDFGHJKL";
  const char* row3 = "ZXCVBNM";
  for (int i = 0; row1[i]; ++i)
    scanCodes[static_cast<U4>(row1[i])] = 0x10 + static_cast<U4>(i);
  for (int i = 0; row2[i]; ++i)
    scanCodes[static_cast<U4>(row2[i])] = 0x1E + static_cast<U4>(i);
  for (int i = 0; row3[i]; ++i)
    scanCodes[static_cast<U4>(row3[i])] = 0x2C + static_cast<U4>(i);
  for (U4 d = 1; d <= 9; ++d)
    scanCodes['0' + d] = 0x01 + d;
  scanCodes['0'] = 0x0B;
  scanCodes[0x08] = 0x0E;
  scanCodes[0x09] = 0x0F;
  scanCodes[0x0D] = 0x1C;
  scanCodes[0x10] = 0x2A;
  scanCodes[0x11] = 0x1D;
  scanCodes[0x12] = 0x38;
  scanCodes[0x14] = 0x3A;
  scanCodes[0x1B] = 0x01;
  scanCodes[0x20] = 0x39;
  scanCodes[0xBA] = 0x27;
  scanCodes[0xBB] = 0x0D;
  scanCodes[0xBC] = 0x33;
  scanCodes[0xBD] = 0x0C;
  scanCodes[0xBE] = 0x34;
  scanCodes[0xBF] = 0x35;
}

U8 FakeDesktop::NowMsecs() const {
  return TheClock().MonotonicUsecs() / 1000;
}

HWND_T FakeDesktop::Add(const FakeWindow& w) {
  return AddLater(w, 0);
}

HWND_T FakeDesktop::AddLater(const FakeWindow& w, U4 msecs) {
  HWND_T h = ++next_;
  windows_.push_back({h, w, msecs ? NowMsecs() + msecs : 0, false});
  return h;
}

void FakeDesktop::Close(HWND_T window) {
  for (auto& e : windows_) {
    if (e.hwnd == window) e.closed = true;
  }
  for (auto& e : windows_) {
    if (e.w.parent == window && !e.closed) Close(e.hwnd);
  }
  if (foreground == window) foreground = 0;
  if (focus == window) focus = 0;
}

FakeWindow* FakeDesktop::Find(HWND_T window) {
  Entry* e = Live(window);
  return e ? &e->w : nullptr;
}

FakeDesktop::Entry* FakeDesktop::Live(HWND_T window) {
  if (!window) return nullptr;
  U8 now = NowMsecs();
  for (auto& e : windows_) {
    if (e.hwnd == window) return (e.closed || e.dueMsecs > now) ? nullptr : &e;
  }
  return nullptr;
}

std::vector<std::string> FakeDesktop::Input() const {
  std::vector<std::string> out;
  for (const auto& c : calls) {
    if (c.rfind("key ", 0) == 0 || c.rfind("mouse ", 0) == 0) out.push_back(c);
  }
  return out;
}

HWND_T FakeDesktop::FindWindowA(const char* className, const char* title) {
  findWindowCalls.push_back(std::string(className ? className : "(null)") + "|" +
                            (title ? title : "(null)"));
  for (auto& e : windows_) {
    if (e.w.parent || !Live(e.hwnd)) continue;
    if (className && !SameText(e.w.className, className)) continue;
    if (title && !SameText(e.w.title, title)) continue;
    return e.hwnd;
  }
  return 0;
}

bool FakeDesktop::EnumWindows(WinEnumProc proc, std::intptr_t param) {
  ++enumWindowsCalls;
  std::vector<HWND_T> top;
  for (auto& e : windows_) {
    if (!e.w.parent && Live(e.hwnd)) top.push_back(e.hwnd);
  }
  for (HWND_T h : top) {
    if (!proc(h, param)) return false;
  }
  return true;
}

void FakeDesktop::Descendants(HWND_T parent, std::vector<HWND_T>& out) {
  for (auto& e : windows_) {
    if (e.w.parent == parent && Live(e.hwnd)) {
      out.push_back(e.hwnd);
      Descendants(e.hwnd, out);
    }
  }
}

bool FakeDesktop::EnumChildWindows(HWND_T parent, WinEnumProc proc, std::intptr_t param) {
  std::vector<HWND_T> all;
  Descendants(parent, all);
  for (HWND_T h : all) {
    if (!proc(h, param)) return false;
  }
  return true;
}

int FakeDesktop::GetWindowTextA(HWND_T window, char* buffer, int maxCount) {
  Entry* e = Live(window);
  if (!e) {
    if (buffer && maxCount > 0) buffer[0] = 0;
    return 0;
  }
  return CopyOut(e->w.title, buffer, maxCount);
}

int FakeDesktop::GetClassNameA(HWND_T window, char* buffer, int maxCount) {
  Entry* e = Live(window);
  if (!e) return 0;
  return CopyOut(e->w.className, buffer, maxCount);
}

U4 FakeDesktop::GetWindowThreadProcessId(HWND_T window, U4* pid) {
  Entry* e = Live(window);
  if (!e) return 0;
  if (pid) *pid = e->w.pid;
  return e->w.pid * 16 + 1;
}

bool FakeDesktop::IsWindow(HWND_T window) {
  return Live(window) != nullptr;
}

HWND_T FakeDesktop::GetForegroundWindow() {
  return Live(foreground) ? foreground : 0;
}

bool FakeDesktop::GetWindowPlacement(HWND_T window, WinPlacement* placement) {
  Entry* e = Live(window);
  if (!e || !placement || placement->length != sizeof(WinPlacement) || placementFails) return false;
  placement->flags = 0;
  placement->showCmd = e->w.showCmd;
  placement->normalPosition = e->w.rect;
  return true;
}

bool FakeDesktop::SetWindowPos(HWND_T window, HWND_T insertAfter, int x, int y, int cx, int cy,
                               U4 flags) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "SetWindowPos %s after=%s flags=0x%x", Handle(window).c_str(),
                Handle(insertAfter).c_str(), flags);
  std::string text = buf;
  if (!(flags & kSwpNoMove)) text += " pos=" + std::to_string(x) + "," + std::to_string(y);
  if (!(flags & kSwpNoSize)) text += " size=" + std::to_string(cx) + "x" + std::to_string(cy);
  calls.push_back(text);
  Entry* e = Live(window);
  if (!e) return false;
  WinRect& r = e->w.rect;
  if (!(flags & kSwpNoMove)) {
    r.right += x - r.left;
    r.bottom += y - r.top;
    r.left = x;
    r.top = y;
  }
  if (!(flags & kSwpNoSize)) {
    r.right = r.left + cx;
    r.bottom = r.top + cy;
  }
  return true;
}

bool FakeDesktop::ShowWindow(HWND_T window, int showCmd) {
  calls.push_back("ShowWindow " + Handle(window) + " cmd=" + std::to_string(showCmd));
  Entry* e = Live(window);
  if (!e) return false;
  bool wasVisible = e->w.showCmd != kSwHide;
  e->w.showCmd = showCmd == kSwRestore ? static_cast<U4>(kSwShowNormal) : static_cast<U4>(showCmd);
  // Hide, minimise and the "no activate" forms leave the foreground alone.
  bool activates = showCmd != 0 && showCmd != 4 && showCmd != 6 && showCmd != 7 && showCmd != 8;
  if (showActivates && activates && !e->w.parent) {
    foreground = window;
    focus = window;
  }
  return wasVisible;
}

HWND_T FakeDesktop::GetFocus() {
  return Live(focus) ? focus : 0;
}

HWND_T FakeDesktop::SetFocus(HWND_T window) {
  if (setFocusFails || !Live(window)) {
    calls.push_back("SetFocus " + Handle(window) + " failed");
    return 0;
  }
  calls.push_back("SetFocus " + Handle(window));
  HWND_T before = GetFocus();
  focus = window;
  return before ? before : window;
}

bool FakeDesktop::GetWindowRect(HWND_T window, WinRect* rect) {
  Entry* e = Live(window);
  if (!e || !rect) return false;
  *rect = e->w.rect;
  return true;
}

I2 FakeDesktop::GetKeyState(int virtualKey) {
  if (virtualKey < 0 || virtualKey > 255) return 0;
  U2 state = static_cast<U2>((down_[virtualKey] ? 0x8000 : 0) | (toggled_[virtualKey] ? 1 : 0));
  return static_cast<I2>(state);
}

int FakeDesktop::GetSystemMetrics(int index) {
  if (index == kSmCxScreen) return screenWidth;
  if (index == kSmCyScreen) return screenHeight;
  return 0;
}

U4 FakeDesktop::MapVirtualKeyA(U4 code, U4 mapType) {
  if (mapType != 0) return 0;
  auto it = scanCodes.find(code);
  return it == scanCodes.end() ? 0 : it->second;
}

void FakeDesktop::keybd_event(U1 virtualKey, U1 scanCode, U4 flags, std::uintptr_t extraInfo) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "key %02x scan=%02x flags=%x", virtualKey, scanCode, flags);
  std::string text = buf;
  if (extraInfo) text += " extra=" + std::to_string(static_cast<unsigned long long>(extraInfo));
  calls.push_back(text);
  bool press = !(flags & kKeyEventfKeyUp);
  if (press && !down_[virtualKey] && IsToggleKey(virtualKey))
    toggled_[virtualKey] = !toggled_[virtualKey];
  down_[virtualKey] = press;
  if (closesAfterKeys && --keysUntilClose == 0) Close(closesAfterKeys);
}

U4 FakeDesktop::SendInput(U4 count, const MouseInputRecord* inputs, int recordSize) {
  if (sendInputFails || !inputs || recordSize != static_cast<int>(sizeof(MouseInputRecord)))
    return 0;
  for (U4 i = 0; i < count; ++i) {
    const MouseInputRecord& m = inputs[i];
    char buf[160];
    std::snprintf(buf, sizeof buf, "mouse dx=%d dy=%d flags=0x%x", m.dx, m.dy, m.dwFlags);
    std::string text = buf;
    if (m.type || m.mouseData || m.time || m.dwExtraInfo) text += " (stray fields)";
    calls.push_back(text);
    if (m.dwFlags & kMouseEventfMove) {
      if (m.dwFlags & kMouseEventfAbsolute) {
        cursor.x = static_cast<I4>((I8{m.dx} * (screenWidth - 1) + 32767) / 65535);
        cursor.y = static_cast<I4>((I8{m.dy} * (screenHeight - 1) + 32767) / 65535);
      } else {
        cursor.x += m.dx;
        cursor.y += m.dy;
      }
    }
    const U4 presses = kMouseEventfLeftDown | kMouseEventfRightDown | kMouseEventfMiddleDown;
    if ((m.dwFlags & presses) && clickActivates) {
      if (HWND_T h = TopLevelAt(cursor.x, cursor.y)) {
        foreground = h;
        focus = h;
      }
    }
  }
  return count;
}

HWND_T FakeDesktop::TopLevelAt(I4 x, I4 y) {
  // The most recently added window is on top.
  for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
    const WinRect& r = it->w.rect;
    if (!it->w.parent && Live(it->hwnd) && x >= r.left && x < r.right && y >= r.top && y < r.bottom)
      return it->hwnd;
  }
  return 0;
}

bool FakeDesktop::GetCursorPos(WinPoint* point) {
  if (!point) return false;
  *point = cursor;
  return true;
}

bool FakeDesktop::AcquireInputLock(U4 timeoutMsecs) {
  if (inputLockHeld) return true;
  if (inputLockBusy) {
    PushInputLockBusy(timeoutMsecs);
    return false;
  }
  inputLockHeld = true;
  ++inputLockTurns;
  return true;
}

void FakeDesktop::ReleaseInputLock() {
  inputLockHeld = false;
}

bool FakeDesktop::TextTargetFocused(HWND_T window) {
  focusChecks.push_back(calls.size());
  if (focusLostAtCheck && static_cast<int>(focusChecks.size()) >= focusLostAtCheck) return false;
  if (!window) return true;
  HWND_T top = window;
  while (Entry* e = Live(top)) {
    if (!e->w.parent) break;
    top = e->w.parent;
  }
  return Live(window) && GetForegroundWindow() == top;
}
