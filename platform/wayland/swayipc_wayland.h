// Window positions from sway's IPC (the socket named by SWAYSOCK), which the toplevel
// protocol does not give.
#pragma once
#include "platform/desktop.h"

#include <string>

// The outer rectangle of the one sway window with this title and app id (or X11 class);
// when several match, the focused one if focused is set. False with the reason on the
// error stack.
bool SwayWindowRect(const std::string& title, const std::string& appId, bool focused,
                    WinRect* rect);
