// Death tests read only the child's standard error; a text the program prints on standard
// output is checked by sending that output to standard error first.
#pragma once
#include <cstdio>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

inline void StdoutToStderr() {
  std::fflush(stdout);
  dup2(fileno(stderr), fileno(stdout));
}
