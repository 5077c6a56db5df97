// The standard streams, the program's image and its directory.
#pragma once
#include "base/types.h"

// which 0, 1, 2 (input, output, error): the runtime's file number of the stream, -1 when
// the program has none; whether a file number is a terminal; the stream's handle.
int PlatformStreamFileNo(int which);
bool PlatformStreamIsTerminal(int fd);
void* PlatformStdHandle(int which);
void PlatformSetBinary(int fd);
// Puts the null device where a standard stream is missing, so that files opened later do
// not take its number and receive the program's console output.
void PlatformFillMissingStreams();

// A write to a pipe whose reader has gone fails with an error instead of ending the
// process, so that the program can end in order.
void PlatformIgnoreBrokenPipe();

// Full path of the own image; false when it cannot be found.
bool PlatformImagePath(char* bf, U4 size);
// Current directory; false with errno set on failure.
bool PlatformGetCwd(char* bf, U4 size);
bool PlatformChDir(const char* dir);
U4 PlatformPid();
int PlatformProcessorCount();
void* PlatformProcessHandle();
void* PlatformModuleInstance();

// Waits for one key press, unbuffered and without echo, when there is console input to
// read it from; returns false at once when there is none.
bool PlatformWaitKey();
