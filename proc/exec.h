// Running other programs, and the program's list of children that outlive the call.
#pragma once
#include "base/settings.h"
#include "base/types.h"

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

// Starts the joined pieces as a child (flags 0: 0x0303, "/Log/Wait/Child"). Waited for: its
// exit code (-2 when nothing ran). Not waited for: the pid of the child still running, or 0;
// the child is recorded in epi and the child list. With set_err_on_stderr the first line of
// the child's error output becomes the error.
I4 ExecExtProcMult(U2 flags, bool set_err_on_stderr, ExtProcInfo* epi, const char* first,
                   ...) TAP_SENTINEL;

// "Log/Print/..." words of flags joined by "/", no leading "/"; into bf (size bytes).
char* ExecFlagsText_MyBf(U2 flags, char* bf, U4 size);
// Names of process-creation flags ("CREATE_NEW_CONSOLE/IDLE_PRIORITY_CLASS"), joined by "/".
char* CreationFlagsText_MyBf(U4 flags, char* bf, U4 size);
// "SW_HIDE" ... "SW_MAX" for 0 to 11, else "SW_?" and the number (in a static buffer).
const char* ShowCmdName(U4 showCmd);
// "WAIT_0", "TIMEOUT" ... for wait results and exception codes, else "Error#<n>".
const char* WaitResultName(U4 result, char* bf, U4 size);

// -2 without record or child, -1 while it runs, else its exit code (the record leaves the
// child list then).
I4 ExtProcExitStatus(ExtProcInfo* epi);
bool ExtProcRunning(ExtProcInfo* epi);
// Ends the child with everything it started; false without a record or child, or when
// that failed.
bool KillExtProc(ExtProcInfo* epi);
// Lets a child run on unwatched: its handle is closed and it leaves the child list.
void ReleaseExtProc(ExtProcInfo* epi);

// The standard output of the joined command in a tracked buffer (zero-terminated, size in
// *size), read for at most 5 seconds; null on failure. With set_err the failure and the
// command's error output are the pending error, without it no error is left.
char* PipeToBfMult(U4* size, bool set_err, const char* first, ...) TAP_SENTINEL;
// The same as an LPM copy.
char* PipeToLPMMult(U4* size, bool set_err, const char* first, ...) TAP_SENTINEL;
// The same into a file, which is deleted when nothing was read; false on failure.
bool PipeToFileMult(const char* fn, bool set_err, const char* first, ...) TAP_SENTINEL;

// Writes st to the standard input of cmd (run through the command interpreter) and waits
// up to 5 seconds for it to end. With report a failure is the pending error, with
// " (dstcmd=" cmd ")" appended; without it no error is left.
bool BfToPipe(const char* cmd, const char* st, bool report);
// The same with the whole content of a file (disk or MRF); failures are always reported.
bool FileToPipe(const char* cmd, const char* fn);
