#include "platform/syserr.h"

#include <windows.h>
#include <wtsapi32.h>

#include <cstdio>

U4 PlatformLastError() {
  return GetLastError();
}

void SetPlatformLastError(U4 code) {
  SetLastError(code);
}

namespace {
HMODULE ntdll = nullptr; // loaded once, kept for the process

bool Format(DWORD flags, LPCVOID source, U4 code, char* bf, U4 size) {
  char* text = nullptr;
  DWORD n = FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                           source, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (n == 0 || !text) return false;
  std::snprintf(bf, size, "%s", text);
  LocalFree(text);
  return true;
}
} // namespace

bool PlatformErrorText(U4 code, char* bf, U4 size) {
  if (!bf || size == 0) return false;
  bf[0] = '\0';
  if (code == 0) return false;
  if (Format(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, bf, size)) return true;
  if (GetLastError() != ERROR_MR_MID_NOT_FOUND) return false;
  if (!ntdll) ntdll = LoadLibraryA("NTDLL.DLL");
  if (!ntdll) return false;
  return Format(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE, ntdll, code, bf, size);
}

bool PlatformClearCommError(void* handle, U4* mask, void* status) {
  DWORD errors = 0;
  if (!ClearCommError(static_cast<HANDLE>(handle), &errors, static_cast<COMSTAT*>(status)))
    return false;
  if (mask) *mask = errors;
  return true;
}

bool PlatformSessionMessage(const char* title, const char* text) {
  DWORD response = 0;
  // Nobody may be there to answer: after the time limit the run goes on as if answered.
  return WTSSendMessageA(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, const_cast<LPSTR>(title),
                         static_cast<DWORD>(lstrlenA(title)), const_cast<LPSTR>(text),
                         static_cast<DWORD>(lstrlenA(text)), MB_OK | MB_ICONEXCLAMATION,
                         kSessionMessageSecs, &response, TRUE) != FALSE;
}
