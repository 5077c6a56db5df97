#include "runtime/shutdown.h"

#include "console/kb.h"
#include "errlog/errstack.h"
#include "errlog/notify.h"
#include "errlog/pgmlog.h"
#include "platform/process.h"
#include "platform/stdstreams.h"
#include "proc/exec.h"
#include "runtime/interrupt.h"
#include "text/match.h"
#include "time/clock.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

U4 vigilo_pid = 0;
char heartbeat_fn[kPgmTextSz] = "";
U2 kill_pid_wait_msecs = 5000;
bool sockets_started = false;

namespace {

bool com_initialized = false;
void (*error_end_hook)() = nullptr;
U2 kill_depth = 0;
U4 kill_root_pid = 0;

std::deque<U4>& KillQueue() {
  static std::deque<U4> queue;
  return queue;
}

struct Num {
  char bf[24];
  explicit Num(unsigned long long v) { std::snprintf(bf, sizeof bf, "%llu", v); }
  operator const char*() const { return bf; }
};

// Snapshot of the process list; a failure is pushed and gives false.
bool Snapshot(std::vector<PlatformProcEntry>& list) {
  const char* failed = "CreateToolhelp32Snapshot";
  U4 code = 0;
  if (PlatformProcessList(list, &failed, &code)) return true;
  SeMLastErr(failed, nullptr, code ? code : 1);
  return false;
}

bool NameMatches(const char* image, const char* name) {
  return StMatch(image, name, '~', false);
}

// "KillPID" + step + pid + " proc=" + name.
void LogKill(const char* step, U4 pid) {
  char name[260];
  if (!PIDProcess_MyBf(pid, name, sizeof name)) name[0] = 0;
  LogStMult("KillPID", step, static_cast<const char*>(Num(pid)), " proc=", name, nullptr);
}

bool InQueue(U4 pid) {
  for (U4 p : KillQueue()) {
    if (p == pid) return true;
  }
  return false;
}

// Step 8 of the outermost call: ends the queued processes, parents first.
void EndQueued() {
  auto& queue = KillQueue();
  while (!ErrSet && !queue.empty()) {
    U4 p = queue.front();
    queue.pop_front();
    char name[260];
    if (!PIDProcess_MyBf(p, name, sizeof name)) name[0] = 0;
    const Num ps(p);
    LogStMult("KillPID", ":10:pid=", static_cast<const char*>(ps), " proc=", name, nullptr);
    U4 code = 0;
    void* h = PlatformOpenProcessForKill(p, &code);
    if (!h) {
      if (code == 2 || !PIDIsActive(p)) continue;
      if (code == 5 && p != kill_root_pid) {
        LogStMult("KillPID", ":10:pid=", static_cast<const char*>(ps), " proc=", name,
                  " OpenProcess: access denied (IGNORED)", nullptr);
        continue;
      }
      const char* text = WindowsErrorText(code);
      SeMErrMult("OpenProcess:", text ? text : "", nullptr);
      return;
    }
    LogStMult("KillPID", ":11:pid=", static_cast<const char*>(ps), " proc=", name, nullptr);
    bool ignored = false;
    if (PlatformTerminateProcess(h, 1, &code)) {
      LogStMult("KillPID", ":13:pid=", static_cast<const char*>(ps), " proc=", name, nullptr);
      U4 wcode = 0;
      int r = PlatformWaitProcess(h, kill_pid_wait_msecs, &wcode);
      if (r == kPWaitObject0) {
        LogStMult("KillPID:WAIT_OBJECT_0", nullptr);
      } else if (r == kPWaitTimeout) {
        LogStMult("KillPID:WAIT_TIMEOUT", nullptr);
      } else if (r == kPWaitAbandoned) {
        LogStMult("KillPID:WAIT_ABANDONED", nullptr);
      } else if (r == kPWaitFailed) {
        PushErr();
        SeMLastErr("WaitForSingleObject", nullptr, wcode ? wcode : 1);
        char msg[kErrMsgSize] = "";
        ErrMessage(false, false, msg, sizeof msg);
        PopErr(false);
        LogStMult("KillPID:", msg, nullptr);
      } else {
        char ret[24];
        std::snprintf(ret, sizeof ret, "%d", r);
        LogStMult("KillPID:ret=", ret, nullptr);
      }
    } else if (PIDIsActive(p)) {
      LogStMult("KillPID", ":12:pid=", static_cast<const char*>(ps), " proc=", name,
                " err=", static_cast<const char*>(Num(code)), nullptr);
      SeMLastErr("TerminateProcess:pid=", ps, code);
      if (code == 5 && p != kill_root_pid) {
        char msg[kErrMsgSize] = "";
        ErrMessage(false, false, msg, sizeof msg);
        LogStMult(msg, " (IGNORED)", nullptr);
        ignored = true;
      }
    } else {
      ignored = true; // it ended by itself meanwhile
    }
    PlatformCloseProcess(h);
    LogStMult("KillPID", ":14:pid=", static_cast<const char*>(ps), " proc=", name, nullptr);
    if (ErrSet) return;
    if (ignored) continue; // a protected process stays; its siblings still go
    U4 start = ClockMsecs();
    while (PIDIsActive(p)) {
      if (ErrSet) return;
      if (ElapsedSecs(start) != 0) {
        SeMErrMult("KillPID", ":PID ", static_cast<const char*>(ps), "/", name, " is still active",
                   nullptr);
        return;
      }
      SleepMsecs(10);
    }
  }
}

} // namespace

bool PIDIsActive(U4 pid) {
  if (pid == 0) return false;
  std::vector<PlatformProcEntry> list;
  if (!Snapshot(list)) return false;
  for (const auto& pe : list) {
    if (pe.pid == pid) return true;
  }
  return false;
}

char* PIDProcess_MyBf(U4 pid, char* bf, U4 size) {
  if (!bf || size == 0) return nullptr;
  bf[0] = 0;
  std::vector<PlatformProcEntry> list;
  if (!Snapshot(list)) return nullptr;
  for (const auto& pe : list) {
    if (pe.pid == pid) {
      std::snprintf(bf, size, "%s", pe.image);
      return bf;
    }
  }
  return nullptr;
}

U4 ProcessPID(const char* name, bool must_exist) {
  if (ErrSet || !name) return 0;
  std::vector<PlatformProcEntry> list;
  if (!Snapshot(list)) return 0;
  for (const auto& pe : list) {
    if (NameMatches(pe.image, name)) return pe.pid;
  }
  if (must_exist) SeMErrMult("Process \"", name, "\" not found", nullptr);
  return 0;
}

U4 ProcessCount(const char* name, U4 limit) {
  if (ErrSet || !name) return 0;
  std::vector<PlatformProcEntry> list;
  if (!Snapshot(list)) return 0;
  U4 n = 0;
  for (const auto& pe : list) {
    if (n >= limit) break;
    if (NameMatches(pe.image, name)) ++n;
  }
  return n;
}

U4 ProcessNo(const char* name) {
  if (ErrSet || !name) return 0;
  std::vector<PlatformProcEntry> list;
  if (!Snapshot(list)) return 0;
  U4 own = PlatformOwnPid();
  U4 n = 0;
  for (const auto& pe : list) {
    if (!NameMatches(pe.image, name)) continue;
    ++n;
    if (pe.pid == own) return n;
  }
  return 0;
}

bool KillPID(U4 pid, bool with_descendants) {
  if (ErrSet || pid == 0) return false;
  LogKill(":0:pid=", pid);
  U4 own = pgm_pid ? pgm_pid : PlatformOwnPid();
  if (pid == own) {
    LogStMult("KillPID", ":1:pid=pgm_pid (ignored)", nullptr);
    return false;
  }
  if (vigilo_pid && pid == vigilo_pid) {
    LogStMult("KillPID", ":2:pid=vigilo_pid (ignored)", nullptr);
    return false;
  }
  auto& queue = KillQueue();
  if (kill_depth == 0) {
    LogKill(":3:pid=", pid);
    queue.clear();
    kill_root_pid = pid;
  }
  if (!PIDIsActive(pid)) {
    LogKill(":5:pid=", pid);
    return false;
  }
  ++kill_depth;
  queue.push_back(pid);
  if (with_descendants) {
    LogKill(":6:pid=", pid);
    std::vector<PlatformProcEntry> list;
    bool ok = Snapshot(list);
    LogKill(":7:pid=", pid);
    if (ok) {
      char pname[260];
      if (!PIDProcess_MyBf(pid, pname, sizeof pname)) pname[0] = 0;
      for (const auto& pe : list) {
        // A stale parent id can make a pid its own ancestor; visit each pid once.
        if (ErrSet) break;
        if (pe.ppid != pid || pe.pid == pid || InQueue(pe.pid)) continue;
        LogStMult("KillPID", ":8:pe32.th32ParentProcessID=", static_cast<const char*>(Num(pid)),
                  "/", pname, nullptr);
        LogStMult("KillPID", ":8:pe32.th32ProcessID=", static_cast<const char*>(Num(pe.pid)), "/",
                  pe.image, nullptr);
        log_indent += 4;
        KillPID(pe.pid, true);
        log_indent -= 4;
      }
    }
  }
  if (kill_depth > 1) {
    LogKill(":15:pid=", pid);
    --kill_depth;
    return !ErrSet;
  }
  LogKill(":9:pid=", pid);
  log_indent += 4;
  EndQueued();
  queue.clear();
  log_indent -= 4;
  LogKill(":15:pid=", pid);
  --kill_depth;
  return !ErrSet;
}

bool KillProcess(const char* name, bool with_descendants) {
  if (ErrSet || !name) return false;
  U4 pid = ProcessPID(name, false);
  LogStMult("KillProcess", ":process=", name, " pid=", static_cast<const char*>(Num(pid)), nullptr);
  bool ok = KillPID(pid, with_descendants);
  if (ErrSet) AddErrMult(" (process=", name, ")", nullptr);
  return ok;
}

void VigiloExit() {
  if (ErrSet || vigilo_pid == 0) return;
  LogStMult("VigiloExit", ":vigilo_pid=", static_cast<const char*>(Num(vigilo_pid)),
            " pgm_fault=", fault_mode ? "1" : "0", " heartbeat_fn=", heartbeat_fn, nullptr);
  if (!fault_mode && heartbeat_fn[0]) {
    if (std::remove(heartbeat_fn) != 0) {
      std::FILE* f = std::fopen(heartbeat_fn, "rb");
      if (f) {
        std::fclose(f);
        SeMErrno("VigiloExit", ":remove");
      }
    }
  }
}

bool PgmCoInitialize() {
  if (com_initialized) return true;
  if (!PlatformCoInitialize()) {
    SeMErrMult("CoInitialize failure", nullptr);
    return false;
  }
  com_initialized = true;
  return true;
}

void PgmCoUninitialize() {
  if (!com_initialized) return;
  PlatformCoUninitialize();
  com_initialized = false;
}

void SocketsCleanup() {
  if (!sockets_started) return;
  U4 code = 0;
  if (!PlatformSocketsCleanup(&code)) SeMLastErr("SocketsCleanup", ":WSACleanup", code);
  sockets_started = false;
}

void SetErrorEndHook(void (*hook)()) {
  error_end_hook = hook;
}

void RunErrorEndHook() {
  if (error_end_hook) error_end_hook();
}

U1 ProgramExit(U1 status) {
  if (pgm_exiting) return status;
  pgm_exiting = true;
  log_flush = true;
  CheckInterrupt(); // a request that came after the last wait still makes this an abort
  bool had_err = ErrSet;
  if (had_err) RunErrorEndHook();
  bool reported = ProcessErr(255, false);
  // A pending error always makes the status 1, even if the report itself failed.
  U1 result = status >= 255 ? ((reported || had_err) ? 1 : 0) : status;
  VigiloExit();
  ProcessErr();
  // Child processes: those started as children are ended, others are left running.
  while (!ext_proc_list.empty()) {
    size_t before = ext_proc_list.size();
    ExtProcInfo rec = ext_proc_list.front();
    const Num ps(rec.pid);
    if (!rec.child) {
      LogStMult("ProgramExit",
                PIDIsActive(rec.pid) ? ": Active process: PID=" : ": Inactive process: PID=",
                static_cast<const char*>(ps), " cmd=", rec.cmd, nullptr);
      ReleaseExtProc(&ext_proc_list.front());
    } else if (ExtProcExitStatus(&ext_proc_list.front()) != -1) {
      LogStMult("ProgramExit", ": Inactive child process: PID=", static_cast<const char*>(ps),
                " cmd=", rec.cmd, nullptr);
    } else if (vigilo_pid && rec.pid == vigilo_pid) {
      LogStMult("ProgramExit", ": Leave Vigilo: PID=", static_cast<const char*>(ps),
                " cmd=", rec.cmd, nullptr);
    } else {
      LogStMult("ProgramExit", ": Kill child process: PID=", static_cast<const char*>(ps),
                " cmd=", rec.cmd, nullptr);
      KillExtProc(&ext_proc_list.front());
    }
    if (ext_proc_list.size() == before) ext_proc_list.erase(ext_proc_list.begin());
  }
  PgmCoUninitialize();
  SocketsCleanup();
  CloseKB();
  if (had_err && pause_on_error && !daemon_pgm) {
    std::printf("\nPress any key to continue:");
    std::fflush(stdout);
    PlatformWaitKey();
    std::printf("\n");
    std::fflush(stdout);
  }
  ClosePgmLog();
  pgm_pid = 0;
  // A log that lost lines is a failed run, whatever else went well.
  return log_write_failed ? 1 : result;
}

void ResetShutdownForTest() {
  pgm_exiting = false;
  kill_depth = 0;
  KillQueue().clear();
}
