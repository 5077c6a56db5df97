// Fault handlers: a faulting program reports the fault, its stack and any pending error,
// and ends with status 1 instead of dying silently.
#pragma once
#include "base/types.h"
#include "platform/fault.h"

inline constexpr U4 kCodeLocationSz = 512;
inline constexpr U4 kThreadCodeLocations = 10;

// Where the program is working, appended to fault texts when not empty.
extern char code_location[kCodeLocationSz];
extern char thread_code_location[kThreadCodeLocations][kCodeLocationSz];

// Results of Win32FaultHandler, as the platform's exception dispatch reads them.
inline constexpr int kFaultExecuteHandler = 1;
inline constexpr int kFaultContinueSearch = 0;
inline constexpr int kFaultContinueExecution = -1;

// The exception handler: reports the fault and ends the program, except for the codes
// that belong to other handlers (remote procedure calls, C++ exceptions), for which it
// returns. vectored: called before the raising code's own handlers.
int Win32FaultHandler(const FaultRecord& fault, bool vectored);
// The runtime's invalid-parameter handler.
[[noreturn]] void InvalidParameterHandler();
// The handler of the fault signals (illegal instruction, arithmetic, memory, abort).
[[noreturn]] void SignalFaultHandler(int signo, U8 address);

// Name of an exception code ("Access violation" ...), or the code in "%08lX" form (bf
// holds at least 9 bytes); of a signal number ("Unexp signal" when not a fault signal).
const char* ExceptionName(U4 code, char* bf);
const char* SignalName(int signo);

// Installs every handler once; with add_vectored also the first vectored handler.
void InstallFaultHandlers(bool add_vectored);
// The vectored handler alone: added once (nothing while an error is pending), removable.
void AddVectoredFaultHandler();
void RemoveVectoredFaultHandler();
