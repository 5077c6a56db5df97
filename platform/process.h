// Processes of the system: listing, ending, running a command line.
#pragma once
#include "runtime/types.h"

#include <vector>

struct PlatformProcEntry {
  U4 pid = 0;
  U4 ppid = 0;
  char image[260] = ""; // image file name without directory
};

// Snapshot of the running processes in the system's order. On failure returns false and
// names the failing call ("CreateToolhelp32Snapshot" or "Process32First") and its code.
bool PlatformProcessList(std::vector<PlatformProcEntry>& out, const char** failed_call, U4* code);
U4 PlatformOwnPid();

// Wait results of PlatformWaitProcess.
inline constexpr int kPWaitObject0 = 0;
inline constexpr int kPWaitAbandoned = 0x80;
inline constexpr int kPWaitTimeout = 0x102;
inline constexpr int kPWaitFailed = -1;

// Opens pid to end it and wait for it; null on failure with the platform code
// (2: no such process, 5: access denied).
void* PlatformOpenProcessForKill(U4 pid, U4* code);
bool PlatformTerminateProcess(void* h, U4 exit_code, U4* code);
int PlatformWaitProcess(void* h, U4 msecs, U4* code);
void PlatformCloseProcess(void* h);

// Runs a command line through the command interpreter and waits; the exit code, or -1
// when it could not be started.
int PlatformRunShellWait(const char* cmd);

// Starts a command line without waiting: through the command interpreter, or with
// direct the program itself (double quotes group words). Returns the pid, 0 on failure.
U4 PlatformStartCommand(const char* cmd, bool direct, void** process_handle, void** thread_handle,
                        U4* code);
// Exit code of a started child: true and *running when it still runs; false on failure.
bool PlatformChildExitCode(void* process_handle, U4 pid, bool* running, I4* exit_code);
void PlatformCloseChild(void* process_handle, void* thread_handle);

// COM and sockets for the release steps (no-ops where the platform has none).
bool PlatformCoInitialize();
void PlatformCoUninitialize();
bool PlatformSocketsCleanup(U4* code);
