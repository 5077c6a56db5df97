#include "app/inject.h"

#include "app/heldinput.h"
#include "app/winlookup.h"
#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "text/numfmt.h"

#include <cstdio>

namespace {
constexpr int kMapVkToVsc = 0;
// Button code bits: the virtual-key codes of the left, right and middle buttons.
constexpr U1 kVkMouseLeftBit = 1;
constexpr U1 kVkMouseRightBit = 2;
constexpr U1 kVkMouseMiddleBit = 4;

void ActivationClick(HWND_T window) {
  SimMouse(1, kUdPress | kUdRelease, window, 1, 1, false);
}
// Window activation lies below injection, so the injection hands it its click.
[[maybe_unused]] const bool activation_click_installed = (activation_click = ActivationClick, true);
} // namespace

I4 NormalisedCoordinate(I4 p, I4 size) {
  if (size <= 1) return 0;
  return static_cast<I4>(I8{p} * 65535 / (size - 1));
}

void Tapster(U1 vk, U1 ud, HWND_T window) {
  if (ErrSet) return;
  if (debug_level) {
    LogStMult("Tapster", ":vk=", HexDigits(vk, 2).bf, " ud=", HexDigits(ud, 2).bf,
              " hwnd=", HexDigits(static_cast<U8>(window), 1, true).bf, nullptr);
  }
  if (window) ActivateWindow(window, true);
  if (ErrSet || !(ud & (kUdPress | kUdRelease))) return;

  Desktop& d = TheDesktop();
  U1 scan = static_cast<U1>(d.MapVirtualKeyA(vk, kMapVkToVsc) & 0xFF);
  if (ud & kUdPress) d.keybd_event(vk, scan, 0, 0);
  if (ud & kUdRelease) d.keybd_event(vk, scan, kKeyEventfKeyUp, 0);
  NoteKeyEvent(vk, ud);
}

void SimMouse(U1 button, U1 ud, HWND_T window, I2 y, I2 x, bool relative) {
  if (ErrSet) return;
  if (debug_level) {
    LogStMult("SimMouse", ":vk=", HexDigits(button, 2).bf, " ud=", HexDigits(ud, 2).bf,
              " hwnd=", HexDigits(static_cast<U8>(window), 1, true).bf, " gy=", VS10_I8(I4{y}).bf,
              " gx=", VS10_I8(I4{x}).bf, " abs=", relative ? "True" : "False", nullptr);
  }
  LoadSystemMetrics();

  Desktop& d = TheDesktop();
  I4 px = x, py = y;
  if (relative) {
    WinPoint pointer;
    if (!d.GetCursorPos(&pointer)) {
      SeMLastErr("GetCursorPos");
      return;
    }
    px += pointer.x;
    py += pointer.y;
  } else if (window) {
    if (!activation_guard) {
      ActivateWindow(window, true);
      if (ErrSet) return;
    }
    WinRect rect;
    if (!d.GetWindowRect(window, &rect)) {
      SeMErrno("GetWindowRect");
      return;
    }
    px += rect.left;
    py += rect.top;
  }

  // Absolute input cannot leave the screen: a click at its edge would hit something else.
  if (px < 0 || py < 0 || px >= sm_cxscreen || py >= sm_cyscreen) {
    char point[64];
    std::snprintf(point, sizeof point, "x=%ld y=%ld screen=%ldx%ld", static_cast<long>(px),
                  static_cast<long>(py), static_cast<long>(sm_cxscreen),
                  static_cast<long>(sm_cyscreen));
    SeMErrMult("SimMouse: the point lies outside the screen (", point, ")", nullptr);
    return;
  }

  MouseInputRecord input;
  input.dx = NormalisedCoordinate(px, sm_cxscreen);
  input.dy = NormalisedCoordinate(py, sm_cyscreen);
  U4 flags = kMouseEventfMove | kMouseEventfAbsolute;
  if (ud & kUdPress) {
    if (button & kVkMouseLeftBit) flags |= kMouseEventfLeftDown;
    if (button & kVkMouseRightBit) flags |= kMouseEventfRightDown;
    if (button & kVkMouseMiddleBit) flags |= kMouseEventfMiddleDown;
  }
  if (ud & kUdRelease) {
    if (button & kVkMouseLeftBit) flags |= kMouseEventfLeftUp;
    if (button & kVkMouseRightBit) flags |= kMouseEventfRightUp;
    if (button & kVkMouseMiddleBit) flags |= kMouseEventfMiddleUp;
  }
  input.dwFlags = flags;
  if (d.SendInput(1, &input, sizeof input) == 0) {
    SeMLastErr("SendInput");
    return;
  }
  NoteMouseEvent(flags);
}
