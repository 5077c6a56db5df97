// The keys and mouse buttons this run pressed and has not released yet, so that a run
// that ends early can hand them back instead of leaving them down for the user.
#pragma once
#include "base/types.h"

// Record a key event (bit 0 press, bit 1 release) or the button flags of a mouse record.
void NoteKeyEvent(U1 vk, U1 ud);
void NoteMouseEvent(U4 flags);

// Number of keys and buttons held.
int HeldInputCount();

// Releases every held key (the latest pressed first) and button, without any window
// check, and gives back the key codes the desktop lent. An error pending before keeps
// priority over one met on the way.
void ReleaseHeldInput();
