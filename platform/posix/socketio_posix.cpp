#include "platform/posix/socketio_posix.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

long MsecsSince(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

bool WaitForSocket(int fd, short events, const timespec& start, long limit) {
  for (;;) {
    long left = limit - MsecsSince(start);
    if (left < 0) return false;
    pollfd p{fd, events, 0};
    int n = poll(&p, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

bool SocketSendAll(int fd, const unsigned char* bytes, std::size_t n, long limit) {
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (n > 0) {
    ssize_t sent = send(fd, bytes, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      bytes += sent;
      n -= static_cast<std::size_t>(sent);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && errno == EAGAIN) {
      if (!WaitForSocket(fd, POLLOUT, start, limit)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool SocketReadUntilClosed(int fd, long limit) {
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  unsigned char scrap[4096];
  while (MsecsSince(start) <= limit) {
    ssize_t n = recv(fd, scrap, sizeof scrap, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return true;
    if (n < 0 && errno == EAGAIN && !WaitForSocket(fd, POLLIN, start, limit)) return false;
  }
  return false;
}
