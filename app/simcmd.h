// One simulation command: {win}/{key}/{ud}/{y}/{x}.
#pragma once
#include "base/types.h"
#include "platform/desktop.h"

// Carries out the command; waits up to timeoutMsecs for its window. Failures go to the
// error stack. Does nothing while an error is pending.
void SimCmd(const char* cmd, U2 timeoutMsecs);

// Up/down code of a ud field: "D" 1, "U" 2, "DU" 3 (case ignored), absent or empty 3,
// anything else 0.
U1 UpDownCode(const char* ud);

// Steps of SimCmd. The window named win (title pattern or "Class:" pattern, top-level
// windows first, then child windows), polled every 10 ms for up to timeoutMsecs.
HWND_T SimCmdWindow(const char* win, U2 timeoutMsecs);
// Types a key field that begins with "'" into target; letter case goes through CapsLock.
void SimCmdText(char* field, HWND_T target);
