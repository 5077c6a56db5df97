// Frontwin <window> [True|False]: brings the window with that handle (decimal) to the front
// and, with "True", gives it the keyboard focus. Status 0 when the window is in front
// afterwards, 1 when it did not come forward, 2 for a bad handle or arguments.
#include "platform/desktop.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

constexpr int kWaitMsecs = 2000;

HWND_T wanted = 0;
bool inside = false;

int FindWanted(HWND_T window, std::intptr_t) {
  inside = window == wanted;
  return inside ? 0 : 1;
}

// The window is the foreground window or lies inside it.
bool InFront(Desktop& d, HWND_T window) {
  HWND_T front = d.GetForegroundWindow();
  if (!front) return false;
  if (front == window) return true;
  wanted = window;
  inside = false;
  d.EnumChildWindows(front, FindWanted, 0);
  return inside;
}

bool ParseHandle(const char* text, HWND_T* window) {
  if (!text || !*text || std::strspn(text, "0123456789") != std::strlen(text)) return false;
  *window = static_cast<HWND_T>(std::strtoull(text, nullptr, 10));
  return *window != 0;
}

bool IsTrue(const char* text) {
  return text && (text[0] | 0x20) == 't';
}

} // namespace

int main(int argc, char** argv) {
  HWND_T window = 0;
  if (argc < 2 || argc > 3 || !ParseHandle(argv[1], &window)) {
    std::fprintf(stderr, "usage: Frontwin <window handle> [True|False]\n");
    return 2;
  }
  bool focus = argc > 2 && IsTrue(argv[2]);
  Desktop& d = PlatformDesktop();
  if (!d.IsWindow(window)) {
    std::fprintf(stderr, "Frontwin: %s is no window\n", argv[1]);
    return 2;
  }
  WinPlacement placement;
  placement.length = sizeof placement;
  if (!d.GetWindowPlacement(window, &placement)) placement.showCmd = 5; // SW_SHOW
  d.SetWindowPos(window, kHwndTopmost, 0, 0, 0, 0, kSwpNoSize | kSwpNoMove);
  d.SetWindowPos(window, kHwndNotopmost, 0, 0, 0, 0, kSwpNoSize | kSwpNoMove | kSwpShowWindow);
  int showCmd = static_cast<int>(placement.showCmd);
  d.ShowWindow(window, showCmd == kSwShowMinimized ? kSwRestore : showCmd);
  // Raising alone does not make a window the foreground window everywhere; taking the
  // focus does.
  if (focus || !InFront(d, window)) d.SetFocus(window);
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMsecs);
  while (!InFront(d, window)) {
    if (std::chrono::steady_clock::now() > end) {
      std::fprintf(stderr, "Frontwin: window %s did not come to the front\n", argv[1]);
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}
