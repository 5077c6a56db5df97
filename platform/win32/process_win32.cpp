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

int PlatformRunShellWait(const char* cmd) {
  std::fflush(nullptr);
  return std::system(cmd);
}

U4 PlatformStartCommand(const char* cmd, bool direct, void** process_handle, void** thread_handle,
                        U4* code) {
  *process_handle = nullptr;
  *thread_handle = nullptr;
  std::string line = direct ? std::string(cmd) : std::string("cmd /c ") + cmd;
  STARTUPINFOA si;
  std::memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  std::memset(&pi, 0, sizeof pi);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                      nullptr, &si, &pi)) {
    *code = GetLastError();
    return 0;
  }
  *process_handle = pi.hProcess;
  *thread_handle = pi.hThread;
  return pi.dwProcessId;
}

bool PlatformChildExitCode(void* process_handle, U4 pid, bool* running, I4* exit_code) {
  *running = false;
  if (!process_handle) {
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!h) return false;
    bool ok = PlatformChildExitCode(h, pid, running, exit_code);
    CloseHandle(h);
    return ok;
  }
  DWORD ec = 0;
  if (!GetExitCodeProcess(static_cast<HANDLE>(process_handle), &ec)) return false;
  if (ec == STILL_ACTIVE &&
      WaitForSingleObject(static_cast<HANDLE>(process_handle), 0) == WAIT_TIMEOUT) {
    *running = true;
    return true;
  }
  *exit_code = static_cast<I4>(ec);
  return true;
}

void PlatformCloseChild(void* process_handle, void* thread_handle) {
  if (process_handle) CloseHandle(static_cast<HANDLE>(process_handle));
  if (thread_handle) CloseHandle(static_cast<HANDLE>(thread_handle));
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
