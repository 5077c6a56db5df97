// The process's memory use, from a measuring program when there is one.
#pragma once
#include "base/types.h"

// Runs a command and returns its standard output in a tracked buffer (FreeSP), or null with
// the error pending; installed at start-up from the child-process layer. Without it the
// measuring program is not asked.
extern char* (*memgauge_run_hook)(const char* cmd, U4* size);
// In bytes, also kept in proc_mem (mem/accounting.h); 0 after a failed measurement, which
// is not retried.
U8 Memgauge();
U8 MemgaugeKB();
