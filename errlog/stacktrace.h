// Caller chains, stack listings and the deliberate fault of internal consistency checks.
#pragma once
#include "base/types.h"

extern U2 CallersSkip; // innermost frames left out of StackCallers_STC (errlog/errstack.cpp)

// Names of the calling functions, innermost first, "/" between them, "?" for a frame
// without a name, ending with "main" when the walk reaches it. Static buffer of 512 bytes.
// With the debug level set every entry keeps its "/<offset>" part.
char* StackCallers_STC();
// The same chain beginning at the frame that return_address returns into (0: at the
// caller), leaving out skip entries from there.
char* StackCallersFrom_STC(U8 return_address, U2 skip);

// The symbol text of a code address: its function name, with with_offset "/" and the
// distance from the symbol's start in upper-case hex; "?" when unknown.
const char* MapSymbolAndOffset(U8 address, bool with_offset);

// The current call stack into the log ("STACK FRAMES:", "Call:<hex> <symbol>") or
// onto standard output.
void LogStack();
void PrintStack();
// LogStack beginning at address when the stack holds it (a fault seen from its handler).
void LogStackFrom(U8 address);
// The stack from a fault's address and frame pointer; nothing for frame 0 (LogStackFrames).
// stack: the fault's stack pointer, 0 when unknown; a function without a frame of its own
// left its caller's return address there.
void LogStackFrames(U8 address, U8 frame, U8 stack = 0);
void PrintStackFrames(U8 address, U8 frame, U8 stack = 0);

// Stops the program by a fault so that the fault path logs the stack. name is the
// caller's name (null prints "?"); mode 0 divide by zero, 1 invalid runtime call,
// 2 abort.
// Set by the code that installs the fault handlers; until then CrashMe aborts instead of
// raising a fault that nothing would report.
extern bool fault_handlers_installed;
[[noreturn]] void CrashMe(const char* name, int mode = 0);
