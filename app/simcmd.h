// One simulation command: {win}/{key}/{ud}/{y}/{x}.
#pragma once
#include "runtime/types.h"

// Carries out the command; waits up to timeoutMsecs for its window. Failures go to the
// error stack. Does nothing while an error is pending.
void SimCmd(const char* cmd, U2 timeoutMsecs);

// Up/down code of a ud field: "D" 1, "U" 2, "DU" 3 (case ignored), absent or empty 3,
// anything else 0.
U1 UpDownCode(const char* ud);
