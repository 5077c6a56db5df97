// Running other programs, and the program's list of children that outlive the call.
#pragma once
#include "runtime/settings.h"
#include "runtime/types.h"

#include <vector>

// Execution flags.
inline constexpr U2 kExecBase = 0x0001;   // part of both defaults
inline constexpr U2 kExecLog = 0x0002;    // "/Log"
inline constexpr U2 kExecPrint = 0x0004;  // "/Print"
inline constexpr U2 kExecLow = 0x0008;    // "/Low"
inline constexpr U2 kExecNew = 0x0010;    // "/New"
inline constexpr U2 kExecMin = 0x0020;    // "/Min"
inline constexpr U2 kExecMax = 0x0040;    // new console, maximised (no word)
inline constexpr U2 kExecHide = 0x0080;   // "/Hide"
inline constexpr U2 kExecWait = 0x0100;   // "/Wait"
inline constexpr U2 kExecChild = 0x0200;  // "/Child"
inline constexpr U2 kExecDirect = 0x0400; // "/Direct"
inline constexpr U2 kExecProcDefault = 0x0303;
inline constexpr U2 kExecSystemDefault = 0x0003;

// One started child.
struct ExtProcInfo {
  char cmd[kPgmTextSz] = "";       // the command line as run
  U1 child = 0;                    // "/Child" was set
  U1 set_err_on_stderr = 0;        // the child's error output becomes the error
  char stderr_fn[kPgmTextSz] = ""; // file that received the error output, or empty
  I4 exit_status = -2;             // -2 not run / ended by KillExtProc, -1 running
  U4 pid = 0;                      // 0 when no child runs
  void* process_handle = nullptr;
  void* thread_handle = nullptr;
};

// Children started without waiting that were still running; walked by ProgramExit.
extern std::vector<ExtProcInfo> ext_proc_list;

// Runs the joined pieces through the command interpreter and waits. flags 0: 0x0003.
void ExecSystemMult(U2 flags, const char* first, ...) TAP_SENTINEL;

// "Log/Print/..." words of flags joined by "/", no leading "/"; into bf (size bytes).
char* ExecFlagsText_MyBf(U2 flags, char* bf, U4 size);

// -2 without record or child, -1 while it runs, else its exit code (the record leaves the
// child list then).
I4 ExtProcExitStatus(ExtProcInfo* epi);
bool ExtProcRunning(ExtProcInfo* epi);
// Ends the child with its tree; false without a record or child, or when that failed.
bool KillExtProc(ExtProcInfo* epi);

// Starts a command line without waiting and records it in epi (and the child list):
// the piece of the child runner that shutdown needs. Returns the pid, 0 on error.
U4 StartChildProcMult(U2 flags, ExtProcInfo* epi, const char* first, ...) TAP_SENTINEL;
