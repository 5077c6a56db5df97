// inputfaultprobe [tapster arguments]: runs tapster's driver on the platform's desktop,
// and faults inside the desktop at the key event number INPUTFAULT_AFTER (1 = the first;
// a character typed as itself counts as one)
// as INPUTFAULT says:
//   crash0 / crash1 / crash2  CrashMe with that mode
//   segv                      a write through a null pointer
#include "app/driver.h"
#include "errlog/stacktrace.h"
#include "platform/desktop.h"

#include <cstdlib>
#include <cstring>

namespace {

int* volatile null_pointer = nullptr;

// The undefined-behaviour sanitizer would stop the write before it faults.
[[gnu::noinline, gnu::no_sanitize("undefined")]] void WriteThroughNull() {
  *null_pointer = 1;
}

// The platform's desktop, with a fault at one key event.
class FaultingDesktop final : public Desktop {
public:
  FaultingDesktop(Desktop& real, const char* fault, long after)
      : d_(real), fault_(fault), after_(after) {}

  HWND_T FindWindowA(const char* c, const char* t) override { return d_.FindWindowA(c, t); }
  bool EnumWindows(WinEnumProc p, std::intptr_t a) override { return d_.EnumWindows(p, a); }
  bool EnumChildWindows(HWND_T w, WinEnumProc p, std::intptr_t a) override {
    return d_.EnumChildWindows(w, p, a);
  }
  int GetWindowTextA(HWND_T w, char* b, int n) override { return d_.GetWindowTextA(w, b, n); }
  int GetClassNameA(HWND_T w, char* b, int n) override { return d_.GetClassNameA(w, b, n); }
  U4 GetWindowThreadProcessId(HWND_T w, U4* pid) override {
    return d_.GetWindowThreadProcessId(w, pid);
  }
  bool IsWindow(HWND_T w) override { return d_.IsWindow(w); }
  HWND_T GetForegroundWindow() override { return d_.GetForegroundWindow(); }
  bool GetWindowPlacement(HWND_T w, WinPlacement* p) override {
    return d_.GetWindowPlacement(w, p);
  }
  bool SetWindowPos(HWND_T w, HWND_T after, int x, int y, int cx, int cy, U4 f) override {
    return d_.SetWindowPos(w, after, x, y, cx, cy, f);
  }
  bool ShowWindow(HWND_T w, int cmd) override { return d_.ShowWindow(w, cmd); }
  HWND_T GetFocus() override { return d_.GetFocus(); }
  HWND_T SetFocus(HWND_T w) override { return d_.SetFocus(w); }
  bool GetWindowRect(HWND_T w, WinRect* r) override { return d_.GetWindowRect(w, r); }
  I2 GetKeyState(int vk) override { return d_.GetKeyState(vk); }
  int GetSystemMetrics(int i) override { return d_.GetSystemMetrics(i); }
  U4 MapVirtualKeyA(U4 code, U4 type) override { return d_.MapVirtualKeyA(code, type); }
  void keybd_event(U1 vk, U1 scan, U4 flags, std::uintptr_t extra) override {
    if (++events_ == after_) Fault();
    d_.keybd_event(vk, scan, flags, extra);
  }
  U4 SendInput(U4 n, const MouseInputRecord* in, int size) override {
    return d_.SendInput(n, in, size);
  }
  bool GetCursorPos(WinPoint* p) override { return d_.GetCursorPos(p); }
  int ProcessMessages() override { return d_.ProcessMessages(); }
  void ReturnLentKeys() override { d_.ReturnLentKeys(); }
  void BeginText(HWND_T w) override { d_.BeginText(w); }
  bool KeyTypes(U1 vk, bool shift, bool caps, U4 ch) override {
    return d_.KeyTypes(vk, shift, caps, ch);
  }
  bool LayoutKeyFor(U4 ch, bool caps, LayoutKey* key) override {
    return d_.LayoutKeyFor(ch, caps, key);
  }
  bool TypeUnicodeChar(U4 ch) override {
    if (++events_ == after_) Fault();
    return d_.TypeUnicodeChar(ch);
  }
  bool EndText() override { return d_.EndText(); }

private:
  void Fault() {
    if (std::strncmp(fault_, "crash", 5) == 0) CrashMe("FaultingDesktop", fault_[5] - '0');
    if (std::strcmp(fault_, "segv") == 0) WriteThroughNull();
  }

  Desktop& d_;
  const char* fault_;
  long after_;
  long events_ = 0;
};

} // namespace

int main(int argc, char** argv) {
  const char* fault = std::getenv("INPUTFAULT");
  const char* after = std::getenv("INPUTFAULT_AFTER");
  static FaultingDesktop desktop(PlatformDesktop(), fault ? fault : "",
                                 after ? std::atol(after) : 0);
  SetDesktop(&desktop);
  return TapsterMain(argc, argv);
}
