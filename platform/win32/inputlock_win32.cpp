#include "platform/win32/inputlock_win32.h"

#include "errlog/errstack.h"
#include "platform/desktop.h"

#include <windows.h>

namespace {
// "Local\" keeps the name within the session, where the keyboard and the windows are.
const char kLockName[] = "Local\\TapsterInputLock";
HANDLE lockMutex = nullptr;
bool lockHeld = false;
} // namespace

bool Win32AcquireInputLock(U4 timeoutMsecs) {
  if (lockHeld) return true;
  if (!lockMutex) lockMutex = ::CreateMutexA(nullptr, FALSE, kLockName);
  if (!lockMutex) {
    SeMLastErr("CreateMutexA");
    return false;
  }
  switch (::WaitForSingleObject(lockMutex, timeoutMsecs)) {
  case WAIT_OBJECT_0:
  case WAIT_ABANDONED: // its holder ended without giving it back: it is ours now
    lockHeld = true;
    return true;
  case WAIT_TIMEOUT:
    PushInputLockBusy(timeoutMsecs);
    return false;
  default:
    SeMLastErr("WaitForSingleObject");
    return false;
  }
}

void Win32ReleaseInputLock() {
  if (!lockHeld) return;
  lockHeld = false;
  ::ReleaseMutex(lockMutex);
}
