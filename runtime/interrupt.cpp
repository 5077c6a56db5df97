#include "runtime/interrupt.h"

#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "platform/interrupt.h"

namespace {
U4 claimed = 0;
bool raised = false;
} // namespace

void InstallInterruptHandlers() {
  const char* failed = "";
  U4 code = 0;
  if (PlatformInstallInterruptHandlers(&failed, &code)) return;
  // The run goes on; Ctrl-C then ends it the system's way, and the log says why.
  PushErr();
  SeMLastErr(failed, nullptr, code);
  char msg[kErrMsgSize];
  ErrMessage(false, false, msg, sizeof msg);
  PopErr(false);
  LogStMult("InstallInterruptHandlers", ":", "ERROR(ignored): ", msg, nullptr);
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
