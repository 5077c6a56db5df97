// The Wayland mouse: a virtual pointer moved in absolute coordinates over the output, and
// window rectangles from sway's IPC.
#include "platform/wayland/swayipc_wayland.h"
#include "platform/wayland/wayland_desktop.h"

#include "errlog/errstack.h"

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <linux/input-event-codes.h>

#include <iterator>

namespace {

// A normalised absolute coordinate (0..65535) back to the pixel it was made from.
int Pixel(I4 normalised, int size) {
  if (size <= 1) return 0;
  long long p = (static_cast<long long>(normalised) * (size - 1) + 32767) / 65535;
  return static_cast<int>(p < 0 ? 0 : p > size - 1 ? size - 1 : p);
}

struct ButtonBits {
  U4 down, up;
  std::uint32_t button;
};
constexpr ButtonBits kButtons[kPointerButtons] = {
    {kMouseEventfLeftDown, kMouseEventfLeftUp, BTN_LEFT},
    {kMouseEventfRightDown, kMouseEventfRightUp, BTN_RIGHT},
    {kMouseEventfMiddleDown, kMouseEventfMiddleUp, BTN_MIDDLE}};

} // namespace

bool WaylandDesktop::EnsurePointer() {
  if (pointer_) return true;
  if (!pointerManager_) {
    SeMErrMult("Wayland: the compositor of display \"", name_.c_str(),
               "\" does not offer zwlr_virtual_pointer_manager_v1 (mouse)", nullptr);
    return false;
  }
  if (pointerFailed_) {
    SeMErrMult("Wayland: no virtual pointer", nullptr);
    return false;
  }
  pointerFailed_ = true;
  pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointerManager_, seat_);
  // As with the keyboard: clients take a pointer only once the seat shows one.
  if (!WaitFor(kActivateMsecs * 2, [&] { return (seatCaps_ & WL_SEAT_CAPABILITY_POINTER) != 0; }) ||
      !RoundTrip()) {
    if (!ErrSet) SeMErrMult("Wayland: the compositor did not take our virtual pointer", nullptr);
    return false;
  }
  pointerFailed_ = false;
  return true;
}

U4 WaylandDesktop::SendInput(U4 count, const MouseInputRecord* inputs, int recordSize) {
  if (!Ready() || !inputs || recordSize != static_cast<int>(sizeof(MouseInputRecord))) return 0;
  if (!EnsurePointer()) return 0;
  int width = GetSystemMetrics(kSmCxScreen), height = GetSystemMetrics(kSmCyScreen);
  for (U4 i = 0; i < count; ++i) {
    const MouseInputRecord& in = inputs[i];
    std::uint32_t now = NowMsecs();
    if ((in.dwFlags & kMouseEventfMove) && (in.dwFlags & kMouseEventfAbsolute)) {
      if (width <= 0 || height <= 0) {
        SeMErrMult("SendInput: the Wayland output's size is unknown", nullptr);
        return i;
      }
      int x = Pixel(in.dx, width), y = Pixel(in.dy, height);
      // Twice the extent aims at the middle of the pixel, not at its edge.
      zwlr_virtual_pointer_v1_motion_absolute(pointer_, now, 2u * x + 1, 2u * y + 1, 2u * width,
                                              2u * height);
      pointerAt_ = {x, y};
      pointerKnown_ = true;
      if (in.dwFlags & (kMouseEventfLeftDown | kMouseEventfRightDown | kMouseEventfMiddleDown)) {
        // The window under the pointer learns of it with this move; the press must come
        // after the compositor has handled it.
        zwlr_virtual_pointer_v1_frame(pointer_);
        if (!RoundTrip()) return i;
      }
    } else if (in.dwFlags & kMouseEventfMove) {
      zwlr_virtual_pointer_v1_motion(pointer_, now, wl_fixed_from_int(in.dx),
                                     wl_fixed_from_int(in.dy));
      pointerAt_.x += in.dx, pointerAt_.y += in.dy;
    }
    for (std::size_t b = 0; b < std::size(kButtons); ++b)
      if (in.dwFlags & kButtons[b].down) {
        zwlr_virtual_pointer_v1_button(pointer_, now, kButtons[b].button,
                                       WL_POINTER_BUTTON_STATE_PRESSED);
        buttonsDown_[b] = kButtons[b].button;
      }
    for (std::size_t b = 0; b < std::size(kButtons); ++b)
      if (in.dwFlags & kButtons[b].up) {
        zwlr_virtual_pointer_v1_button(pointer_, now, kButtons[b].button,
                                       WL_POINTER_BUTTON_STATE_RELEASED);
        buttonsDown_[b] = 0;
      }
    zwlr_virtual_pointer_v1_frame(pointer_);
  }
  if (!Flush()) return 0;
  NoteButtonsSent();
  return count;
}

bool WaylandDesktop::GetCursorPos(WinPoint* point) {
  if (!Ready() || !point) return false;
  if (!pointerKnown_) {
    // No protocol tells another client's pointer position: only our own moves are known.
    SeMErrMult("GetCursorPos: on Wayland the pointer position is known only after an "
               "absolute move of this run",
               nullptr);
    return false;
  }
  *point = pointerAt_;
  return true;
}

bool WaylandDesktop::GetWindowRect(HWND_T window, WinRect* rect) {
  if (!Ready() || !rect) return false;
  Toplevel* t = Find(window);
  if (!t) {
    SeMErrMult("Handle does not refer to an active window", nullptr);
    return false;
  }
  // A click follows: the pointer is made now, so that the clients have taken it by then.
  if (pointerManager_ && !EnsurePointer()) return false;
  return SwayWindowRect(t->title, t->appId, t->activated, rect);
}
