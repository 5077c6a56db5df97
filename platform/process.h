// Processes of the system: listing, ending, running a command line.
#pragma once
#include "base/types.h"

#include <string>
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

// How a child is started.
struct PlatformChildStart {
  const char* cmd = "";     // the command line
  bool direct = false;      // run the program itself (double quotes group words), not the
                            // command interpreter
  bool new_console = false; // a console window of its own, shown with show_cmd (SW_*)
  int show_cmd = -1;        // -1: the platform's default
  bool no_window = false;   // neither a console window nor the caller's
  bool low_priority = false;
  bool own_group = false;   // the child and all it starts can be ended together
  bool pipe_stdout = false; // its standard output goes to a pipe the caller reads
  bool inherit = false;     // it writes to the caller's standard streams (redirections too)
};

// Starts a child; its pid, or 0 with the platform's error code. *child identifies it until
// PlatformCloseChild (the pid alone may be reused once the child is gone); *pipe is the
// read end of its standard output with pipe_stdout.
U4 PlatformStartChild(const PlatformChildStart& start, void** child, void** pipe, U4* code);
// Waits up to msecs (kAllU4: without limit); true when the child has ended.
bool PlatformWaitChild(void* child, U4 msecs);
// False when the state cannot be read; *running, else *exit_code of the ended child.
bool PlatformChildExitCode(void* child, bool* running, I4* exit_code);
// Ends the child with everything it started and waits for it; false with the code.
bool PlatformKillChild(void* child, U4* code);
void PlatformCloseChild(void* child);

// Reads what the pipe holds now, without waiting: the bytes read (0: none yet), *eof once
// the writer has closed it; -1 with the code on failure.
I4 PlatformPipeRead(void* pipe, char* bf, U4 size, bool* eof, U4* code);
void PlatformPipeClose(void* pipe);

// The path of a sibling program beside the own image, quoted when it holds blanks:
// name + ".exe" on Windows, "tapster-" and the name in lower case elsewhere. False when
// unknown.
bool PlatformSiblingProgram(const char* name, char* bf, U4 size);
// The first file of that name in a folder of the search path; false when none.
bool PlatformFindInPath(const char* name, char* bf, U4 size);
// The null device ("NUL" on Windows).
const char* PlatformNullDevice();
// Makes cmd a command line for the command interpreter ("cmd /c " in front on Windows,
// with the whole command quoted once more where it holds quotes, which the interpreter
// strips). Unchanged where the platform starts the interpreter itself.
void PlatformShellLine(std::string* cmd);

// COM and sockets for the release steps (no-ops where the platform has none).
bool PlatformCoInitialize();
void PlatformCoUninitialize();
bool PlatformSocketsCleanup(U4* code);
