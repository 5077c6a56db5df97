#include "platform/stdstreams.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

int PlatformStreamFileNo(int which) {
  std::FILE* st = which == 0 ? stdin : which == 1 ? stdout : stderr;
  if (!st) return -1;
  int fd = fileno(st);
  if (fd < 0 || fcntl(fd, F_GETFD) == -1) return -1;
  return fd;
}

bool PlatformStreamIsTerminal(int fd) {
  return isatty(fd) == 1;
}

// POSIX has no stream handles besides the file numbers.
void* PlatformStdHandle(int) {
  return nullptr;
}

void PlatformSetBinary(int) {}

void PlatformIgnoreBrokenPipe() {
  signal(SIGPIPE, SIG_IGN);
}

void PlatformFillMissingStreams() {
  for (int fd = 0; fd < 3; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    int n = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (n >= 0 && n != fd) {
      dup2(n, fd);
      close(n);
    }
  }
}

bool PlatformImagePath(char* bf, U4 size) {
  if (!bf || size == 0) return false;
  ssize_t n = readlink("/proc/self/exe", bf, size - 1);
  if (n <= 0) {
    bf[0] = 0;
    return false;
  }
  bf[n] = 0;
  return true;
}

bool PlatformGetCwd(char* bf, U4 size) {
  return getcwd(bf, size) != nullptr;
}

bool PlatformChDir(const char* dir) {
  return chdir(dir) == 0;
}

U4 PlatformPid() {
  return static_cast<U4>(getpid());
}

int PlatformProcessorCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

void* PlatformProcessHandle() {
  return nullptr;
}
void* PlatformModuleInstance() {
  return nullptr;
}

bool PlatformWaitKey() {
  if (isatty(STDIN_FILENO) != 1) return false;
  termios saved{};
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return false;
  termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  char c = 0;
  ssize_t n;
  do {
    n = read(STDIN_FILENO, &c, 1);
  } while (n < 0 && errno == EINTR);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  return n == 1;
}
