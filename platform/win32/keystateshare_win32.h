// AttachThreadInput resets the key state the attached threads share, CapsLock's toggle
// among it, and a thread that detaches keeps a stale copy of its own. These carry the key
// state over: what our thread saw last is what the threads share once attached.
#pragma once
#include <windows.h>

// Attaches our thread's input to other's; false when the system refused.
bool AttachInputKeepingKeys(DWORD other);
void DetachInputKeepingKeys(DWORD other);
