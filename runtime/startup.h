// Start-up and the program's option lookup.
#pragma once
#include "base/settings.h"
#include "base/types.h"

// Reads the library's options, sets up memory tracking, names the program, opens the log,
// looks at the standard streams and installs the fault handlers. Runs once per process;
// does nothing while an error is pending or for a null argv / argv[0].
void ProgramInit(const char* const* argv);

// name null: every "-" argument must have been claimed ("Unrecognized argument \"...\"").
// name "": the first argument not beginning with "-", or dflt.
// otherwise: the value of option name (any leading part of at least two characters,
// alone or followed by "=" and a value); "" for a bare flag, dflt when absent, null on
// error. The first call performs the library pass.
const char* ArgText(const char* const* argv, const char* name, const char* dflt = nullptr,
                    bool allow_redundant = false);

// Typed lookups: absent gives dflt, a bare flag 1 (true), otherwise the parsed value.
// A value that does not parse: "Invalid argument value in \"<arg>\": <parser message>", 0.
U1 ArgU1(const char* const* argv, const char* name, U1 dflt);
U2 ArgU2(const char* const* argv, const char* name, U2 dflt);
U4 ArgU4(const char* const* argv, const char* name, U4 dflt);
U8 ArgU8(const char* const* argv, const char* name, U8 dflt);
I1 ArgI1(const char* const* argv, const char* name, I1 dflt);
I2 ArgI2(const char* const* argv, const char* name, I2 dflt);
I4 ArgI4(const char* const* argv, const char* name, I4 dflt);
I8 ArgI8(const char* const* argv, const char* name, I8 dflt);
double ArgDouble(const char* const* argv, const char* name, double dflt);
bool ArgBool(const char* const* argv, const char* name, bool dflt);

// Image path, image file name and program name ("?" each when they cannot be found).
const char* ProgramName();

// dflt when the variable is not set, true when it is empty, TrueWord of it otherwise.
bool EnvBool(const char* name, bool dflt);

// What the lower layers need from above: the error stack's callers text, stack log, text
// pool and fault end, and the keyboard's orderly end. ProgramInit installs them.
void InstallLayerHooks();

// Hooks for facilities that start-up sets up when they are linked in (null: skipped).
// Memory: the reuse-ring arrays, then the tracking itself.
extern void (*pgm_reuse_rings_hook)();
extern void (*pgm_mem_init_hook)();

// The argument count ArgText saw (0 before its first call).
extern U4 arg_cnt;

// For tests: forget that start-up and the library pass have run and restore defaults.
void ResetStartupForTest();
