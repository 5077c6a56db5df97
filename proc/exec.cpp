#include "proc/exec.h"

#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "platform/process.h"
#include "runtime/shutdown.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

std::vector<ExtProcInfo> ext_proc_list;

namespace {

constexpr int kMaxPieces = 100;

// Joins a Mult list; false when the first piece is missing or empty.
bool JoinPieces(const char* first, va_list rest, std::string* out) {
  out->clear();
  if (!first || !*first) return false;
  out->append(first);
  for (int n = 1; n < kMaxPieces; ++n) {
    const char* piece = va_arg(rest, const char*);
    if (!piece) break;
    out->append(piece);
  }
  return true;
}

void CopyCut(char* dst, const std::string& src) {
  std::snprintf(dst, kPgmTextSz, "%s", src.c_str());
}

void RemoveFromList(U4 pid) {
  for (auto it = ext_proc_list.begin(); it != ext_proc_list.end(); ++it) {
    if (it->pid == pid) {
      ext_proc_list.erase(it);
      return;
    }
  }
}

bool InList(const ExtProcInfo* epi) {
  return !ext_proc_list.empty() && epi >= ext_proc_list.data() &&
         epi < ext_proc_list.data() + ext_proc_list.size();
}

// A temporary error-output file of a child is removed once the child has ended.
void DeleteTempStderr(const char* fn) {
  if (fn && std::strncmp(fn, "ExtProc_stderr", 14) == 0) std::remove(fn);
}

} // namespace

char* ExecFlagsText_MyBf(U2 flags, char* bf, U4 size) {
  static const struct {
    U2 bit;
    const char* word;
  } kWords[] = {{kExecLog, "Log"},   {kExecPrint, "Print"}, {kExecLow, "Low"},
                {kExecNew, "New"},   {kExecMin, "Min"},     {kExecHide, "Hide"},
                {kExecWait, "Wait"}, {kExecChild, "Child"}, {kExecDirect, "Direct"}};
  if (!bf || size == 0) return bf;
  std::string s;
  for (const auto& w : kWords) {
    if (!(flags & w.bit)) continue;
    if (!s.empty()) s += "/";
    s += w.word;
  }
  std::snprintf(bf, size, "%s", s.c_str());
  return bf;
}

void ExecSystemMult(U2 flags, const char* first, ...) {
  if (ErrSet || !first || !*first) return;
  if (flags == 0) flags = kExecSystemDefault;
  std::string cmd;
  va_list ap;
  va_start(ap, first);
  JoinPieces(first, ap, &cmd);
  va_end(ap);
  if (flags & kExecLog) {
    char words[128];
    ExecFlagsText_MyBf(flags, words, sizeof words);
    LogStMult("ExecSystemMult", ":cmd=", cmd.c_str(), "(", words, ")", nullptr);
  }
  if (flags & kExecPrint) std::printf("%s\n", cmd.c_str());
  std::fflush(nullptr);
  PlatformRunShellWait(cmd.c_str());
}

U4 StartChildProcMult(U2 flags, ExtProcInfo* epi, const char* first, ...) {
  if (ErrSet || !first || !*first) return 0;
  if (flags == 0) flags = kExecProcDefault;
  std::string cmd;
  va_list ap;
  va_start(ap, first);
  JoinPieces(first, ap, &cmd);
  va_end(ap);
  if (!epi) {
    SeMErrMult("StartChildProcMult", ":epi=NULL: cmd=", cmd.c_str(), nullptr);
    return 0;
  }
  *epi = ExtProcInfo();
  epi->child = (flags & kExecChild) ? 1 : 0;
  CopyCut(epi->cmd, cmd);
  if (flags & kExecLog) {
    char words[128];
    ExecFlagsText_MyBf(flags, words, sizeof words);
    LogStMult("StartChildProcMult", ":cmd=", cmd.c_str(), "(", words, ")", nullptr);
  }
  if (flags & kExecPrint) std::printf("%s\n", cmd.c_str());
  std::fflush(nullptr);
  U4 code = 0;
  U4 pid = PlatformStartCommand(cmd.c_str(), (flags & kExecDirect) != 0, &epi->process_handle,
                                &epi->thread_handle, &code);
  if (pid == 0) {
    SeMLastErr("CreateProcess", nullptr, code ? code : 1);
    AddErrMult(" (cmd=", cmd.c_str(), ")", nullptr);
    return 0;
  }
  epi->pid = pid;
  epi->exit_status = -1;
  ext_proc_list.push_back(*epi);
  return pid;
}

I4 ExtProcExitStatus(ExtProcInfo* epi) {
  if (!epi || epi->pid == 0) return -2;
  bool running = false;
  I4 code = -2;
  if (!PlatformChildExitCode(epi->process_handle, epi->pid, &running, &code)) {
    running = PIDIsActive(epi->pid);
    code = -2;
  }
  if (running) return -1;
  U4 pid = epi->pid;
  PlatformCloseChild(epi->process_handle, epi->thread_handle);
  DeleteTempStderr(epi->stderr_fn);
  bool listed = InList(epi);
  if (!listed) {
    epi->exit_status = code;
    epi->pid = 0;
    epi->process_handle = epi->thread_handle = nullptr;
  }
  RemoveFromList(pid); // epi is gone now when it pointed into the list
  return code;
}

bool ExtProcRunning(ExtProcInfo* epi) {
  return ExtProcExitStatus(epi) == -1;
}

bool KillExtProc(ExtProcInfo* epi) {
  if (!epi || epi->pid == 0) return false;
  U4 pid = epi->pid;
  PushErr();
  bool running = false;
  I4 code = -2;
  if (!PlatformChildExitCode(epi->process_handle, pid, &running, &code)) running = PIDIsActive(pid);
  if (running) {
    PlatformCloseChild(epi->process_handle, epi->thread_handle);
    epi->process_handle = epi->thread_handle = nullptr;
    KillPID(pid, true);
    if (ErrSet) {
      PopErr(true);
      return false;
    }
    PlatformChildExitCode(nullptr, pid, &running, &code); // collects the ended child
  }
  DeleteTempStderr(epi->stderr_fn);
  PopErr(true);
  bool listed = InList(epi);
  if (!listed) {
    epi->pid = 0;
    epi->exit_status = -2;
    epi->process_handle = epi->thread_handle = nullptr;
  }
  RemoveFromList(pid);
  return true;
}
