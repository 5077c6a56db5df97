#include "proc/exec.h"

#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "platform/process.h"
#include "proc/parsecmd.h"
#include "runtime/interrupt.h"
#include "text/match.h"
#include "time/clock.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

std::vector<ExtProcInfo> ext_proc_list;

namespace {

constexpr int kSwHide = 0, kSwShowMinimized = 2, kSwShowMaximized = 3, kSwShow = 5;
constexpr const char* kTempStderrPrefix = "ExtProc_stderr";

size_t FindNoCase(const std::string& s, const std::string& what) {
  for (size_t at = 0; at + what.size() <= s.size(); ++at)
    if (StPrefix(s.c_str() + at, what.c_str())) return at;
  return std::string::npos;
}

void RemoveFromList(U4 pid) {
  for (auto it = ext_proc_list.begin(); it != ext_proc_list.end(); ++it) {
    if (it->pid == pid) {
      ext_proc_list.erase(it);
      return;
    }
  }
}

bool IsTempStderr(const char* fn) {
  return fn && std::strncmp(fn, kTempStderrPrefix, std::strlen(kTempStderrPrefix)) == 0;
}

// Blanks, control characters, bytes above 126 and the characters that files cannot carry.
std::string FileNameSafe(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= ' ' || u > 126 || std::strchr("\"`*?$|:/\\<>", c)) c = '_';
  }
  return out;
}

std::string TempStderrName(const std::string& program) {
  std::string base = program;
  size_t slash = base.find_last_of("\\/");
  if (slash != std::string::npos) base = base.substr(slash + 1);
  char stamp[24];
  std::snprintf(stamp, sizeof stamp, "%llX", static_cast<unsigned long long>(ClockUsecs()));
  return std::string(kTempStderrPrefix) + "_" + FileNameSafe(pgm_name) + "_" + FileNameSafe(base) +
         "_" + stamp + ".tmp";
}

// First line of a child's error output as a message: without a leading "ERROR:" and blank,
// " ..." when more lines follow. Empty when the file is empty or missing.
std::string FirstLine(const char* fn) {
  std::FILE* f = std::fopen(fn, "rb");
  if (!f) return "";
  std::string text;
  char bf[4096];
  size_t n;
  while ((n = std::fread(bf, 1, sizeof bf, f)) > 0 && text.size() < 65536)
    text.append(bf, n);
  std::fclose(f);
  size_t end = text.find_first_of("\r\n");
  std::string line = text.substr(0, end);
  bool more = end != std::string::npos && text.find_first_not_of("\r\n", end) != std::string::npos;
  if (line.compare(0, 6, "ERROR:") == 0) line.erase(0, 6);
  if (!line.empty() && line[0] == ' ') line.erase(0, 1);
  if (line.empty()) return more ? "..." : "";
  return more ? line + " ..." : line;
}

bool FileIsEmpty(const char* fn) {
  std::FILE* f = std::fopen(fn, "rb");
  if (!f) return true;
  bool empty = std::fgetc(f) == EOF;
  std::fclose(f);
  return empty;
}

bool FileThere(const char* fn) {
  std::FILE* f = std::fopen(fn, "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

// The error output of an ended child: logged with the debug level, its first line the
// error with set_err; a temporary file is removed at a nested level.
void CollectStderr(const ExtProcInfo& rec) {
  const char* fn = rec.stderr_fn;
  if (!fn[0] || std::strcmp(fn, PlatformNullDevice()) == 0) return;
  if (!ErrSet && FileThere(fn)) {
    if (debug_level) FileToLog(fn);
    if (rec.set_err_on_stderr) {
      std::string line = FirstLine(fn);
      if (!line.empty()) SeMErrMult(line.c_str(), nullptr);
    }
  }
  if (!IsTempStderr(fn) || (debug_level && !FileIsEmpty(fn))) return;
  PushErr();
  if (std::remove(fn) != 0 && FileThere(fn)) SeMErrno("remove: fn=", fn);
  PopErr(true);
}

// Creation flags as the platform names them (the values are Windows').
constexpr U4 kCreateNewConsole = 0x10, kNormalPriority = 0x20, kIdlePriority = 0x40;

struct Plan {
  std::string cmd;
  std::string program;
  bool direct = false;
  PlatformChildStart start;
  U4 creation = 0;
  int show_cmd = -1;
};

void JoinV(const char* first, va_list rest, std::string* out) {
  out->assign(first);
  for (int n = 1; n < 100; ++n) {
    const char* piece = va_arg(rest, const char*);
    if (!piece) break;
    out->append(piece);
  }
}

// Steps before the start: the program's name, the interpreter and its redirections.
void PrepareCommand(U2 flags, bool set_err, Plan* plan) {
  ParseCommand(plan->cmd.c_str());
  plan->program = parsed_cmd.args.empty() ? "" : parsed_cmd.args[0];
  plan->direct = (flags & kExecDirect) != 0;
  if (plan->direct) {
    const std::string& name = plan->program;
    char found[kPgmTextSz] = "";
    if (!name.empty() && name.find_first_of("\\/") == std::string::npos &&
        !PlatformFindInPath(name.c_str(), found, sizeof found) &&
        (PlatformFindInPath((name + ".bat").c_str(), found, sizeof found) ||
         PlatformFindInPath((name + ".exe").c_str(), found, sizeof found))) {
      // A path with blanks would otherwise be split into words.
      std::string path(found);
      if (path.find(' ') != std::string::npos) {
        path.insert(path.begin(), '"');
        path.push_back('"');
      }
      size_t at = FindNoCase(plan->cmd, name);
      if (at != std::string::npos) plan->cmd.replace(at, name.size(), path);
      ParseCommand(plan->cmd.c_str());
    }
  } else {
    bool interpreter =
        StPrefix(plan->cmd.c_str(), "cmd.exe ") || StPrefix(plan->cmd.c_str(), "cmd ");
    if (interpreter && parsed_cmd.args.size() > 1) plan->program = parsed_cmd.args[1];
    const char* null_dev = PlatformNullDevice();
    if ((flags & kExecHide) && !parsed_cmd.stdout_fn[0]) {
      plan->cmd += std::string(" > ") + null_dev;
      ParseCommand(plan->cmd.c_str());
    }
    if (!parsed_cmd.stderr_fn[0] && ((flags & kExecHide) || set_err)) {
      plan->cmd += " 2> " + TempStderrName(plan->program);
      ParseCommand(plan->cmd.c_str());
    }
    // The redirections stay parsed from the command itself; the interpreter gets it whole.
    if (!interpreter) PlatformShellLine(&plan->cmd);
  }
  NullDeviceWords(&plan->cmd);
}

// Waits for the child to end. A request to stop the program (Ctrl-C, an end signal) ends
// the child with everything it started instead, and leaves "Process aborted" pending.
void WaitForChild(void* child) {
  constexpr U4 kSliceMsecs = 20;
  while (!PlatformWaitChild(child, kSliceMsecs)) {
    if (!InterruptRequested()) continue;
    U4 code = 0;
    PlatformKillChild(child, &code);
    CheckInterrupt();
    return;
  }
}

void PlanStart(U2 flags, Plan* plan) {
  PlatformChildStart& s = plan->start;
  s.direct = plan->direct;
  s.own_group = true;
  if (flags & (kExecNew | kExecMin | kExecMax)) {
    s.new_console = true;
    plan->creation |= kCreateNewConsole;
    plan->show_cmd = (flags & kExecMin)    ? kSwShowMinimized
                     : (flags & kExecMax)  ? kSwShowMaximized
                     : (flags & kExecHide) ? kSwHide
                                           : kSwShow;
  } else if (flags & kExecHide) {
    plan->show_cmd = kSwHide;
  }
  s.show_cmd = plan->show_cmd;
  s.no_window = daemon_pgm;
  s.low_priority = (flags & kExecLow) != 0;
  plan->creation |= s.low_priority ? kIdlePriority : kNormalPriority;
}

void LogPlan(U2 flags, bool set_err, const Plan& plan) {
  char words[128], creation[256];
  ExecFlagsText_MyBf(flags, words, sizeof words);
  CreationFlagsText_MyBf(plan.creation, creation, sizeof creation);
  const ParsedCommand& p = parsed_cmd;
  LogStMult("ExecExtProcMult", ":cmd=", plan.cmd.c_str(), "(", words, "/", creation, "/",
            plan.show_cmd < 0 ? "SW_SHOWDEFAULT" : ShowCmdName(static_cast<U4>(plan.show_cmd)), ")",
            " waitf=", (flags & kExecWait) ? "True" : "False",
            " setErrOnStderr=", set_err ? "True" : "False", " stdinFN=", p.stdin_fn,
            " stdoutFN=", p.stdout_fn, " stderrFN=", p.stderr_fn,
            " append=", p.stderr_append ? "True" : "False", nullptr);
}

// Memory-resident files cannot be a child's streams; standard input must exist.
bool StreamsUsable() {
  const ParsedCommand& p = parsed_cmd;
  const char* names[3] = {p.stdin_fn, p.stdout_fn, p.stderr_fn};
  const char* messages[3] = {"stdin is an MRF", "stdout is an MRF", "stderr is an MRF"};
  for (int i = 0; i < 3; ++i)
    if (StPrefix(names[i], "MRF:")) {
      SeMErrMult(messages[i], nullptr);
      return false;
    }
  if (p.stdin_fn[0] && std::strcmp(p.stdin_fn, PlatformNullDevice()) != 0 &&
      !FileThere(p.stdin_fn)) {
    SeMErrMult("File \"", p.stdin_fn, "\" not found", nullptr);
    return false;
  }
  return true;
}

void ResetRecord(ExtProcInfo* rec, bool set_err, bool child) {
  *rec = ExtProcInfo();
  rec->set_err_on_stderr = set_err ? 1 : 0;
  rec->child = child ? 1 : 0;
}

I4 ExecExtProcV(U2 flags, bool set_err, ExtProcInfo* epi, const char* first, va_list rest) {
  bool wait0 = flags == 0 || (flags & kExecWait);
  if (ErrSet || !first || !*first) return wait0 ? -2 : 0;
  Plan plan;
  JoinV(first, rest, &plan.cmd);
  if (flags == 0) flags = kExecProcDefault;
  if (StPrefix(plan.cmd.c_str(), "START ")) {
    flags &= static_cast<U2>(~kExecChild);
    if (FindNoCase(plan.cmd, "/WAIT") == std::string::npos) flags &= static_cast<U2>(~kExecWait);
  }
  if (daemon_pgm) flags = static_cast<U2>((flags | kExecHide | kExecNew) & ~kExecPrint);
  bool wait = (flags & kExecWait) != 0;
  char words[128];
  if (!wait && (flags & kExecChild) && !epi) {
    ExecFlagsText_MyBf(flags, words, sizeof words);
    SeMErrMult("ExecExtProcMult",
               ":epip=NULL (must be defined for NoWait child): cmd=", plan.cmd.c_str(), "(", words,
               ")", nullptr);
    return 0;
  }
  ExtProcInfo local;
  ExtProcInfo* rec = epi ? epi : &local;
  ResetRecord(rec, set_err, (flags & kExecChild) != 0);

  PrepareCommand(flags, set_err, &plan);
  PlanStart(flags, &plan);
  if (debug_level || (flags & kExecLog)) LogPlan(flags, set_err, plan);
  I4 result = wait ? -2 : 0;
  void* child = nullptr;
  U4 pid = 0;
  if (StreamsUsable()) {
    std::snprintf(rec->cmd, kPgmTextSz, "%s", plan.cmd.c_str());
    std::snprintf(rec->stderr_fn, kPgmTextSz, "%s", parsed_cmd.stderr_fn);
    if (debug_level)
      for (size_t i = 0; i < parsed_cmd.args.size(); ++i) {
        char ix[16];
        std::snprintf(ix, sizeof ix, "%u", static_cast<unsigned>(i));
        LogStMult("ExecExtProcMult", ":arg[", ix, "]=", parsed_cmd.args[i].c_str(), nullptr);
      }
    // Only the program's own temporary file is cleared; files the command names are the
    // user's (">>" appends to them).
    if (IsTempStderr(rec->stderr_fn)) std::remove(rec->stderr_fn);
    if (pgm_log_st) std::fflush(pgm_log_st);
    if (flags & kExecPrint) std::printf("%s\n", plan.cmd.c_str());
    std::fflush(nullptr);
    plan.start.cmd = plan.cmd.c_str();
    U4 code = 0;
    pid = PlatformStartChild(plan.start, &child, nullptr, &code);
    if (pid == 0) SeMLastErr("CreateProcess", nullptr, code ? code : 1);
  }
  bool runs_on = false;
  if (pid != 0) {
    if (wait) WaitForChild(child);
    bool running = false;
    I4 code = 0;
    if (!PlatformChildExitCode(child, &running, &code)) {
      PushErr();
      SeMLastErr("GetExitCodeProcess", nullptr, 0);
      char msg[kErrMsgSize];
      ErrMessage(false, false, msg, sizeof msg);
      PopErr(false);
      LogStMult("ExecExtProcMult", ":", "ERROR: ", msg, nullptr);
      code = 0;
    }
    runs_on = running && !wait;
    if (debug_level) {
      char text[48];
      std::snprintf(text, sizeof text, "%d:pid=%u", running ? -1 : code, pid);
      LogStMult("ExecExtProcMult", " exitStatus=", text, nullptr);
    }
    if (runs_on) {
      rec->pid = pid;
      rec->exit_status = -1;
      rec->process_handle = child;
      ext_proc_list.push_back(*rec);
      result = static_cast<I4>(pid);
    } else {
      PlatformCloseChild(child);
      rec->pid = 0;
      rec->exit_status = code;
      CollectStderr(*rec);
      result = wait ? code : 0;
    }
  }
  if (ErrSet) AddErrMult(" (cmd=", plan.cmd.c_str(), ")", nullptr);
  ClearParseCommand();
  return result;
}

} // namespace

I4 ExecExtProcMult(U2 flags, bool set_err_on_stderr, ExtProcInfo* epi, const char* first, ...) {
  va_list ap;
  va_start(ap, first);
  I4 r = ExecExtProcV(flags, set_err_on_stderr, epi, first, ap);
  va_end(ap);
  return r;
}

void ExecSystemMult(U2 flags, const char* first, ...) {
  if (ErrSet || !first || !*first) return;
  if (flags == 0) flags = kExecSystemDefault;
  std::string cmd;
  va_list ap;
  va_start(ap, first);
  JoinV(first, ap, &cmd);
  va_end(ap);
  if (flags & kExecLog) {
    char words[128];
    ExecFlagsText_MyBf(flags, words, sizeof words);
    LogStMult("ExecSystemMult", ":cmd=", cmd.c_str(), "(", words, ")", nullptr);
  }
  if (flags & kExecPrint) std::printf("%s\n", cmd.c_str());
  std::fflush(nullptr);
  // The interpreter writes to our streams, as the runtime's system() would let it.
  std::string line = cmd;
  PlatformShellLine(&line);
  PlatformChildStart start;
  start.cmd = line.c_str();
  start.inherit = true;
  start.no_window = daemon_pgm;
  start.own_group = true; // so that an interrupt ends all it started
  void* child = nullptr;
  U4 code = 0;
  if (PlatformStartChild(start, &child, nullptr, &code) == 0) return;
  WaitForChild(child);
  PlatformCloseChild(child);
}

I4 ExtProcExitStatus(ExtProcInfo* epi) {
  if (!epi || epi->pid == 0) return -2;
  bool running = false;
  I4 code = -2;
  if (!PlatformChildExitCode(epi->process_handle, &running, &code)) code = -2;
  if (running) return -1;
  U4 pid = epi->pid;
  PlatformCloseChild(epi->process_handle);
  ExtProcInfo rec = *epi;
  rec.exit_status = code;
  PushErr();
  CollectStderr(rec);
  if (ErrSet) AddErrMult(" (cmd=", rec.cmd, ")", nullptr);
  PopErr(true);
  RemoveFromList(pid);
  // epi may have been the list's own record, gone now; otherwise it is the caller's.
  if (epi < ext_proc_list.data() || epi >= ext_proc_list.data() + ext_proc_list.capacity()) {
    epi->exit_status = code;
    epi->pid = 0;
    epi->process_handle = epi->thread_handle = nullptr;
  }
  return code;
}

bool ExtProcRunning(ExtProcInfo* epi) {
  return ExtProcExitStatus(epi) == -1;
}

bool KillExtProc(ExtProcInfo* epi) {
  if (!epi || epi->pid == 0) return false;
  ExtProcInfo rec = *epi;
  PushErr();
  bool running = false;
  I4 code = -2;
  PlatformChildExitCode(rec.process_handle, &running, &code);
  // Ended or not, what it started goes with it.
  U4 kill_code = 0;
  if (!PlatformKillChild(rec.process_handle, &kill_code) && running) {
    char pid[16];
    std::snprintf(pid, sizeof pid, "%u", rec.pid);
    SeMLastErr("TerminateProcess:pid=", pid, kill_code ? kill_code : 1);
    PopErr(true);
    return false;
  }
  PlatformCloseChild(rec.process_handle);
  if (IsTempStderr(rec.stderr_fn) && !(debug_level && !FileIsEmpty(rec.stderr_fn))) {
    // The child's end may hold the file a little while longer.
    U4 start = ClockMsecs();
    while (std::remove(rec.stderr_fn) != 0 && FileThere(rec.stderr_fn)) {
      if (ElapsedMsecs(start) > 1000) {
        SeMErrno("remove: fn=", rec.stderr_fn);
        break;
      }
    }
  }
  PopErr(true);
  RemoveFromList(rec.pid);
  if (epi < ext_proc_list.data() || epi >= ext_proc_list.data() + ext_proc_list.capacity()) {
    epi->pid = 0;
    epi->exit_status = -2;
    epi->process_handle = epi->thread_handle = nullptr;
  }
  return true;
}

void ReleaseExtProc(ExtProcInfo* epi) {
  if (!epi || epi->pid == 0) return;
  U4 pid = epi->pid;
  PlatformCloseChild(epi->process_handle);
  epi->process_handle = nullptr;
  RemoveFromList(pid);
}
