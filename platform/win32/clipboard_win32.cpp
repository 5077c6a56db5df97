#include "platform/clipboard.h"

#include <cstring>
#include <windows.h>

namespace {
// Another program may hold the clipboard for a moment.
bool Open(const char** why) {
  for (int i = 0; i < 10; ++i) {
    if (OpenClipboard(nullptr)) return true;
    Sleep(10);
  }
  *why = "OpenClipboard";
  return false;
}
} // namespace

bool PlatformClipboardGet(std::string* text, const char** why) {
  text->clear();
  if (!Open(why)) return false;
  bool ok = true;
  if (HANDLE h = GetClipboardData(CF_TEXT)) {
    if (const char* p = static_cast<const char*>(GlobalLock(h))) {
      text->assign(p, strnlen(p, GlobalSize(h)));
      GlobalUnlock(h);
    } else {
      *why = "GlobalLock";
      ok = false;
    }
  } else if (IsClipboardFormatAvailable(CF_TEXT)) {
    *why = "GetClipboardData";
    ok = false;
  }
  const DWORD err = GetLastError();
  CloseClipboard();
  SetLastError(err);
  return ok;
}

bool PlatformClipboardSet(const char* text, U4 len, const char** why) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, SIZE_T(len) + 1);
  if (!h) {
    *why = "GlobalAlloc";
    return false;
  }
  char* p = static_cast<char*>(GlobalLock(h));
  std::memcpy(p, text, len);
  p[len] = '\0';
  GlobalUnlock(h);
  if (!Open(why)) {
    GlobalFree(h);
    return false;
  }
  bool ok = EmptyClipboard() != 0;
  if (!ok) *why = "EmptyClipboard";
  if (ok && !SetClipboardData(CF_TEXT, h)) {
    *why = "SetClipboardData";
    ok = false;
  }
  const DWORD err = GetLastError();
  if (!ok) GlobalFree(h); // the clipboard owns it only after a successful set
  CloseClipboard();
  SetLastError(err);
  return ok;
}
