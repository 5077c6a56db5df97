// The standard streams, the program's image and its directory.
#pragma once
#include "runtime/types.h"

// fd 0, 1, 2: whether the runtime has the stream, whether it is a terminal, its handle.
bool PlatformStreamExists(int fd);
bool PlatformStreamIsTerminal(int fd);
void* PlatformStdHandle(int fd);
void PlatformSetBinary(int fd);

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
