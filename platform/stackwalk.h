// Walking the calling thread's stack and naming code addresses.
#pragma once
#include "base/types.h"

// Return addresses of the calling thread's stack, innermost first, through the platform's
// unwinder: entry 0 lies in the function that called PlatformCaptureStack. Returns the
// number stored (at most max).
U4 PlatformCaptureStack(U8* addresses, U4 max);

// Lowest and highest address of the calling thread's stack; false when unknown.
bool PlatformStackBounds(U8* low, U8* high);

// The name of the function holding a code address (demangled, without its parameter
// list) and the distance from its start. False when no name is known.
bool PlatformSymbolName(U8 address, char* name, U4 size, U8* offset);

// The function part of a symbol's (possibly mangled) name: demangled, without namespace
// "(anonymous namespace)::" in front and without its parameter list.
void SymbolFunctionName(const char* raw, char* name, U4 size);

// Whether address follows a call instruction in loaded code (x86; false elsewhere).
bool PlatformIsCallReturn(U8 address);
// Whether the instruction bytes before at form a call (the platforms' shared decoder).
bool CallPrecedes(const U1* at);

// Start of the module that holds address (0 when unknown).
U8 PlatformModuleBase(U8 address);

// Raises the fault of an internal consistency failure: 0 an integer division by zero,
// 1 an invalid runtime call, anything else an abort. Returns only when a handler
// resumed the program.
void PlatformRaiseFault(int mode);
