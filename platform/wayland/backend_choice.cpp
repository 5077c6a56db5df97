// The desktop of this session, chosen once at start: Wayland when WAYLAND_DISPLAY names a
// compositor, X11 otherwise; TAPSTER_BACKEND=x11|wayland forces one.
#include "platform/wayland/wayland_desktop.h"
#include "platform/x11/desktop_x11.h"

#include "errlog/errstack.h"

#include <cstdlib>
#include <cstring>

namespace {

// A desktop that only says why there is none.
class NoDesktop final : public Desktop {
public:
  explicit NoDesktop(std::string why) : why_(std::move(why)) {}
  HWND_T FindWindowA(const char*, const char*) override { return Fail(0); }
  bool EnumWindows(WinEnumProc, std::intptr_t) override { return Fail(false); }
  bool EnumChildWindows(HWND_T, WinEnumProc, std::intptr_t) override { return Fail(false); }
  int GetWindowTextA(HWND_T, char* b, int n) override { return (b && n > 0 ? *b = 0 : 0), 0; }
  int GetClassNameA(HWND_T, char* b, int n) override { return (b && n > 0 ? *b = 0 : 0), 0; }
  U4 GetWindowThreadProcessId(HWND_T, U4* pid) override { return (pid ? *pid = 0 : 0), 0; }
  bool IsWindow(HWND_T) override { return false; }
  HWND_T GetForegroundWindow() override { return 0; }
  bool GetWindowPlacement(HWND_T, WinPlacement*) override { return Fail(false); }
  bool SetWindowPos(HWND_T, HWND_T, int, int, int, int, U4) override { return Fail(false); }
  bool ShowWindow(HWND_T, int) override { return Fail(false); }
  HWND_T GetFocus() override { return 0; }
  HWND_T SetFocus(HWND_T) override { return Fail(0); }
  bool GetWindowRect(HWND_T, WinRect*) override { return Fail(false); }
  I2 GetKeyState(int) override { return 0; }
  int GetSystemMetrics(int) override { return 0; }
  U4 MapVirtualKeyA(U4, U4) override { return 0; }
  void keybd_event(U1, U1, U4, std::uintptr_t) override { Fail(0); }
  U4 SendInput(U4, const MouseInputRecord*, int) override { return Fail(0); }
  bool GetCursorPos(WinPoint*) override { return Fail(false); }
  bool TypeUnicodeChar(U4) override { return Fail(false); }

private:
  template <class T> T Fail(T value) {
    SeMErrMult(why_.c_str(), nullptr);
    return value;
  }
  std::string why_;
};

bool Set(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

std::unique_ptr<Desktop> Choose(std::unique_ptr<WaylandDesktop>* wayland) {
  const char* forced = std::getenv("TAPSTER_BACKEND");
  if (forced && *forced) {
    if (!std::strcmp(forced, "x11")) return MakeX11Desktop();
    if (!std::strcmp(forced, "wayland")) return nullptr;
    return std::make_unique<NoDesktop>(std::string("TAPSTER_BACKEND=") + forced +
                                       ": the backends are x11 and wayland");
  }
  if (!Set("WAYLAND_DISPLAY")) return MakeX11Desktop();
  *wayland = MakeWaylandDesktop();
  // A Wayland display that is not there (a session variable left behind) leaves X11; one
  // that is there but lacks the protocols says so rather than finding nothing.
  if (!(*wayland)->Connected() && Set("DISPLAY")) {
    wayland->reset();
    return MakeX11Desktop();
  }
  return nullptr;
}

} // namespace

Desktop& PlatformDesktop() {
  static std::unique_ptr<WaylandDesktop> wayland;
  static std::unique_ptr<Desktop> other = Choose(&wayland);
  if (other) return *other;
  if (!wayland) wayland = MakeWaylandDesktop();
  return *wayland;
}
