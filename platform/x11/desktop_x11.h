// The desktop of an X11 display, driven through Xlib and the XTest extension.
// Window handles are X window ids. Top-level windows are the window manager's client
// windows (or, without one, the named children of the root window), front to back.
#pragma once
#include "platform/desktop.h"

#include <memory>

// A desktop on the named display (null: $DISPLAY). The display is opened on first use;
// when it cannot be opened every call fails with "cannot open display" on the error stack.
std::unique_ptr<Desktop> MakeX11Desktop(const char* displayName = nullptr);

// The X key symbol that virtual-key code vk produces on a US layout, 0 for none.
unsigned long X11KeysymForVk(U1 vk);
// The key symbol of the same key with Shift on a US layout (the upper-case letter for a
// letter), 0 when Shift changes nothing.
unsigned long X11ShiftedKeysym(unsigned long keysym);
