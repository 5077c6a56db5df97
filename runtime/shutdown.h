// The orderly end of the program and the ending of processes.
#pragma once
#include "base/settings.h"
#include "base/types.h"

// Reports a pending error, ends the program's children, releases process-wide resources
// and closes the log. status 255: 1 when an error was reported, else 0; any other status
// is returned unchanged. A second call returns status at once.
U1 ProgramExit(U1 status);

// Called by ProgramExit when the run ends with an error (an interruption included), before
// the error is reported: a report may wait for an answer, and input the run still holds
// must not stay down meanwhile. RunErrorEndHook runs it now; both accept null.
void SetErrorEndHook(void (*hook)());
void RunErrorEndHook();

// Ends pid (and, when asked, its whole tree, parents first). False for 0, the own pid,
// the watchdog, a process that does not run, and on error.
bool KillPID(U4 pid, bool with_descendants);
bool PIDIsActive(U4 pid);
// Image file name of pid into bf (size bytes); null when there is no such process.
char* PIDProcess_MyBf(U4 pid, char* bf, U4 size);
// First pid whose image name matches name ("~" wild card, case ignored); 0 when none.
U4 ProcessPID(const char* name, bool must_exist);
U4 ProcessCount(const char* name, U4 limit);
// 1-based position of the own process among those matching name; 0 when not among them.
U4 ProcessNo(const char* name);
bool KillProcess(const char* name, bool with_descendants);

// Release steps of ProgramExit.
void VigiloExit();
void SocketsCleanup();
bool PgmCoInitialize();
void PgmCoUninitialize();

extern U4 vigilo_pid;                 // the sibling watchdog, 0 when none runs
extern char heartbeat_fn[kPgmTextSz]; // file the watchdog watches
extern U2 kill_pid_wait_msecs;        // how long KillPID waits for a terminated process
extern bool sockets_started;          // the socket library was started

// For tests: make ProgramExit runnable again.
void ResetShutdownForTest();
