// Every XTEST key and button event goes out here, so that the releases of what is down
// are always ready for a fault handler.
#include "platform/x11/x11desktop.h"

#include <X11/extensions/XTest.h>

void X11Desktop::PrepareRelease() {
  if (releaseTried_) return;
  releaseTried_ = true;
  // The idle connection opens under the watchdog too: a frozen server would hold it.
  watchdog_.Watch(NextFileDescriptor());
  release_.Prepare(dpy_, DisplayString(dpy_));
  watchdog_.Watch(ConnectionNumber(dpy_));
}

void X11Desktop::FakeKey(KeyCode code, bool down) {
  PrepareRelease();
  unsigned long serial = NextRequest(dpy_);
  XTestFakeKeyEvent(dpy_, code, down ? True : False, CurrentTime);
  release_.Key(code, down, serial);
}

void X11Desktop::FakeButton(unsigned int button, bool down) {
  PrepareRelease();
  unsigned long serial = NextRequest(dpy_);
  XTestFakeButtonEvent(dpy_, button, down ? True : False, CurrentTime);
  release_.Button(button, down, serial);
}
