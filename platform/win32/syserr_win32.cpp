#include "platform/syserr.h"

#include <windows.h>
#include <wtsapi32.h>

#include <cstdio>
#include <string>

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

namespace {
// Owns copies of the texts: a call that overstays its limit is left running with them.
struct SessionMessage {
  std::string title, text;
  BOOL sent = FALSE;
  DWORD error = 0;
};

DWORD WINAPI SendSessionMessage(LPVOID param) {
  auto* m = static_cast<SessionMessage*>(param);
  DWORD response = 0;
  // Nobody may be there to answer: after the time limit the run goes on as if answered.
  m->sent = WTSSendMessageA(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, m->title.data(),
                            static_cast<DWORD>(m->title.size()), m->text.data(),
                            static_cast<DWORD>(m->text.size()), MB_OK | MB_ICONEXCLAMATION,
                            kSessionMessageSecs, &response, TRUE);
  m->error = GetLastError();
  return 0;
}
} // namespace

bool PlatformSessionMessage(const char* title, const char* text) {
  auto* m = new SessionMessage{title ? title : "", text ? text : ""};
  HANDLE thread = CreateThread(nullptr, 0, SendSessionMessage, m, 0, nullptr);
  if (!thread) {
    DWORD error = GetLastError();
    delete m;
    SetLastError(error);
    return false;
  }
  // A session service that ignores the limit is not waited for much longer.
  DWORD waited = WaitForSingleObject(thread, (kSessionMessageSecs + 5) * 1000);
  CloseHandle(thread);
  if (waited != WAIT_OBJECT_0) {
    SetLastError(ERROR_TIMEOUT);
    return false; // m stays with the thread
  }
  bool sent = m->sent != FALSE;
  DWORD error = m->error;
  delete m;
  SetLastError(error);
  return sent;
}
