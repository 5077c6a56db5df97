// Processes on Windows: toolhelp snapshots, OpenProcess, TerminateProcess, CreateProcessA.
#include "platform/process.h"

#include <objbase.h>
#include <tlhelp32.h>
#include <windows.h>
#include <winsock2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

bool PlatformProcessList(std::vector<PlatformProcEntry>& out, const char** failed_call, U4* code) {
  out.clear();
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) {
    if (failed_call) *failed_call = "CreateToolhelp32Snapshot";
    if (code) *code = GetLastError();
    return false;
  }
  PROCESSENTRY32 pe;
  pe.dwSize = sizeof pe;
  if (!Process32First(snap, &pe)) {
    if (failed_call) *failed_call = "Process32First";
    if (code) *code = GetLastError();
    CloseHandle(snap);
    return false;
  }
  do {
    PlatformProcEntry e;
    e.pid = pe.th32ProcessID;
    e.ppid = pe.th32ParentProcessID;
    std::snprintf(e.image, sizeof e.image, "%s", pe.szExeFile);
    out.push_back(e);
    pe.dwSize = sizeof pe;
  } while (Process32Next(snap, &pe));
  CloseHandle(snap);
  return true;
}

U4 PlatformOwnPid() {
  return GetCurrentProcessId();
}

void* PlatformOpenProcessForKill(U4 pid, U4* code) {
  HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
  if (!h) {
    DWORD e = GetLastError();
    // Windows reports a pid that is gone as an invalid parameter.
    *code = e == ERROR_INVALID_PARAMETER ? 2 : e;
    return nullptr;
  }
  return h;
}

bool PlatformTerminateProcess(void* h, U4 exit_code, U4* code) {
  if (TerminateProcess(static_cast<HANDLE>(h), exit_code)) return true;
  *code = GetLastError();
  return false;
}

int PlatformWaitProcess(void* h, U4 msecs, U4* code) {
  DWORD r = WaitForSingleObject(static_cast<HANDLE>(h), msecs);
  if (r == WAIT_FAILED) {
    *code = GetLastError();
    return kPWaitFailed;
  }
  return static_cast<int>(r);
}

void PlatformCloseProcess(void* h) {
  if (h) CloseHandle(static_cast<HANDLE>(h));
}

namespace {

// A started child. Ending goes through its job (everything it started) or its handle, never
// through a pid that may belong to another process by then.
struct Child {
  HANDLE process = nullptr;
  HANDLE job = nullptr;
  DWORD pid = 0;
};

} // namespace

U4 PlatformStartChild(const PlatformChildStart& start, void** child, void** pipe, U4* code) {
  *child = nullptr;
  if (pipe) *pipe = nullptr;
  std::string line = start.cmd ? start.cmd : "";
  STARTUPINFOA si;
  std::memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  if (start.show_cmd >= 0) {
    si.dwFlags |= STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(start.show_cmd);
  }
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  bool piped = start.pipe_stdout && pipe;
  if (piped) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) {
      *code = GetLastError();
      return 0;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    si.dwFlags |= STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  DWORD flags =
      CREATE_SUSPENDED | (start.low_priority ? IDLE_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS);
  if (start.new_console) flags |= CREATE_NEW_CONSOLE;
  if (start.no_window && !start.new_console) flags |= CREATE_NO_WINDOW;
  PROCESS_INFORMATION pi;
  std::memset(&pi, 0, sizeof pi);
  BOOL ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, piped || start.inherit, flags,
                           nullptr, nullptr, &si, &pi);
  if (piped) CloseHandle(writeEnd);
  if (!ok) {
    *code = GetLastError();
    if (piped) CloseHandle(readEnd);
    return 0;
  }
  auto* c = new Child{pi.hProcess, nullptr, pi.dwProcessId};
  if (start.own_group) {
    c->job = CreateJobObjectA(nullptr, nullptr);
    if (c->job && !AssignProcessToJobObject(c->job, pi.hProcess)) {
      CloseHandle(c->job);
      c->job = nullptr;
    }
  }
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  if (piped) *pipe = readEnd;
  *child = c;
  return pi.dwProcessId;
}

bool PlatformWaitChild(void* child, U4 msecs) {
  auto* c = static_cast<Child*>(child);
  if (!c) return true;
  return WaitForSingleObject(c->process, msecs == kAllU4 ? INFINITE : msecs) != WAIT_TIMEOUT;
}

bool PlatformChildExitCode(void* child, bool* running, I4* exit_code) {
  auto* c = static_cast<Child*>(child);
  if (!c) return false;
  // The handle tells whether the child runs; an exit code of 259 is just a code.
  *running = WaitForSingleObject(c->process, 0) == WAIT_TIMEOUT;
  if (*running) return true;
  DWORD ec = 0;
  if (!GetExitCodeProcess(c->process, &ec)) return false;
  *exit_code = static_cast<I4>(ec);
  return true;
}

bool PlatformKillChild(void* child, U4* code) {
  auto* c = static_cast<Child*>(child);
  if (!c) return false;
  bool ok = c->job ? TerminateJobObject(c->job, 1) : TerminateProcess(c->process, 1);
  if (!ok && WaitForSingleObject(c->process, 0) == WAIT_TIMEOUT) {
    *code = GetLastError();
    return false;
  }
  WaitForSingleObject(c->process, 5000);
  return true;
}

void PlatformCloseChild(void* child) {
  auto* c = static_cast<Child*>(child);
  if (!c) return;
  CloseHandle(c->process);
  if (c->job) CloseHandle(c->job);
  delete c;
}

I4 PlatformPipeRead(void* pipe, char* bf, U4 size, bool* eof, U4* code) {
  *eof = false;
  DWORD avail = 0;
  if (!PeekNamedPipe(static_cast<HANDLE>(pipe), nullptr, 0, nullptr, &avail, nullptr)) {
    DWORD e = GetLastError();
    if (e == ERROR_BROKEN_PIPE) {
      *eof = true;
      return 0;
    }
    *code = e;
    return -1;
  }
  if (avail == 0) return 0;
  DWORD got = 0;
  if (!ReadFile(static_cast<HANDLE>(pipe), bf, avail < size ? avail : size, &got, nullptr)) {
    *code = GetLastError();
    return -1;
  }
  return static_cast<I4>(got);
}

void PlatformPipeClose(void* pipe) {
  if (pipe) CloseHandle(static_cast<HANDLE>(pipe));
}

bool PlatformSiblingProgram(const char* name, char* bf, U4 size) {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  if (!name || n == 0 || n >= sizeof self) return false;
  std::string path(self, n);
  size_t slash = path.find_last_of("\\/");
  path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  path += std::string(name) + ".exe";
  if (path.find(' ') != std::string::npos) path = "\"" + path + "\"";
  return std::snprintf(bf, size, "%s", path.c_str()) < static_cast<int>(size);
}

bool PlatformFindInPath(const char* name, char* bf, U4 size) {
  if (!name || !*name || !bf || size == 0) return false;
  DWORD n = SearchPathA(nullptr, name, nullptr, size, bf, nullptr);
  return n > 0 && n < size;
}

const char* PlatformNullDevice() {
  return "NUL";
}

void PlatformShellLine(std::string* cmd) {
  if (cmd->find('"') != std::string::npos) *cmd = "\"" + *cmd + "\"";
  cmd->insert(0, "cmd /c ");
}

bool PlatformCoInitialize() {
  return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
}

void PlatformCoUninitialize() {
  CoUninitialize();
}

bool PlatformSocketsCleanup(U4* code) {
  if (WSACleanup() == 0) return true;
  *code = static_cast<U4>(WSAGetLastError());
  return false;
}
