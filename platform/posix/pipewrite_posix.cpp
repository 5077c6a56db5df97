#include "platform/pipewrite.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
long long NowMsecs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool Fail(const char* call, int err, const char** failed_call, U4* code) {
  *failed_call = call;
  *code = static_cast<U4>(err);
  return false;
}

// Writes everything unless the reader goes away or the time is up; 0 or the error.
int WriteAll(int fd, const char* data, U4 len, long long deadline) {
  while (len > 0) {
    const ssize_t n = write(fd, data, len);
    if (n > 0) {
      data += n;
      len -= static_cast<U4>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return errno;
    const long long left = deadline - NowMsecs();
    if (left <= 0) return ETIMEDOUT;
    pollfd p{fd, POLLOUT, 0};
    poll(&p, 1, static_cast<int>(left));
  }
  return 0;
}

// Waits for the child until the deadline; ends it with everything it started after that.
bool Reap(pid_t pid, long long deadline) {
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) return true;
    if (NowMsecs() >= deadline) break;
    usleep(2000);
  }
  kill(-pid, SIGKILL);
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return false;
}
} // namespace

bool PlatformWriteToCommand(const char* cmd, const char* data, U4 len, U4 msecs,
                            const char** failed_call, U4* code) {
  const long long deadline = NowMsecs() + msecs;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return Fail("pipe", errno, failed_call, code);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  char sh[] = "/bin/sh", c[] = "-c";
  char* args[] = {sh, c, const_cast<char*>(cmd), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, sh, &actions, &attr, args, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(fds[0]);
  if (rc != 0) {
    close(fds[1]);
    return Fail("popen", rc, failed_call, code);
  }
  fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
  // A reader that goes away must not end this process with SIGPIPE.
  sigset_t pipe_set, old;
  sigemptyset(&pipe_set);
  sigaddset(&pipe_set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_set, &old);
  const int err = WriteAll(fds[1], data, len, deadline);
  close(fds[1]);
  if (err == EPIPE) {
    const timespec zero{0, 0};
    sigtimedwait(&pipe_set, nullptr, &zero);
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  const bool ended = Reap(pid, deadline);
  if (err) return Fail("fwrite", err, failed_call, code);
  if (!ended) return Fail("pclose", ETIMEDOUT, failed_call, code);
  return true;
}
