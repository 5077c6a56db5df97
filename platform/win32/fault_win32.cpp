// Fault entry points on Windows: the unhandled-exception filter, the first vectored
// handler, the runtime's signal handlers and its invalid-parameter handler.
#include "platform/fault.h"
#include "platform/stackwalk.h"

#include "platform/win32/reservestack_win32.h"

#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

void* vectored_handle = nullptr;
FaultHooks handlers{};

FaultRecord Record(const EXCEPTION_POINTERS* ep) {
  FaultRecord r;
  if (!ep || !ep->ExceptionRecord) return r;
  r.code = ep->ExceptionRecord->ExceptionCode;
  r.address = reinterpret_cast<uintptr_t>(ep->ExceptionRecord->ExceptionAddress);
  r.flags = ep->ExceptionRecord->ExceptionFlags;
  r.context = ep->ContextRecord;
  if (ep->ContextRecord) {
#if defined(_M_IX86) || defined(__i386__)
    r.frame = ep->ContextRecord->Ebp;
    r.stack = ep->ContextRecord->Esp;
#elif defined(_M_X64) || defined(__x86_64__)
    r.frame = ep->ContextRecord->Rbp;
    r.stack = ep->ContextRecord->Rsp;
#endif
  }
  return r;
}

struct HandlerCall {
  EXCEPTION_POINTERS* ep;
  bool vectored;
  LONG result;
};

void RunHandler(void* arg) {
  auto* call = static_cast<HandlerCall*>(arg);
  call->result = handlers.exception(Record(call->ep), call->vectored);
}

// A stack overflow leaves the handler a page or two (all that some systems keep back,
// whatever the guarantee asked for): its report runs on a stack of its own.
LONG Handle(EXCEPTION_POINTERS* ep, bool vectored) {
  // Wine delivers a SIGABRT of the process (its own assertions, or one sent from outside)
  // as this exception, raised where the signal struck: often inside the system's own code,
  // at an address of no module and with no frames to walk. It is reported as the signal.
  constexpr DWORD kWineAbortSignal = 0x80000101;
  if (ep && ep->ExceptionRecord && ep->ExceptionRecord->ExceptionCode == kWineAbortSignal)
    handlers.signal(SIGABRT, 0);
  HandlerCall call{ep, vectored, 0};
  if (ep && ep->ExceptionRecord && ep->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW)
    CallOnReserveStack(RunHandler, &call);
  else
    RunHandler(&call);
  return call.result;
}

LONG WINAPI OnUnhandled(EXCEPTION_POINTERS* ep) {
  return Handle(ep, false);
}

LONG CALLBACK OnVectored(EXCEPTION_POINTERS* ep) {
  return Handle(ep, true);
}

void OnSignal(int signo) {
  handlers.signal(signo, 0);
}

using InvalidParameterProc = void(__cdecl*)(const wchar_t*, const wchar_t*, const wchar_t*,
                                            unsigned, uintptr_t);

void __cdecl OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned,
                                uintptr_t) {
  handlers.invalid_parameter();
}

// The runtime DLL the program uses; older ones lack the handler, which is no failure.
bool SetInvalidParameterHandler() {
  using Setter = InvalidParameterProc(__cdecl*)(InvalidParameterProc);
  for (const char* dll : {"ucrtbase.dll", "msvcrt.dll"}) {
    HMODULE module = GetModuleHandleA(dll);
    if (!module) continue;
    auto set = reinterpret_cast<Setter>(
        reinterpret_cast<void*>(GetProcAddress(module, "_set_invalid_parameter_handler")));
    if (!set) continue;
    set(OnInvalidParameter);
    return true;
  }
  return false;
}

// A stack overflow leaves the handler only what this reserves: the report, the stack walk
// and the orderly end run on it.
bool ReserveHandlerStack() {
  constexpr ULONG kHandlerStackBytes = 256 * 1024;
  ULONG size = kHandlerStackBytes;
  return SetThreadStackGuarantee(&size) != 0;
}

} // namespace

bool PlatformInstallFaultHandlers(const FaultHooks& hooks) {
  handlers = hooks;
  bool ok = ReserveHandlerStack();
  SetUnhandledExceptionFilter(OnUnhandled);
  for (int signo : {SIGABRT, SIGFPE, SIGSEGV, SIGILL})
    ok = std::signal(signo, OnSignal) != SIG_ERR && ok;
  SetInvalidParameterHandler();
  // No error box of the system: the handlers report, and a program without a console
  // user must not wait for a click.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  return ok;
}

bool PlatformAddVectoredHandler() {
  if (!vectored_handle) vectored_handle = AddVectoredExceptionHandler(1, OnVectored);
  return vectored_handle != nullptr;
}

void PlatformRemoveVectoredHandler() {
  if (vectored_handle) RemoveVectoredExceptionHandler(vectored_handle);
  vectored_handle = nullptr;
}

void PlatformExitNow(int status) {
  std::fflush(nullptr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  ExitProcess(static_cast<UINT>(status));
}

namespace {
volatile int fault_dividend = 7;
volatile int fault_divisor = 0;
std::FILE* volatile null_stream = nullptr;
} // namespace

void PlatformRaiseFault(int mode) {
  if (mode == 0) {
    // A real division, so that the fault is raised where CrashMe called it.
    volatile int quotient = fault_dividend / fault_divisor;
    (void)quotient;
  } else if (mode == 1) {
    // The runtime calls its invalid-parameter handler; a runtime that only sets errno
    // leaves that to us.
    std::fclose(null_stream);
    if (handlers.invalid_parameter) handlers.invalid_parameter();
  }
  std::abort();
}
