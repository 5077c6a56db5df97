// Reporting the pending error: the log line, the error file, the bell and, for a daemon
// program, a message to the interactive session.
#pragma once
#include "base/types.h"

// bell: 255 the bell setting decides, 0 none, other values ring. Returns false when no
// error was pending; true after the report (the error is cleared).
bool ProcessErr(U1 bell = 255, bool ignored = false);
// Shows an error pending now (one raised while reporting) and clears it.
void ShowErr();
