// Processes on POSIX systems, read from /proc. Zombies have ended and are not listed.
#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Reads pid, state and parent from /proc/<pid>/stat; the command name may hold blanks
// and parentheses, so the fields after it are found from the last ')'.
bool ReadStat(U4 pid, char* state, U4* ppid, std::string* comm) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  std::FILE* f = std::fopen(path, "r");
  if (!f) return false;
  char bf[1024];
  size_t n = std::fread(bf, 1, sizeof bf - 1, f);
  std::fclose(f);
  bf[n] = 0;
  char* open = std::strchr(bf, '(');
  char* close = std::strrchr(bf, ')');
  if (!open || !close || close < open) return false;
  if (comm) comm->assign(open + 1, close);
  char st = 0;
  unsigned pp = 0;
  if (std::sscanf(close + 1, " %c %u", &st, &pp) != 2) return false;
  *state = st;
  *ppid = pp;
  return true;
}

bool Ended(char state) {
  return state == 'Z' || state == 'X' || state == 'x';
}

bool ImageName(U4 pid, const std::string& comm, char* out, size_t size) {
  char path[64], target[4096];
  std::snprintf(path, sizeof path, "/proc/%u/exe", pid);
  ssize_t n = readlink(path, target, sizeof target - 1);
  std::string name;
  if (n > 0) {
    target[n] = 0;
    std::string t(target);
    const std::string deleted = " (deleted)";
    if (t.size() > deleted.size() &&
        t.compare(t.size() - deleted.size(), deleted.size(), deleted) == 0)
      t.resize(t.size() - deleted.size());
    size_t slash = t.rfind('/');
    name = slash == std::string::npos ? t : t.substr(slash + 1);
  } else {
    name = comm; // kernel threads and processes of other users
  }
  std::snprintf(out, size, "%s", name.c_str());
  return true;
}

void SleepBriefly(long msecs) {
  timespec ts{msecs / 1000, (msecs % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

struct KillHandle {
  pid_t pid;
};

// Splits a command line at blanks and tabs; double quotes group.
std::vector<std::string> SplitCommand(const char* cmd) {
  std::vector<std::string> out;
  std::string cur;
  bool in_quote = false, have = false;
  for (const char* p = cmd; *p; ++p) {
    if (*p == '"') {
      in_quote = !in_quote;
      have = true;
    } else if (!in_quote && (*p == ' ' || *p == '\t')) {
      if (have) out.push_back(cur);
      cur.clear();
      have = false;
    } else {
      cur += *p;
      have = true;
    }
  }
  if (have) out.push_back(cur);
  return out;
}

pid_t Spawn(const char* cmd, bool direct, U4* code) {
  std::vector<std::string> words;
  if (direct) {
    words = SplitCommand(cmd);
  } else {
    words = {"/bin/sh", "-c", cmd};
  }
  if (words.empty()) {
    *code = EINVAL;
    return 0;
  }
  std::vector<char*> args;
  for (auto& w : words)
    args.push_back(w.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ);
  if (rc != 0) {
    *code = static_cast<U4>(rc);
    return 0;
  }
  return pid;
}

} // namespace

bool PlatformProcessList(std::vector<PlatformProcEntry>& out, const char** failed_call, U4* code) {
  out.clear();
  DIR* d = opendir("/proc");
  if (!d) {
    if (failed_call) *failed_call = "CreateToolhelp32Snapshot";
    if (code) *code = static_cast<U4>(errno);
    return false;
  }
  while (dirent* e = readdir(d)) {
    char* end = nullptr;
    unsigned long pid = std::strtoul(e->d_name, &end, 10);
    if (!end || *end || pid == 0) continue;
    char state = 0;
    U4 ppid = 0;
    std::string comm;
    if (!ReadStat(static_cast<U4>(pid), &state, &ppid, &comm) || Ended(state)) continue;
    PlatformProcEntry pe;
    pe.pid = static_cast<U4>(pid);
    pe.ppid = ppid;
    ImageName(pe.pid, comm, pe.image, sizeof pe.image);
    out.push_back(pe);
  }
  closedir(d);
  std::sort(out.begin(), out.end(),
            [](const PlatformProcEntry& a, const PlatformProcEntry& b) { return a.pid < b.pid; });
  if (out.empty()) {
    if (failed_call) *failed_call = "Process32First";
    if (code) *code = 18; // no more files
    return false;
  }
  return true;
}

U4 PlatformOwnPid() {
  return static_cast<U4>(getpid());
}

void* PlatformOpenProcessForKill(U4 pid, U4* code) {
  char state = 0;
  U4 ppid = 0;
  if (!ReadStat(pid, &state, &ppid, nullptr) || Ended(state)) {
    *code = 2;
    return nullptr;
  }
  if (kill(static_cast<pid_t>(pid), 0) != 0) {
    *code = errno == EPERM ? 5 : 2;
    return nullptr;
  }
  return new KillHandle{static_cast<pid_t>(pid)};
}

bool PlatformTerminateProcess(void* h, U4 /*exit_code*/, U4* code) {
  auto* kh = static_cast<KillHandle*>(h);
  if (kill(kh->pid, SIGKILL) != 0) {
    *code = errno == EPERM ? 5 : errno == ESRCH ? 2 : static_cast<U4>(errno);
    return false;
  }
  return true;
}

int PlatformWaitProcess(void* h, U4 msecs, U4* code) {
  auto* kh = static_cast<KillHandle*>(h);
  if (!kh) {
    *code = EINVAL;
    return kPWaitFailed;
  }
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    char state = 0;
    U4 ppid = 0;
    if (!ReadStat(static_cast<U4>(kh->pid), &state, &ppid, nullptr) || Ended(state))
      return kPWaitObject0;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (elapsed >= static_cast<long>(msecs)) return kPWaitTimeout;
    SleepBriefly(2);
  }
}

void PlatformCloseProcess(void* h) {
  delete static_cast<KillHandle*>(h);
}

int PlatformRunShellWait(const char* cmd) {
  U4 code = 0;
  pid_t pid = Spawn(cmd, false, &code);
  if (pid <= 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

U4 PlatformStartCommand(const char* cmd, bool direct, void** process_handle, void** thread_handle,
                        U4* code) {
  *process_handle = nullptr;
  *thread_handle = nullptr;
  pid_t pid = Spawn(cmd, direct, code);
  return pid > 0 ? static_cast<U4>(pid) : 0;
}

bool PlatformChildExitCode(void* /*process_handle*/, U4 pid, bool* running, I4* exit_code) {
  int status = 0;
  pid_t r = waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
  if (r == 0) {
    *running = true;
    return true;
  }
  *running = false;
  if (r < 0) return false;
  if (WIFEXITED(status))
    *exit_code = WEXITSTATUS(status);
  else
    *exit_code = 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return true;
}

void PlatformCloseChild(void*, void*) {}

bool PlatformCoInitialize() {
  return true;
}
void PlatformCoUninitialize() {}
bool PlatformSocketsCleanup(U4* /*code*/) {
  return true;
}
