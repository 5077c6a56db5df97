#include "runtime/fault.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/notify.h"
#include "errlog/pgmlog.h"
#include "errlog/stacktrace.h"
#include "platform/fault.h"
#include "platform/inputrelease.h"
#include "platform/stackwalk.h"
#include "runtime/shutdown.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>

char code_location[kCodeLocationSz] = "";
char thread_code_location[kThreadCodeLocations][kCodeLocationSz] = {};

namespace {

constexpr U4 kRpcServerUnavailable = 1722;
constexpr U4 kRpcNullRefPointer = 1780;
constexpr U4 kCppException = 0xE06D7363;
constexpr U4 kHeapCorruption = 0xC0000374;
constexpr U4 kWarningSeverity = 0x80000000;

bool handler_guard = false;
bool vectored_added = false;

// A nested fault of the same thread must reach the guard instead of blocking on the lock.
std::recursive_mutex& FaultLock() {
  static std::recursive_mutex lock;
  return lock;
}

// Appends the code-location parts to a fault text of size bytes.
void AppendLocations(char* text, size_t size) {
  size_t len = std::strlen(text);
  auto add = [&](int n) { len = n < 0 ? size : len + static_cast<size_t>(n); };
  if (code_location[0] && len < size)
    add(std::snprintf(text + len, size - len, " code_location=%s", code_location));
  for (U4 i = 0; i < kThreadCodeLocations && len < size; ++i)
    if (thread_code_location[i][0])
      add(std::snprintf(text + len, size - len, " thread_code_location[%u]=%s", i,
                        thread_code_location[i]));
  if (len >= size) std::memcpy(text + size - 4, "...", 4);
}

// "Program Fault: ..." with the code-location parts, into size bytes.
void FaultText(char* text, size_t size, const char* what, U8 address, const char* symbol, U4 flags,
               U8 base) {
  int n = std::snprintf(text, size, "Program Fault: %s Address=%llx(%s) Flags=%08lx base=%llX",
                        what, static_cast<unsigned long long>(address), symbol,
                        static_cast<unsigned long>(flags), static_cast<unsigned long long>(base));
  if (n < 0 || static_cast<size_t>(n) >= size) std::memcpy(text + size - 4, "...", 4);
  AppendLocations(text, size);
}

void Banner(const char* text) {
  if (daemon_pgm) return;
  std::printf("\n****************************\n%s\n", text);
  std::fflush(stdout);
}

// The common end of every fatal path: the fault becomes the reported error, children are
// ended, the log is closed, and the process ends with status 1.
[[noreturn]] void ReportAndEnd(const char* text) {
  SeMErrMult(text, nullptr);
  ProcessErr();
  ProgramExit(255);
  handler_guard = false;
  PlatformExitNow(1);
}

} // namespace

const char* ExceptionName(U4 code, char* bf) {
  static const struct {
    U4 code;
    const char* name;
  } kNames[] = {
      {0xC0000005, "Access violation"},
      {0xC0000006, "In page error"},
      {0xC000008C, "Array bounds exceeded"},
      {0xC0000094, "Integer divide by zero"},
      {0x80000003, "Breakpoint"},
      {0xC0000095, "Integer overflow"},
      {0x80000002, "Datatype misalignment"},
      {0xC0000026, "Invalid disposition"},
      {0xC000008D, "Float denormal operand"},
      {0xC0000008, "Invalid handle"},
      {0xC000008E, "Float divide by zero"},
      {0xC0000025, "Noncontinuable exception"},
      {0xC000008F, "Float inexact result"},
      {0xC0000096, "Priv instruction"},
      {0xC0000090, "Float invalid operation"},
      {0x80000004, "Single step"},
      {0xC0000091, "Float overflow"},
      {0xC00000FD, "Stack overflow"},
      {0xC0000092, "Float stack check"},
      {0xC0000374, "Heap corruption"},
      {0xC0000093, "Float underflow"},
      {1722, "RPC server unavailable"},
      {0x80000001, "Guard page"},
      {0xE06D7363, "C++ exception"},
      {0xC000001D, "Illegal instruction"},
  };
  for (const auto& n : kNames)
    if (n.code == code) return n.name;
  std::snprintf(bf, 9, "%08lX", static_cast<unsigned long>(code));
  return bf;
}

const char* SignalName(int signo) {
  switch (signo) {
  case SIGILL:
    return "Illegal instruction";
  case SIGFPE:
    return "Floating point exception";
  case SIGSEGV:
    return "Invalid memory segment access";
  case SIGABRT:
    return "Abort (invalid pointer?)";
  default:
    return "Unexp signal";
  }
}

int Win32FaultHandler(const FaultRecord& fault, bool vectored) {
  // Informational codes (debug output, thread names, the unwinder's own exceptions) pass a
  // vectored handler unseen: their raisers handle them.
  if (vectored && fault.code < kWarningSeverity && fault.code != kRpcServerUnavailable &&
      fault.code != kRpcNullRefPointer)
    return kFaultContinueSearch;
  std::lock_guard<std::recursive_mutex> lock(FaultLock());
  // Keys held must not outlast the program, whatever the rest of the handler meets.
  if (fault.code != kRpcServerUnavailable && fault.code != kRpcNullRefPointer &&
      fault.code != kCppException)
    PlatformReleaseInputNow();
  log_flush = true;
  if (handler_guard) PlatformExitNow(1);
  handler_guard = true;
  U1 savedMode = fault_mode;
  fault_mode = 1;

  char codeText[12];
  const char* name = ExceptionName(fault.code, codeText);
  LogStMult("Win32FaultHandler:ecnam=", name, nullptr);
  U8 base = PlatformModuleBase(fault.address);
  bool heap = fault.code == kHeapCorruption;
  char what[64];
  std::snprintf(what, sizeof what, "Error %08lx: %s", static_cast<unsigned long>(fault.code), name);
  char text[256];
  // The symbol lookup answers "?" while an error is pending; that error is set aside.
  bool pending = ErrSet;
  ErrSet = false;
  if (fault.code != kRpcServerUnavailable) {
    char banner[1024];
    FaultText(banner, sizeof banner, what, fault.address, MapSymbolAndOffset(fault.address, true),
              fault.flags, base);
    Banner(banner);
  }
  ErrSet = pending;
  if (fault.code == kRpcServerUnavailable || fault.code == kRpcNullRefPointer ||
      fault.code == kCppException) {
    fault_mode = savedMode;
    handler_guard = false;
    // A vectored handler has no handler to run: the search goes on to the raiser's own.
    if (vectored) return kFaultContinueSearch;
    return fault.code == kCppException ? kFaultContinueExecution : kFaultExecuteHandler;
  }

  // Only a fatal fault reports the error that was pending when it struck.
  ProcessErr();
  if (!heap && !daemon_pgm)
    PrintStackFrames(fault.address, fault.frame, fault.stack, fault.context);
  FaultText(text, sizeof text, what, fault.address,
            heap ? "?" : MapSymbolAndOffset(fault.address, true), fault.flags, base);
  if (!heap) LogStackFrames(fault.address, fault.frame, fault.stack, fault.context);
  ReportAndEnd(text);
}

void InvalidParameterHandler() {
  PlatformReleaseInputNow();
  log_flush = true;
  if (fault_mode) PlatformExitNow(1);
  fault_mode = 2;
  char text[1024] = "Invalid parameter fault";
  AppendLocations(text, sizeof text);
  if (!daemon_pgm) {
    std::printf("%s\n", text);
    std::fflush(stdout);
  }
  ProcessErr();
  ReportAndEnd(text);
}

void SignalFaultHandler(int signo, U8 address) {
  PlatformReleaseInputNow();
  log_flush = true;
  if (handler_guard) PlatformExitNow(1);
  handler_guard = true;
  fault_mode = 4;
  ProcessErr();
  char text[1024];
  std::snprintf(text, sizeof text, "%s", SignalName(signo));
  AppendLocations(text, sizeof text);
  char what[64];
  std::snprintf(what, sizeof what, "Signal %d: %s", signo, SignalName(signo));
  char banner[1024];
  FaultText(banner, sizeof banner, what, address, MapSymbolAndOffset(address, true), 0,
            PlatformModuleBase(address));
  Banner(banner);
  LogStMult(text, nullptr);
  LogStackFrom(address);
  ReportAndEnd(text);
}

void InstallFaultHandlers(bool add_vectored) {
  if (!PlatformInstallFaultHandlers(
          {Win32FaultHandler, SignalFaultHandler, InvalidParameterHandler}))
    LogStMult("InstallFaultHandlers", ":incomplete", nullptr);
  fault_handlers_installed = true;
  if (add_vectored) AddVectoredFaultHandler();
}

void AddVectoredFaultHandler() {
  if (ErrSet || vectored_added) return;
  vectored_added = PlatformAddVectoredHandler();
}

void RemoveVectoredFaultHandler() {
  if (!vectored_added) return;
  PlatformRemoveVectoredHandler();
  vectored_added = false;
}
