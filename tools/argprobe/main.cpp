// Runs start-up like the driver does, with three options of its own, and prints what
// start-up decided. "-out=" writes the report to a file instead (for runs without streams);
// "-fail" leaves an error for ProgramExit to report; "-say=" writes its text to the log.
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "runtime/shutdown.h"
#include "runtime/startup.h"

#include <cstdio>

int main(int, char** argv) {
  ProgramInit(argv);
  U4 count = ArgU4(argv, "-count", 0);
  const char* name = ArgText(argv, "-name", "none");
  bool fail = ArgBool(argv, "-fail", false);
  const char* out = ArgText(argv, "-out", nullptr);
  const char* say = ArgText(argv, "-say", nullptr);
  ArgText(argv, nullptr);
  if (ErrSet) {
    char msg[4096];
    ErrMessage(false, true, msg, sizeof msg);
    std::printf("ERROR: %s\n", msg);
    std::fflush(stdout);
    return ProgramExit(255);
  }
  std::FILE* f = out ? std::fopen(out, "w") : stdout;
  if (f) {
    std::fprintf(f,
                 "count=%u name=%s first=%s debug=%u bell=%d daemon=%d zorvs=%d pause=%d "
                 "append=%d mem_dbg=%u lpm=%u fault=%d pgm=%s\n",
                 count, name ? name : "(null)", ArgText(argv, "", "(none)"), debug_level, bell_ena,
                 daemon_pgm, zorvs_pc, pause_on_error, log_append, mem_dbg, lpm_block_sz,
                 fault_handler_ena, pgm_name);
    std::fprintf(f, "home=%s\nlog=%s\n", home_dir, pgm_log_fn);
    if (f != stdout) std::fclose(f);
  }
  std::fflush(stdout);
  if (say) LogStMult(say, nullptr);
  if (fail) SeMErrMult("argprobe", ":failure on request", nullptr);
  return ProgramExit(255);
}
