// Feeding bytes to a command's standard input.
#pragma once
#include "base/types.h"

// Runs cmd through the command interpreter, writes len bytes of data to its standard input,
// closes it and waits for the command to end, all within msecs; a command still running
// then is ended. False with the failing call's name and the system's code on failure.
bool PlatformWriteToCommand(const char* cmd, const char* data, U4 len, U4 msecs,
                            const char** failed_call, U4* code);
