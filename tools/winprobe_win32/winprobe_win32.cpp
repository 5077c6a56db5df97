// Drives the desktop layer by hand: finds a window, brings it forward and sends input.
//   winprobe_win32 find TITLE                 prints the handle, class and rectangle
//   winprobe_win32 key TITLE VK [UD]          press (1), release (2) or both (3, default)
//   winprobe_win32 click TITLE Y X            left click at (X, Y) of the outer window
//   winprobe_win32 caps TITLE                 toggles CapsLock, prints the state around it
//   winprobe_win32 state VK                   prints GetKeyState
// Exit status 0 on success, 1 on failure.
#include "platform/desktop.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HWND_T Front(Desktop& d, const char* title) {
  HWND_T w = d.FindWindowA(nullptr, title);
  if (!w) {
    std::printf("not found\n");
    return 0;
  }
  WinPlacement placement;
  placement.length = sizeof placement;
  if (!d.GetWindowPlacement(w, &placement)) placement.showCmd = 5;
  d.SetWindowPos(w, kHwndTopmost, 0, 0, 0, 0, kSwpNoSize | kSwpNoMove);
  d.SetWindowPos(w, kHwndNotopmost, 0, 0, 0, 0, kSwpNoSize | kSwpNoMove | kSwpShowWindow);
  d.ShowWindow(w, placement.showCmd == 2 ? kSwRestore : static_cast<int>(placement.showCmd));
  HWND_T focus = d.GetFocus();
  HWND_T before = focus == w ? w : d.SetFocus(w);
  std::printf("focus before=%llx setfocus=%llx foreground=%llx\n",
              static_cast<unsigned long long>(focus), static_cast<unsigned long long>(before),
              static_cast<unsigned long long>(d.GetForegroundWindow()));
  return w;
}

} // namespace

int main(int argc, char** argv) {
  Desktop& d = PlatformDesktop();
  if (argc >= 3 && !std::strcmp(argv[1], "find")) {
    HWND_T w = d.FindWindowA(nullptr, argv[2]);
    if (!w) {
      std::printf("not found\n");
      return 1;
    }
    char cls[256];
    d.GetClassNameA(w, cls, sizeof cls);
    WinRect r;
    d.GetWindowRect(w, &r);
    U4 pid = 0;
    d.GetWindowThreadProcessId(w, &pid);
    std::printf("hwnd=%llx class=%s rect=%d,%d,%d,%d pid=%u\n", static_cast<unsigned long long>(w),
                cls, r.left, r.top, r.right, r.bottom, pid);
    return 0;
  }
  if (argc >= 4 && !std::strcmp(argv[1], "key")) {
    if (!Front(d, argv[2])) return 1;
    U1 vk = static_cast<U1>(std::strtoul(argv[3], nullptr, 0));
    int ud = argc >= 5 ? std::atoi(argv[4]) : 3;
    U1 scan = static_cast<U1>(d.MapVirtualKeyA(vk, 0));
    if (ud & 1) d.keybd_event(vk, scan, 0, 0);
    if (ud & 2) d.keybd_event(vk, scan, kKeyEventfKeyUp, 0);
    return 0;
  }
  if (argc >= 5 && !std::strcmp(argv[1], "click")) {
    HWND_T w = Front(d, argv[2]);
    if (!w) return 1;
    WinRect r;
    if (!d.GetWindowRect(w, &r)) return 1;
    int cx = d.GetSystemMetrics(kSmCxScreen), cy = d.GetSystemMetrics(kSmCyScreen);
    MouseInputRecord in;
    in.dx = (r.left + std::atoi(argv[4])) * 65535 / (cx - 1);
    in.dy = (r.top + std::atoi(argv[3])) * 65535 / (cy - 1);
    in.dwFlags =
        kMouseEventfMove | kMouseEventfAbsolute | kMouseEventfLeftDown | kMouseEventfLeftUp;
    U4 sent = d.SendInput(1, &in, sizeof in);
    WinPoint p;
    d.GetCursorPos(&p);
    std::printf("sent=%u cursor=%d,%d\n", sent, p.x, p.y);
    return sent == 1 ? 0 : 1;
  }
  if (argc >= 3 && !std::strcmp(argv[1], "caps")) {
    // Toggles CapsLock and shows whether this thread sees the new state at once.
    if (!Front(d, argv[2])) return 1;
    I2 before = d.GetKeyState(kVkCapital);
    d.keybd_event(kVkCapital, 0x3a, 0, 0);
    d.keybd_event(kVkCapital, 0x3a, kKeyEventfKeyUp, 0);
    std::printf("capslock before=%d after=%d\n", before, d.GetKeyState(kVkCapital));
    return 0;
  }
  if (argc >= 3 && !std::strcmp(argv[1], "state")) {
    std::printf("%d\n", d.GetKeyState(static_cast<int>(std::strtoul(argv[2], nullptr, 0))));
    return 0;
  }
  std::fprintf(stderr, "usage: winprobe_win32 find|key|click|state ...\n");
  return 2;
}
