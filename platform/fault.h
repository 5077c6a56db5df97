// Entry points of faults: the platform's handlers call the portable ones of runtime/fault.h.
#pragma once
#include "base/types.h"

// Signals (with an alternate stack where there is one), the unhandled-exception filter and
// the runtime's invalid-parameter handler. False when the platform refused one.
bool PlatformInstallFaultHandlers();
// The first vectored exception handler (false where the platform has none).
bool PlatformAddVectoredHandler();
void PlatformRemoveVectoredHandler();

// Ends the process at once with status, after flushing the C streams: no destructors or
// exit handlers run in a program that faulted.
[[noreturn]] void PlatformExitNow(int status);
