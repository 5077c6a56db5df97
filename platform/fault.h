// Entry points of faults: the platform's handlers call the portable ones they are given.
#pragma once
#include "base/types.h"

// What the platform tells of an exception.
struct FaultRecord {
  U4 code = 0;
  U8 address = 0; // where it was raised
  U4 flags = 0;
  U8 frame = 0;                  // frame pointer of the faulting context; 0 when unknown
  U8 stack = 0;                  // its stack pointer; 0 when unknown
  const void* context = nullptr; // the platform's record of the faulting context
};

// The portable handlers the platform's entry points call.
struct FaultHooks {
  int (*exception)(const FaultRecord& fault, bool vectored); // result as Win32FaultHandler's
  void (*signal)(int signo, U8 address);                     // returns not
  void (*invalid_parameter)();                               // returns not
};

// Signals (with an alternate stack where there is one), the unhandled-exception filter and
// the runtime's invalid-parameter handler, all calling hooks. False when the platform
// refused one.
bool PlatformInstallFaultHandlers(const FaultHooks& hooks);
// The first vectored exception handler (false where the platform has none).
bool PlatformAddVectoredHandler();
void PlatformRemoveVectoredHandler();

// Ends the process at once with status, after flushing the C streams: no destructors or
// exit handlers run in a program that faulted.
[[noreturn]] void PlatformExitNow(int status);
