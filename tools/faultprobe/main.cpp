// faultprobe <what> [options]: starts up like the driver, then
//   crash0 / crash1 / crash2  CrashMe with that mode, from ProbeCaller
//   segv                      a write through a null pointer
//   pending-segv              the same while an error is pending
//   error                     an error three calls deep, printed with its callers group
//   throw                     a C++ exception thrown and caught; the run ends with status 0
#include "errlog/errstack.h"
#include "errlog/stacktrace.h"
#include "runtime/fault.h"
#include "runtime/shutdown.h"
#include "runtime/startup.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

int* volatile null_pointer = nullptr;

[[gnu::noinline]] void ProbeCaller(int mode) {
  CrashMe("ProbeCaller", mode);
}

// The undefined-behaviour sanitizer would stop the write before it faults.
[[gnu::noinline, gnu::no_sanitize("undefined")]] void ProbeWriter() {
  *null_pointer = 1;
}

[[gnu::noinline]] void ProbeInnermost() {
  SeMErrMult("ProbeInnermost", ":failed", nullptr);
}

[[gnu::noinline]] void ProbeMiddle() {
  ProbeInnermost();
}

[[gnu::noinline]] void ProbeOuter() {
  ProbeMiddle();
}

[[gnu::noinline]] int ProbeThrow() {
  try {
    throw std::runtime_error("probe");
  } catch (const std::exception& e) {
    return std::strcmp(e.what(), "probe") == 0 ? 0 : 3;
  }
}

} // namespace

int main(int argc, char** argv) {
  ProgramInit(argv);
  const char* what = ArgText(argv, "", "");
  ArgText(argv, nullptr);
  if (ErrSet || argc < 2) return ProgramExit(255);
  std::strncpy(code_location, "probe", sizeof code_location - 1);
  if (std::strncmp(what, "crash", 5) == 0) ProbeCaller(what[5] - '0');
  if (std::strcmp(what, "segv") == 0) ProbeWriter();
  if (std::strcmp(what, "pending-segv") == 0) {
    SeMErrMult("Pending before the fault", nullptr);
    ProbeWriter();
  }
  if (std::strcmp(what, "throw") == 0) return ProgramExit(static_cast<U1>(ProbeThrow()));
  if (std::strcmp(what, "error") == 0) {
    ProbeOuter();
    char msg[4096];
    ErrMessage(true, true, msg, sizeof msg);
    std::printf("ERROR: %s\n", msg);
    std::fflush(stdout);
  }
  return ProgramExit(255);
}
