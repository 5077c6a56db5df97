#include "platform/interrupt.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <initializer_list>

namespace {

extern "C" void OnEndSignal(int sig) {
  PlatformRecordInterrupt(sig == SIGINT ? kInterruptCtrlC : kInterruptEnd);
}

bool Catch(int sig) {
  struct sigaction old {};
  if (sigaction(sig, nullptr, &old) != 0) return false;
  if (old.sa_handler == SIG_IGN) return true; // nohup, "&"
  struct sigaction sa {};
  sa.sa_handler = OnEndSignal;
  sigfillset(&sa.sa_mask);
  sa.sa_flags = 0; // no restart: a blocking read returns so the main thread can look
  return sigaction(sig, &sa, nullptr) == 0;
}

} // namespace

// A signal on the sleeping thread ends nanosleep by itself.
void PlatformWakeSleeper() {}

bool PlatformInstallInterruptHandlers(const char** failed, U4* code) {
  static bool installed = false;
  if (installed) return true;
  installed = true;
  // SIGINT, and every other signal whose default would end the process at once, with keys
  // down and the log unwritten. SIGPIPE is ignored: a failed write reports itself.
  auto catchOrFail = [&](int sig) {
    if (Catch(sig)) return true;
    *failed = "sigaction";
    *code = static_cast<U4>(errno);
    return false;
  };
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF,
                  SIGXCPU, SIGXFSZ, SIGIO})
    if (!catchOrFail(sig)) return false;
#ifdef SIGPWR
  if (!catchOrFail(SIGPWR)) return false;
#endif
#ifdef SIGSTKFLT
  if (!catchOrFail(SIGSTKFLT)) return false;
#endif
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
    if (!catchOrFail(sig)) return false;
  return true;
}

void PlatformInterruptibleSleep(U4 msecs) {
  // Short slices: a signal that arrives just before nanosleep starts, or on another
  // thread, is still seen soon.
  constexpr U4 kSliceMsecs = 100;
  while (msecs > 0 && PlatformInterrupts() == 0) {
    const U4 slice = msecs < kSliceMsecs ? msecs : kSliceMsecs;
    timespec left{0, long(slice) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
      if (PlatformInterrupts() != 0) return;
    }
    msecs -= slice;
  }
}
