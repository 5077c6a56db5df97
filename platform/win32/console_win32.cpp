#include "platform/console.h"

#include <conio.h>
#include <cstdio>
#include <windows.h>

namespace {

DWORD saved_mode = 0; // 0: nothing to restore

HANDLE In() {
  return GetStdHandle(STD_INPUT_HANDLE);
}

bool Fail(const char* call, const char** failed, U4* code) {
  *failed = call;
  *code = GetLastError();
  return false;
}

} // namespace

bool PlatformKbOpen(bool raw, const char** failed, U4* code) {
  if (!raw) return true;
  DWORD mode = 0;
  if (!GetConsoleMode(In(), &mode)) {
    saved_mode = 0;
    return Fail("GetConsoleMode", failed, code);
  }
  saved_mode = mode;
  const DWORD wanted = (mode | ENABLE_WINDOW_INPUT | ENABLE_MOUSE_INPUT | ENABLE_EXTENDED_FLAGS) &
                       ~DWORD(ENABLE_QUICK_EDIT_MODE);
  if (!SetConsoleMode(In(), wanted)) return Fail("SetConsoleMode", failed, code);
  return true;
}

bool PlatformKbClose(const char** failed, U4* code) {
  if (saved_mode == 0) return true;
  const DWORD mode = saved_mode;
  saved_mode = 0;
  if (!SetConsoleMode(In(), mode)) return Fail("SetConsoleMode", failed, code);
  return true;
}

bool PlatformKbEventCount(U4* count, const char** failed, U4* code) {
  DWORD n = 0;
  if (!GetNumberOfConsoleInputEvents(In(), &n))
    return Fail("GetNumberOfConsoleInputEvents", failed, code);
  *count = n;
  return true;
}

bool PlatformKbReadEvent(KbEvent* ev, const char** failed, U4* code) {
  INPUT_RECORD rec{};
  DWORD got = 0;
  if (!ReadConsoleInputA(In(), &rec, 1, &got)) return Fail("ReadConsoleInput", failed, code);
  *ev = KbEvent{};
  if (got == 0) return true;
  if (rec.EventType == KEY_EVENT) {
    const KEY_EVENT_RECORD& k = rec.Event.KeyEvent;
    ev->kind = KbEvent::kKey;
    ev->down = k.bKeyDown != 0;
    ev->vk = k.wVirtualKeyCode;
    ev->ch = static_cast<U1>(k.uChar.AsciiChar);
    ev->state = k.dwControlKeyState;
  } else if (rec.EventType == MOUSE_EVENT) {
    const MOUSE_EVENT_RECORD& m = rec.Event.MouseEvent;
    ev->kind = KbEvent::kMouse;
    ev->buttons = m.dwButtonState & 0xFFFF;
    ev->flags = m.dwEventFlags;
    ev->wheel = static_cast<I2>(HIWORD(m.dwButtonState));
  }
  return true;
}

bool PlatformKbHitPlain() {
  return _kbhit() != 0;
}

int PlatformStdinKind() {
  HANDLE h = In();
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return 0;
  DWORD mode = 0;
  if (GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode)) return 1;
  return 2;
}

int PlatformStdinByte() {
  const int c = std::fgetc(stdin);
  return c == EOF ? -1 : c;
}

int PlatformConsoleGetch() {
  return _getch();
}

bool PlatformClipboardText(std::string* text) {
  if (!OpenClipboard(nullptr)) return false;
  bool ok = false;
  if (HANDLE h = GetClipboardData(CF_TEXT)) {
    if (const char* p = static_cast<const char*>(GlobalLock(h))) {
      *text = p;
      ok = true;
      GlobalUnlock(h);
    }
  }
  CloseClipboard();
  return ok;
}
