// Requests from outside to stop the program: the console's break keys and the system's
// end signals. The handlers only record a request; the main thread acts on it.
#pragma once
#include "base/types.h"

inline constexpr U4 kInterruptCtrlC = 1; // Ctrl-C, SIGINT
inline constexpr U4 kInterruptBreak = 2; // Ctrl-Break
inline constexpr U4 kInterruptEnd = 4;   // SIGTERM, SIGHUP, the console window closed
inline constexpr U4 kInterruptAll = 7;

// Installs the handlers once; a signal the program was started ignoring stays ignored.
void PlatformInstallInterruptHandlers();
// The requests recorded and not yet taken.
U4 PlatformInterrupts();
// Takes the requests of mask away; returns those that were recorded.
U4 PlatformTakeInterrupts(U4 mask);
// Called by the handlers (and tests): records a request and wakes a sleeper.
void PlatformRecordInterrupt(U4 kind);
// Sleeps msecs, or less when a request is recorded meanwhile or already waiting.
void PlatformInterruptibleSleep(U4 msecs);
