// Fault signals on POSIX systems: sigaction on an alternate stack, so that a stack overflow
// can still be reported.
#include "platform/fault.h"
#include "platform/stackwalk.h"

#include <execinfo.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

// Large enough for the handler's own work (log lines, the stack walk, sanitizer frames).
constexpr size_t kAltStackSize = 256 * 1024;
alignas(16) char alt_stack[kAltStackSize];
FaultHooks handlers{};

U8 FaultPc(void* context) {
  auto* uc = static_cast<ucontext_t*>(context);
  if (!uc) return 0;
#if defined(__x86_64__)
  return static_cast<U8>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
  return static_cast<U8>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
  return static_cast<U8>(uc->uc_mcontext.pc);
#else
  return 0;
#endif
}

void OnFaultSignal(int signo, siginfo_t*, void* context) {
  handlers.signal(signo, FaultPc(context));
}

} // namespace

bool PlatformInstallFaultHandlers(const FaultHooks& hooks) {
  handlers = hooks;
  // The unwinder loads its library on first use; a fault handler must not be the first.
  void* warm[4];
  backtrace(warm, 4);
  stack_t ss{};
  ss.ss_sp = alt_stack;
  ss.ss_size = sizeof alt_stack;
  bool ok = sigaltstack(&ss, nullptr) == 0;
  struct sigaction sa {};
  sa.sa_sigaction = OnFaultSignal;
  // SA_NODEFER lets a fault inside the handler reach it again, where its guard ends the
  // program with status 1, instead of the kernel killing it with the signal's status.
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  for (int signo : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS})
    ok = sigaction(signo, &sa, nullptr) == 0 && ok;
  return ok;
}

bool PlatformAddVectoredHandler() {
  return false;
}

void PlatformRemoveVectoredHandler() {}

void PlatformExitNow(int status) {
  std::fflush(nullptr);
  _exit(status);
}

namespace {
volatile int fault_dividend = 7;
volatile int fault_divisor = 0;
} // namespace

// A real division, so that the fault is raised where CrashMe called it; the sanitizer
// would otherwise report it instead of the fault handler.
__attribute__((no_sanitize("undefined"))) void PlatformRaiseFault(int mode) {
  if (mode == 0) {
    volatile int quotient = fault_dividend / fault_divisor;
    (void)quotient;
    std::raise(SIGFPE); // processors whose division does not trap
  } else if (mode == 1) {
    // No runtime here checks its parameters: its handler is reached directly.
    if (handlers.invalid_parameter) handlers.invalid_parameter();
  }
  std::abort();
}
