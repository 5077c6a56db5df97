#include "runtime/optionlist.h"

#include <cstring>

// Flags take an optional "=yes" or "=no" (any true or false word); the bare name means yes.
const OptionDoc runtime_options[kRuntimeOptionCount] = {
    {"-DEBUG", "[=level]",
     "Trace every operation in the program log (level 1, or the number given)."},
    {"-BELL", "[=yes|no]", "Sound the console bell when an error is reported (on by default)."},
    {"-LOG", "=file",
     "Write the program log to file instead of the program's name with \".log\" "
     "in the home directory."},
    {"-appendlog", "[=yes|no]", "Add to the program log instead of starting it afresh."},
    {"-pgm_log_dbg", "[=yes|no]",
     "Print the start-up and log-file trace lines on standard output."},
    {"-HOME", "=dir", "Change to dir before anything runs and keep the program log there."},
    {"-PauseOnError", "[=yes|no]", "Wait for a key before ending after an error."},
    {"-daemon_pgm", "[=yes|no]",
     "Run without a console user: errors go to the session as messages and windows come "
     "forward through Frontwin (also when no standard stream exists)."},
    {"-fault_handler_ena", "[=yes|no]",
     "Log a stack trace when the program faults (on by default)."},
    {"-add_vectored_exception_handler", "[=yes|no]",
     "Also catch faults with a first-chance handler (Windows; on by default)."},
    {"-ZorvsPC", "[=yes|no]",
     "Developer machine: allocation times and leak records (also set by the environment "
     "variable ZorvsPC)."},
    {"-mem_dbg", "[=level]", "Write a program-log line for every allocation and release."},
    {"-malloc_dbg", "[=yes|no]", "Log only the allocations and releases that reach the heap."},
    {"-reuse_mem_ena", "[=yes|no]",
     "Keep released blocks of common sizes for reuse (on by default)."},
    {"-lpm_block_sz", "=bytes",
     "Size of the pool for short-lived texts (default 1048576; 0 switches it off)."},
};

bool IsHelpArg(const char* arg) {
  return !std::strcmp(arg, "--help") || !std::strcmp(arg, "-help") || !std::strcmp(arg, "-h");
}

bool IsVersionArg(const char* arg) {
  return !std::strcmp(arg, "--version") || !std::strcmp(arg, "-version");
}
