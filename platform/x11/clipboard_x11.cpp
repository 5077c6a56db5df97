#include "platform/clipboard.h"

#include "platform/syserr.h"

#include <cerrno>

// Serving the CLIPBOARD selection needs an owner that outlives the copy; until one
// exists the clipboard is reported as not supported here.
bool PlatformClipboardGet(std::string* text, const char** why) {
  text->clear();
  SetPlatformLastError(ENOSYS);
  *why = "Clipboard not supported on this system";
  return false;
}

bool PlatformClipboardSet(const char*, U4, const char** why) {
  SetPlatformLastError(ENOSYS);
  *why = "Clipboard not supported on this system";
  return false;
}
