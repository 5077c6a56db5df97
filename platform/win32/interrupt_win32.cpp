#include "platform/interrupt.h"

#include <windows.h>

namespace {

HANDLE wake_event = nullptr; // set while a request waits, so sleeps end at once

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
  case CTRL_C_EVENT:
    PlatformRecordInterrupt(kInterruptCtrlC);
    return TRUE;
  case CTRL_BREAK_EVENT:
    PlatformRecordInterrupt(kInterruptBreak);
    return TRUE;
  case CTRL_CLOSE_EVENT:
    PlatformRecordInterrupt(kInterruptEnd);
    // The system ends the process when this returns; the main thread's orderly exit ends
    // it first, within the few seconds the system allows.
    Sleep(10000);
    return TRUE;
  default:
    return FALSE;
  }
}

} // namespace

void PlatformWakeSleeper() {
  if (wake_event) SetEvent(wake_event);
}

bool PlatformInstallInterruptHandlers(const char** failed, U4* code) {
  static bool installed = false;
  if (installed) return true;
  installed = true;
  wake_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (SetConsoleCtrlHandler(OnConsoleControl, TRUE)) return true;
  *failed = "SetConsoleCtrlHandler";
  *code = GetLastError();
  return false;
}

void PlatformInterruptibleSleep(U4 msecs) {
  if (PlatformInterrupts() != 0) return;
  if (!wake_event) {
    Sleep(msecs);
    return;
  }
  // Reset before the wait: a request recorded after this still sets the event.
  ResetEvent(wake_event);
  if (PlatformInterrupts() != 0) return;
  WaitForSingleObject(wake_event, msecs);
}
