// Opens a window with a given title and class and writes every key, character, mouse,
// focus and activation message it receives to a file, one line each, flushed at once.
//
//   testwin_win32 --log FILE --title TEXT [--class NAME] [--child-title TEXT]
//                 [--child-class NAME] [--delay MS] [--x N --y N --w N --h N] [--popup 1]
//                 [--quit-after S] [--close-after-chars N]
//
// Lines: "ready hwnd=H child=H rect=L,T,R,B client=X,Y" once the window is shown, then
// "keydown win=top vk=41 scan=1e", "char win=top code=48", "lbuttondown win=child x=10 y=20",
// "mousemove win=top x=1 y=2", "setfocus win=top", "killfocus win=top",
// "activate win=top state=1" (hexadecimal codes, client coordinates).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

FILE* logFile = nullptr;
HWND topWindow = nullptr;
HWND childWindow = nullptr;
int lastMoveX = -1;
int lastMoveY = -1;
int charsBeforeClose = -1; // the window closes itself after this many characters

void Line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(logFile, format, args);
  va_end(args);
  std::fputc('\n', logFile);
  std::fflush(logFile);
}

const char* Which(HWND window) {
  return window == childWindow ? "child" : "top";
}

const char* MouseName(UINT msg) {
  switch (msg) {
  case WM_LBUTTONDOWN:
    return "lbuttondown";
  case WM_LBUTTONUP:
    return "lbuttonup";
  case WM_RBUTTONDOWN:
    return "rbuttondown";
  case WM_RBUTTONUP:
    return "rbuttonup";
  case WM_MBUTTONDOWN:
    return "mbuttondown";
  case WM_MBUTTONUP:
    return "mbuttonup";
  case WM_LBUTTONDBLCLK:
    return "lbuttondblclk";
  default:
    return nullptr;
  }
}

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  const char* name = nullptr;
  switch (msg) {
  case WM_KEYDOWN:
    name = "keydown";
    break;
  case WM_KEYUP:
    name = "keyup";
    break;
  case WM_SYSKEYDOWN:
    name = "syskeydown";
    break;
  case WM_SYSKEYUP:
    name = "syskeyup";
    break;
  default:
    break;
  }
  if (name) {
    Line("%s win=%s vk=%02x scan=%02x", name, Which(window), static_cast<unsigned>(wParam),
         static_cast<unsigned>((lParam >> 16) & 0xFF));
    return DefWindowProcA(window, msg, wParam, lParam);
  }
  if (const char* mouse = MouseName(msg)) {
    int x = static_cast<short>(LOWORD(lParam));
    int y = static_cast<short>(HIWORD(lParam));
    Line("%s win=%s x=%d y=%d", mouse, Which(window), x, y);
    // A click gives a child the keys, as a text field would take them.
    if (msg == WM_LBUTTONDOWN && window == childWindow) SetFocus(window);
    return 0;
  }
  switch (msg) {
  case WM_CHAR:
  case WM_SYSCHAR:
    Line("%s win=%s code=%02x", msg == WM_CHAR ? "char" : "syschar", Which(window),
         static_cast<unsigned>(wParam));
    // Closing in the middle of a text, as a user might.
    if (charsBeforeClose > 0 && --charsBeforeClose == 0) {
      Line("closing");
      PostMessageA(topWindow, WM_CLOSE, 0, 0);
    }
    return 0;
  case WM_MOUSEMOVE: {
    int x = static_cast<short>(LOWORD(lParam));
    int y = static_cast<short>(HIWORD(lParam));
    if (x != lastMoveX || y != lastMoveY) Line("mousemove win=%s x=%d y=%d", Which(window), x, y);
    lastMoveX = x;
    lastMoveY = y;
    return 0;
  }
  case WM_SETFOCUS:
    Line("setfocus win=%s", Which(window));
    return 0;
  case WM_KILLFOCUS:
    Line("killfocus win=%s", Which(window));
    return 0;
  case WM_ACTIVATE:
    Line("activate win=%s state=%u", Which(window), static_cast<unsigned>(LOWORD(wParam)));
    break;
  case WM_TIMER:
    DestroyWindow(topWindow);
    return 0;
  case WM_DESTROY:
    if (window == topWindow) PostQuitMessage(0);
    return 0;
  default:
    break;
  }
  return DefWindowProcA(window, msg, wParam, lParam);
}

bool Register(const char* className) {
  WNDCLASSA wc{};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = className;
  // A second instance finds its class already there.
  return RegisterClassA(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

int Usage() {
  std::fprintf(stderr, "usage: testwin_win32 --log FILE --title TEXT [--class NAME] "
                       "[--child-title TEXT] [--child-class NAME] [--delay MS] "
                       "[--x N --y N --w N --h N] [--popup 1] [--quit-after S]\n");
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  const char* logName = nullptr;
  const char* title = nullptr;
  const char* className = "TapsterTestWindow";
  const char* childTitle = nullptr;
  const char* childClass = "TapsterTestChild";
  int delayMs = 0, x = 100, y = 100, w = 400, h = 300, quitAfter = 120;
  // A popup has no caption: offsets from its outer corner land in the client area.
  bool popup = false;
  for (int i = 1; i < argc; ++i) {
    if (i + 1 >= argc) return Usage();
    const char* opt = argv[i];
    const char* value = argv[++i];
    if (!std::strcmp(opt, "--log"))
      logName = value;
    else if (!std::strcmp(opt, "--title"))
      title = value;
    else if (!std::strcmp(opt, "--class"))
      className = value;
    else if (!std::strcmp(opt, "--child-title"))
      childTitle = value;
    else if (!std::strcmp(opt, "--child-class"))
      childClass = value;
    else if (!std::strcmp(opt, "--delay"))
      delayMs = std::atoi(value);
    else if (!std::strcmp(opt, "--x"))
      x = std::atoi(value);
    else if (!std::strcmp(opt, "--y"))
      y = std::atoi(value);
    else if (!std::strcmp(opt, "--w"))
      w = std::atoi(value);
    else if (!std::strcmp(opt, "--h"))
      h = std::atoi(value);
    else if (!std::strcmp(opt, "--quit-after"))
      quitAfter = std::atoi(value);
    else if (!std::strcmp(opt, "--close-after-chars"))
      charsBeforeClose = std::atoi(value);
    else if (!std::strcmp(opt, "--popup"))
      popup = std::atoi(value) != 0;
    else
      return Usage();
  }
  if (!logName || !title) return Usage();
  // Binary mode: plain LF lines for the tests that read them.
  logFile = std::fopen(logName, "wb");
  if (!logFile) {
    std::fprintf(stderr, "testwin_win32: cannot open %s\n", logName);
    return 1;
  }
  Line("started pid=%lu", GetCurrentProcessId());
  if (delayMs > 0) Sleep(static_cast<DWORD>(delayMs));

  if (!Register(className) || (childTitle && !Register(childClass))) {
    Line("error RegisterClassA %lu", GetLastError());
    return 1;
  }
  HINSTANCE instance = GetModuleHandleA(nullptr);
  topWindow =
      CreateWindowExA(0, className, title, popup ? WS_POPUP | WS_BORDER : WS_OVERLAPPEDWINDOW, x, y,
                      w, h, nullptr, nullptr, instance, nullptr);
  if (!topWindow) {
    Line("error CreateWindowExA %lu", GetLastError());
    return 1;
  }
  if (childTitle) {
    childWindow = CreateWindowExA(WS_EX_CLIENTEDGE, childClass, childTitle, WS_CHILD | WS_VISIBLE,
                                  20, 20, w / 2, h / 2, topWindow, nullptr, instance, nullptr);
    if (!childWindow) {
      Line("error CreateWindowExA child %lu", GetLastError());
      return 1;
    }
  }
  ShowWindow(topWindow, SW_SHOWNORMAL);
  UpdateWindow(topWindow);
  SetForegroundWindow(topWindow);
  // A stray window must not outlive its test run.
  if (quitAfter > 0) SetTimer(topWindow, 1, static_cast<UINT>(quitAfter) * 1000, nullptr);

  RECT rect;
  GetWindowRect(topWindow, &rect);
  POINT client{0, 0};
  ClientToScreen(topWindow, &client);
  Line("ready hwnd=%llx child=%llx rect=%ld,%ld,%ld,%ld client=%ld,%ld",
       static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(topWindow)),
       static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(childWindow)), rect.left,
       rect.top, rect.right, rect.bottom, client.x, client.y);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  Line("exit");
  std::fclose(logFile);
  return 0;
}
