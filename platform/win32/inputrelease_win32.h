// The keys and buttons this process holds down on the Windows desktop, kept as the input
// records that release them, so that an exception handler can send them with SendInput
// alone.
#pragma once
#include "base/types.h"

// A key event about to be sent (press) or just sent (release), flags as keybd_event's.
void Win32NoteKeyEvent(U1 vk, U1 scan, U4 flags);
// The button flags of a mouse record: presses before it is sent, releases after.
void Win32NoteMouseDowns(U4 flags);
void Win32NoteMouseUps(U4 flags);
