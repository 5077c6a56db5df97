// The platform's last-error code and its message texts.
#pragma once
#include "base/types.h"

// The calling thread's last system error (GetLastError on Windows). On POSIX the platform
// code records its failures here; 0 until it does.
U4 PlatformLastError();
void SetPlatformLastError(U4 code);

// The system's text for an error code into bf (NUL-terminated, cut to size). False when
// the system knows no text for it.
bool PlatformErrorText(U4 code, char* bf, U4 size);

// Fetches and clears the error mask of a communications handle (ClearCommError); status
// receives the platform's status record when not null. False with the last error set
// when there is no such device.
bool PlatformClearCommError(void* handle, U4* mask, void* status);

// A message box in the interactive session (a daemon has no console user); waits for the
// answer, at most kSessionMessageSecs. False with the last error set when there is no
// session message service.
inline constexpr U4 kSessionMessageSecs = 60;
bool PlatformSessionMessage(const char* title, const char* text);
