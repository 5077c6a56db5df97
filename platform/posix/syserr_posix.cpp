#include "platform/syserr.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
thread_local U4 lastError = 0;
}

U4 PlatformLastError() {
  return lastError;
}

void SetPlatformLastError(U4 code) {
  lastError = code;
}

bool PlatformErrorText(U4 code, char* bf, U4 size) {
  if (!bf || size == 0) return false;
  bf[0] = '\0';
  if (code == 0 || code > 0x7FFFFFFFu) return false;
  // The GNU and XSI variants of strerror_r differ; strerror under a copy is enough here.
  const char* text = std::strerror(static_cast<int>(code));
  if (!text || !*text || std::strncmp(text, "Unknown error", 13) == 0) return false;
  std::snprintf(bf, size, "%s", text);
  return true;
}

bool PlatformClearCommError(void*, U4*, void*) {
  // No serial ports behind these handles here.
  lastError = ENODEV;
  return false;
}

bool PlatformSessionMessage(const char*, const char*) {
  lastError = ENOSYS;
  return false;
}
