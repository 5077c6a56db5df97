#include "runtime/interrupt.h"

#include "errlog/errstack.h"
#include "platform/interrupt.h"

namespace {
U4 claimed = 0;
bool raised = false;
} // namespace

bool InstallInterruptHandlers(const char** failed, U4* code) {
  return PlatformInstallInterruptHandlers(failed, code);
}

bool InterruptRequested() {
  return (PlatformInterrupts() & ~claimed) != 0;
}

bool CheckInterrupt() {
  if (!InterruptRequested()) return ErrSet;
  PlatformTakeInterrupts(kInterruptAll & ~claimed);
  // A second request while the program is already ending adds nothing.
  if (raised) return ErrSet;
  raised = true;
  SeMErrMult("Process aborted", nullptr);
  return true;
}

bool InterruptRaised() {
  return raised;
}

void ClaimInterrupts(U4 mask) {
  claimed = mask & kInterruptAll;
}

U4 TakeClaimedInterrupts(U4 mask) {
  return PlatformTakeInterrupts(mask & claimed);
}

void ResetInterruptForTest() {
  raised = false;
  claimed = 0;
  PlatformTakeInterrupts(kInterruptAll);
}
