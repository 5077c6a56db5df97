// Runs in one Windows session take turns at its input through a named mutex.
#pragma once
#include "base/types.h"

bool Win32AcquireInputLock(U4 timeoutMsecs);
void Win32ReleaseInputLock();
