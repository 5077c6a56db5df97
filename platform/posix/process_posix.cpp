// Processes on POSIX systems, read from /proc. Zombies have ended and are not listed.
#include "platform/process.h"

#include "platform/stdstreams.h"

#include <algorithm>
#include <cctype>
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
#include <sys/resource.h>
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

// A started child: its pid stays ours (unreaped) until the child has been waited for, and
// with its own group the group id stays valid for ending what it started.
struct Child {
  pid_t pid = 0;
  bool group = false;
  bool ended = false;
  int status = 0;
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

I4 ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// True once the child has been reaped; poll: without waiting.
bool Reap(Child* c, bool poll) {
  if (c->ended) return true;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(c->pid, &status, poll ? WNOHANG : 0);
  } while (r < 0 && errno == EINTR);
  if (r == c->pid) {
    c->ended = true;
    c->status = status;
  } else if (r < 0 && errno == ECHILD) {
    c->ended = true; // reaped elsewhere; its code is lost
    c->status = 0;
  }
  return c->ended;
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

U4 PlatformStartChild(const PlatformChildStart& start, void** child, void** pipe, U4* code) {
  *child = nullptr;
  if (pipe) *pipe = nullptr;
  std::vector<std::string> words;
  if (start.direct)
    words = SplitCommand(start.cmd);
  else
    words = {"/bin/sh", "-c", start.cmd};
  if (words.empty()) {
    *code = EINVAL;
    return 0;
  }
  std::vector<char*> args;
  for (auto& w : words)
    args.push_back(w.data());
  args.push_back(nullptr);
  bool piped = start.pipe_stdout && pipe;
  int fds[2] = {-1, -1};
  if (piped && pipe2(fds, O_CLOEXEC) != 0) {
    *code = static_cast<U4>(errno);
    return 0;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (piped) posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  if (start.own_group) {
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  }
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (piped) close(fds[1]);
  if (rc != 0) {
    if (piped) close(fds[0]);
    *code = static_cast<U4>(rc);
    return 0;
  }
  if (start.low_priority) setpriority(PRIO_PROCESS, static_cast<id_t>(pid), 19);
  if (piped) {
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    *pipe = new int(fds[0]);
  }
  *child = new Child{pid, start.own_group, false, 0};
  return static_cast<U4>(pid);
}

bool PlatformWaitChild(void* child, U4 msecs) {
  auto* c = static_cast<Child*>(child);
  if (!c) return true;
  if (msecs == kAllU4) return Reap(c, false);
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    if (Reap(c, true)) return true;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (elapsed >= static_cast<long>(msecs)) return false;
    SleepBriefly(2);
  }
}

bool PlatformChildExitCode(void* child, bool* running, I4* exit_code) {
  auto* c = static_cast<Child*>(child);
  if (!c) return false;
  *running = !Reap(c, true);
  if (!*running) *exit_code = ExitCodeOf(c->status);
  return true;
}

bool PlatformKillChild(void* child, U4* code) {
  auto* c = static_cast<Child*>(child);
  if (!c) return false;
  // The group outlives its leader while members remain, and the leader's pid is not reused
  // before it has been reaped.
  int r = 0;
  if (c->group)
    r = kill(-c->pid, SIGKILL);
  else if (!c->ended)
    r = kill(c->pid, SIGKILL);
  if (r != 0 && errno != ESRCH) {
    *code = static_cast<U4>(errno);
    return false;
  }
  Reap(c, false);
  return true;
}

void PlatformCloseChild(void* child) {
  delete static_cast<Child*>(child);
}

I4 PlatformPipeRead(void* pipe, char* bf, U4 size, bool* eof, U4* code) {
  *eof = false;
  if (!pipe) {
    *code = EBADF;
    return -1;
  }
  for (;;) {
    ssize_t n = read(*static_cast<int*>(pipe), bf, size);
    if (n > 0) return static_cast<I4>(n);
    if (n == 0) {
      *eof = true;
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    *code = static_cast<U4>(errno);
    return -1;
  }
}

void PlatformPipeClose(void* pipe) {
  if (!pipe) return;
  close(*static_cast<int*>(pipe));
  delete static_cast<int*>(pipe);
}

bool PlatformSiblingProgram(const char* name, char* bf, U4 size) {
  char self[4096];
  if (!name || !PlatformImagePath(self, sizeof self)) return false;
  std::string path(self);
  size_t slash = path.rfind('/');
  path =
      slash == std::string::npos ? std::string("tapster-") : path.substr(0, slash + 1) + "tapster-";
  for (const char* p = name; *p; ++p)
    path += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  if (path.find(' ') != std::string::npos) path = "\"" + path + "\"";
  return std::snprintf(bf, size, "%s", path.c_str()) < static_cast<int>(size);
}

bool PlatformFindInPath(const char* name, char* bf, U4 size) {
  const char* dirs = std::getenv("PATH");
  if (!name || !*name || !dirs) return false;
  std::string list(dirs);
  for (size_t at = 0; at <= list.size();) {
    size_t end = list.find(':', at);
    if (end == std::string::npos) end = list.size();
    std::string dir = list.substr(at, end - at);
    std::string path = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (access(path.c_str(), X_OK) == 0)
      return std::snprintf(bf, size, "%s", path.c_str()) < static_cast<int>(size);
    at = end + 1;
  }
  return false;
}

const char* PlatformNullDevice() {
  return "/dev/null";
}

void PlatformShellLine(std::string*) {}

bool PlatformCoInitialize() {
  return true;
}
void PlatformCoUninitialize() {}
bool PlatformSocketsCleanup(U4* /*code*/) {
  return true;
}
