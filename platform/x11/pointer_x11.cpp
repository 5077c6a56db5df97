// The X11 pointer: injected mouse records and the pointer position.
#include "platform/x11/x11desktop.h"

#include "errlog/errstack.h"

#include <X11/extensions/XTest.h>

namespace {

constexpr U4 kMouseEventfWheel = 0x0800;

// The pixel of a normalised absolute coordinate: the smallest pixel whose normalised value
// (truncated) is d, so that normalising and mapping back meet exactly.
int Denormalise(I4 d, int size) {
  if (size <= 1) return 0;
  I8 n = I8{d} * (size - 1);
  return static_cast<int>(n >= 0 ? (n + 65534) / 65535 : -((-n) / 65535));
}

} // namespace

U4 X11Desktop::SendInput(U4 count, const MouseInputRecord* inputs, int recordSize) {
  XCall call(this);
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
    if (f & kMouseEventfLeftDown) FakeButton(Button1, true);
    if (f & kMouseEventfRightDown) FakeButton(Button3, true);
    if (f & kMouseEventfMiddleDown) FakeButton(Button2, true);
    if (f & kMouseEventfLeftUp) FakeButton(Button1, false);
    if (f & kMouseEventfRightUp) FakeButton(Button3, false);
    if (f & kMouseEventfMiddleUp) FakeButton(Button2, false);
    if (f & kMouseEventfWheel) {
      // One notch is 120; X scrolls with buttons 4 (away) and 5 (towards the user).
      I4 notches = static_cast<I4>(in.mouseData) / 120;
      unsigned int button = notches >= 0 ? Button4 : Button5;
      for (I4 n = notches >= 0 ? notches : -notches; n > 0; --n) {
        FakeButton(button, true);
        FakeButton(button, false);
      }
    }
  }
  XFlush(dpy_);
  return count;
}

bool X11Desktop::GetCursorPos(WinPoint* point) {
  XCall call(this);
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
