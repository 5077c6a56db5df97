// The desktop of a wlroots Wayland compositor: windows are the toplevels that
// zwlr_foreign_toplevel_manager_v1 lists (title, and app id as the class name), keys go
// through zwp_virtual_keyboard_manager_v1 with a keymap of our own, the mouse through
// zwlr_virtual_pointer_manager_v1, and window positions come from sway's IPC.
// Window handles are numbers this desktop gives the toplevels as they appear.
#pragma once
#include "platform/desktop.h"

#include <memory>
#include <string>

class WaylandDesktop;

// Connect to the named display (null: $WAYLAND_DISPLAY). A desktop that cannot connect or
// misses a protocol fails every call with the reason (Problem()).
std::unique_ptr<WaylandDesktop> MakeWaylandDesktop(const char* displayName = nullptr);
// Empty when the desktop is usable, else why not.
const std::string& WaylandProblem(const WaylandDesktop& desktop);
Desktop& AsDesktop(WaylandDesktop& desktop);
