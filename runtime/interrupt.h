// Ctrl-C, Ctrl-Break and the system's end signals end the program in order: the handlers
// only note the request, and the main thread turns it into the error "Process aborted",
// which every following call passes outward to ProgramExit.
#pragma once
#include "base/types.h"

// Installs the handlers (start-up; once per process).
void InstallInterruptHandlers();
// A request waits that no one has claimed.
bool InterruptRequested();
// With a request waiting: raises "Process aborted" (once per run) and returns true.
// Otherwise returns ErrSet.
bool CheckInterrupt();

// Requests of the kinds in mask (kInterrupt... of platform/interrupt.h) are left to the
// caller, the open console keyboard, instead of ending the program; 0 gives them back.
void ClaimInterrupts(U4 mask);
// Takes the claimed requests of mask; returns those that were waiting.
U4 TakeClaimedInterrupts(U4 mask);

// For tests: forget that the error was raised and drop waiting requests.
void ResetInterruptForTest();
