// Socket output and input that a fault handler may use: only async-signal-safe calls, and
// every wait bounded.
#pragma once
#include <time.h>

#include <cstddef>

long MsecsSince(const timespec& start);
// Waits until fd is ready for events, at most until limit msecs after start.
bool WaitForSocket(int fd, short events, const timespec& start, long limit);
// Sends all of n bytes, waiting for room at most limit msecs; no SIGPIPE when the peer has
// gone.
bool SocketSendAll(int fd, const unsigned char* bytes, std::size_t n, long limit);
// Reads and drops what fd has, until the peer closes it (true) or limit msecs pass.
bool SocketReadUntilClosed(int fd, long limit);
