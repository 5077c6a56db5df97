// Program-wide settings of start-up. Written by ProgramInit and the first ArgText
// call, read everywhere afterwards (single thread, no locks).
#pragma once
#include "base/types.h"

#include <cstring>

inline constexpr U4 kPgmTextSz = 301; // 300 characters and the terminating zero

// Memory (read by the allocator and the LPM pool).
extern U4 lpm_block_sz;    // "-lpm_block_sz=", default 0x100000
extern U4 lpm_max_sz;      // "-lpm_max_sz=", default 0
extern bool reuse_mem_ena; // "-reuse_mem_ena", default true
extern bool malloc_dbg;    // "-malloc_dbg", default false

// What sends every allocation the long way, side by side: the quick paths test all of it
// in one load. A pending error is one of them; the long way then fails at once.
struct AllocSwitches {
  U2 mem_dbg;        // "-mem_dbg", default 0
  bool zorvs_pc;     // developer machine: environment or "-ZorvsPC"
  bool err_set;      // the error stack's pending error, ErrSet (errlog/errstack.h)
  U4 fail_countdown; // test hook (MemFailAfter): the allocation that fails, 0 for none
};
extern AllocSwitches alloc_switches;
inline constexpr U2& mem_dbg = alloc_switches.mem_dbg;
inline constexpr bool& zorvs_pc = alloc_switches.zorvs_pc;
inline constexpr U4& fail_countdown = alloc_switches.fail_countdown;
// None of them is on.
inline bool AllocSwitchesOff() {
  U8 word;
  static_assert(sizeof(AllocSwitches) == sizeof word);
  std::memcpy(&word, &alloc_switches, sizeof word);
  return word == 0;
}

// Fault handling.
extern bool fault_handler_ena;              // "-fault_handler_ena", default true
extern bool add_vectored_exception_handler; // "-add_vectored_exception_handler", default true

// Program log (the log keeps its own state; these are the start-up choices).
extern char pgm_log_fn[kPgmTextSz]; // "-LOG=" or home + "\\" + program name + ".log"
extern bool log_append;             // "-appendlog"
extern bool pgm_log_dbg;            // "-pgm_log_dbg": start-up and log-file trace lines

// Behaviour.
extern bool daemon_pgm;     // "-daemon_pgm", or no standard stream at all
extern U1 debug_level;      // "-DEBUG"; toggled at run time by the console keyboard
extern bool bell_ena;       // "-BELL", default true
extern bool pause_on_error; // "-PauseOnError"

// Who and where the program is.
extern char home_dir[kPgmTextSz];       // current directory at start-up, or "-HOME="
extern char pgm_image_path[kPgmTextSz]; // filled by ProgramName
extern char pgm_image_fn[kPgmTextSz];
extern char pgm_name[kPgmTextSz];
extern U4 pgm_pid;         // 0 until start-up has run (and again after ProgramExit)
extern U8 pgm_start_msecs; // ClockMsecs64 at start-up
extern void* pgm_process_handle;
extern void* pgm_module_instance;
extern I2 processor_cnt; // at least 1
extern bool big_endian;  // first byte of 0x1234 in memory is not 0x34

// Standard streams: runtime file numbers (-1 when missing), platform handles,
// and whether each is redirected (not a terminal).
extern I4 stdin_fno, stdout_fno, stderr_fno;
extern void *stdin_handle, *stdout_handle, *stderr_handle;
extern bool stdin_redirected, stdout_redirected, stderr_redirected;

// Shutdown state: set by the first ProgramExit; from then on tracked frees
// return blocks straight to the heap.
extern bool pgm_exiting;

// Recognised-argument table: positions 1..255 of argv, set when a lookup claimed one.
inline constexpr U2 kArgTableSz = 256;
extern bool arg_recognized[kArgTableSz];
extern U2 arg_found_ix; // argument where the last ArgText lookup found its option, 0 = none
