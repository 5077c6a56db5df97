#include "platform/desktop.h"

#include "errlog/errstack.h"

#include <cstdio>

namespace {
Desktop* installedDesktop = nullptr;
}

Desktop& TheDesktop() {
  return installedDesktop ? *installedDesktop : PlatformDesktop();
}

void SetDesktop(Desktop* desktop) {
  installedDesktop = desktop;
}

void PushInputLockBusy(U4 timeoutMsecs) {
  char waited[16];
  std::snprintf(waited, sizeof waited, "%lu", static_cast<unsigned long>(timeoutMsecs));
  SeMErrMult("AcquireInputLock: another run is sending input to this desktop; gave up after ",
             waited, " ms", nullptr);
}
