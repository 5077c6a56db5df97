#include "platform/pipewrite.h"

#include <string>
#include <windows.h>

namespace {
bool Fail(const char* call, DWORD err, const char** failed_call, U4* code) {
  *failed_call = call;
  *code = err;
  return false;
}

// Writes everything unless the reader goes away or the time is up; 0 or the error.
DWORD WriteAll(HANDLE h, const char* data, U4 len, ULONGLONG deadline) {
  while (len > 0) {
    DWORD put = 0;
    if (!WriteFile(h, data, len, &put, nullptr)) return GetLastError();
    data += put;
    len -= put;
    if (put > 0) continue;
    if (GetTickCount64() >= deadline) return WAIT_TIMEOUT;
    Sleep(2);
  }
  return 0;
}
} // namespace

bool PlatformWriteToCommand(const char* cmd, const char* data, U4 len, U4 msecs,
                            const char** failed_call, U4* code) {
  const ULONGLONG deadline = GetTickCount64() + msecs;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE rd = nullptr, wr = nullptr;
  if (!CreatePipe(&rd, &wr, &sa, len + 4096))
    return Fail("CreatePipe", GetLastError(), failed_call, code);
  SetHandleInformation(wr, HANDLE_FLAG_INHERIT, 0);
  // Without waiting writes a reader that stops reading cannot hold this process.
  DWORD mode = PIPE_NOWAIT;
  SetNamedPipeHandleState(wr, &mode, nullptr, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = rd;
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::string line = std::string("cmd /c ") + cmd;
  PROCESS_INFORMATION pi{};
  // In a job of its own, so that a command that outlives the bound goes with all it started.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  const BOOL started =
      CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE,
                     CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &si, &pi);
  const DWORD start_err = GetLastError();
  CloseHandle(rd);
  if (!started) {
    CloseHandle(wr);
    if (job) CloseHandle(job);
    return Fail("popen", start_err, failed_call, code);
  }
  if (job) AssignProcessToJobObject(job, pi.hProcess);
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  DWORD err = WriteAll(wr, data, len, deadline);
  CloseHandle(wr);
  if (err == ERROR_NO_DATA || err == ERROR_BROKEN_PIPE) err = ERROR_BROKEN_PIPE;
  const ULONGLONG now = GetTickCount64();
  const DWORD left = now < deadline ? DWORD(deadline - now) : 0;
  const bool ended = WaitForSingleObject(pi.hProcess, left) == WAIT_OBJECT_0;
  if (!ended) {
    if (!job || !TerminateJobObject(job, 1)) TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  CloseHandle(pi.hProcess);
  if (job) CloseHandle(job);
  if (err) return Fail("fwrite", err, failed_call, code);
  if (!ended) return Fail("pclose", WAIT_TIMEOUT, failed_call, code);
  return true;
}
