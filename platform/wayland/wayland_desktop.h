// The Wayland desktop's shared state: one class, its members spread over files by job
// (connection, toplevels and activation, keymap, keyboard, pointer).
//
// Requests are only flushed while keys go out; a round trip before every chunk of text
// makes sure the target is still there and still has the focus, so that at most one chunk
// can land elsewhere when it closes.
#pragma once
#include "platform/wayland/desktop_wayland.h"

#include <wayland-client.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;
struct xkb_context;
struct xkb_keymap;
struct xkb_state;

using SteadyClock = std::chrono::steady_clock;

// Event times: milliseconds of a clock that only goes forward.
inline std::uint32_t NowMsecs() {
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now().time_since_epoch())
          .count());
}

struct Toplevel {
  HWND_T id = 0;
  zwlr_foreign_toplevel_handle_v1* handle = nullptr;
  std::string title, appId;
  bool activated = false, minimized = false, maximized = false;
  bool listed = false; // its first "done" came: title and state are known
  bool closed = false;
};

// One key of our own keymap: its key code and what it stands for.
struct OwnKey {
  std::uint32_t keysym = 0;
  U1 vk = 0;          // the virtual key it answers, 0 for a character key
  unsigned mods = 0;  // the modifier it sets, as an xkb modifier mask
  bool locks = false; // a lock key (CapsLock, NumLock)
};

inline constexpr std::size_t kPointerButtons = 3; // left, right, middle

class WaylandDesktop final : public Desktop {
public:
  explicit WaylandDesktop(const char* displayName);
  ~WaylandDesktop() override;
  WaylandDesktop(const WaylandDesktop&) = delete;
  WaylandDesktop& operator=(const WaylandDesktop&) = delete;

  const std::string& Problem() const { return problem_; }
  bool Connected() const { return display_ != nullptr; }

  HWND_T FindWindowA(const char* className, const char* title) override;
  bool EnumWindows(WinEnumProc proc, std::intptr_t param) override;
  bool EnumChildWindows(HWND_T parent, WinEnumProc proc, std::intptr_t param) override;
  int GetWindowTextA(HWND_T window, char* buffer, int maxCount) override;
  int GetClassNameA(HWND_T window, char* buffer, int maxCount) override;
  U4 GetWindowThreadProcessId(HWND_T window, U4* pid) override;
  bool IsWindow(HWND_T window) override;
  HWND_T GetForegroundWindow() override;
  bool GetWindowPlacement(HWND_T window, WinPlacement* placement) override;
  bool SetWindowPos(HWND_T window, HWND_T insertAfter, int x, int y, int cx, int cy,
                    U4 flags) override;
  bool ShowWindow(HWND_T window, int showCmd) override;
  HWND_T GetFocus() override;
  HWND_T SetFocus(HWND_T window) override;
  bool GetWindowRect(HWND_T window, WinRect* rect) override;
  I2 GetKeyState(int virtualKey) override;
  int GetSystemMetrics(int index) override;
  U4 MapVirtualKeyA(U4 code, U4 mapType) override;
  void keybd_event(U1 virtualKey, U1 scanCode, U4 flags, std::uintptr_t extraInfo) override;
  U4 SendInput(U4 count, const MouseInputRecord* inputs, int recordSize) override;
  bool GetCursorPos(WinPoint* point) override;
  int ProcessMessages() override;
  void BeginText(HWND_T window) override;
  bool KeyTypes(U1 vk, bool shift, bool capsLock, U4 ch) override;
  bool TypeUnicodeChar(U4 ch) override;
  bool EndText() override;
  bool AcquireInputLock(U4 timeoutMsecs) override;
  void ReleaseInputLock() override;

  // Listener entries.
  void OnGlobal(wl_registry* registry, std::uint32_t name, const char* interface,
                std::uint32_t version);
  void OnGlobalRemove(std::uint32_t name);
  void OnToplevel(zwlr_foreign_toplevel_handle_v1* handle);
  Toplevel* ToplevelOf(zwlr_foreign_toplevel_handle_v1* handle);
  void OnCapabilities(std::uint32_t caps) { seatCaps_ = caps; }
  void OnOutputMode(std::uint32_t flags, int width, int height);
  void OnOutputScale(int scale) { outputScale_ = scale > 0 ? scale : 1; }
  void OnKeymapEcho() { ++keymapEchoes_; }

private:
  // Connection (connection_wayland.cpp).
  bool Connect(const char* displayName);
  // True when usable; else the problem goes on the error stack.
  bool Ready();
  // Read and handle what the compositor sent, without waiting.
  void Pump();
  bool RoundTrip();
  bool Flush();
  bool PushBroken(const char* call);
  // What a fault handler gives back, and how (faultrelease_wayland.cpp).
  void ArmFaultRelease();
  void DisarmFaultRelease();
  void NoteButtonsSent(); // after a flush that took the pointer's buttons
  // Wait up to ms for done() while handling events; false at the limit or on a broken link.
  template <class Done> bool WaitFor(int ms, Done done) {
    SteadyClock::time_point end = SteadyClock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - SteadyClock::now());
      if (left.count() <= 0 || !WaitEvents(static_cast<int>(left.count()))) return false;
    }
    return true;
  }
  bool WaitEvents(int ms);

  // Toplevels (toplevels_wayland.cpp).
  void ListenToplevels();
  // A listed, open toplevel, null for none.
  Toplevel* Find(HWND_T window);
  Toplevel* Active();

  // Keymap and keyboard (keymap_wayland.cpp, keyboard_wayland.cpp).
  void BuildKeymap();
  std::uint32_t KeycodeForVk(U1 vk) const;
  std::uint32_t KeycodeForChar(U4 ch) const;
  // Made as soon as we are connected, so that the clients take the new keyboard while the
  // window is looked up and activated; EnsureKeyboard waits for what can be seen of that.
  void StartKeyboard();
  bool EnsureKeyboard();
  void SendKey(std::uint32_t keycode, bool down);
  void SendModifiersIfChanged();
  void ReleaseAllKeys();
  // Before a chunk of text: the target still exists and still has the focus.
  bool TextTargetStillThere();

  // Pointer (pointer_wayland.cpp).
  bool EnsurePointer();

  std::string problem_;
  std::string name_;
  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  wl_seat* seat_ = nullptr;
  std::uint32_t seatCaps_ = 0;
  // Ours is the seat's first keyboard: its clients make their keyboards only as they learn of it.
  bool firstKeyboard_ = false;
  wl_output* output_ = nullptr;
  int outputWidth_ = 0, outputHeight_ = 0, outputScale_ = 1;
  zwlr_foreign_toplevel_manager_v1* toplevelManager_ = nullptr;
  zwp_virtual_keyboard_manager_v1* keyboardManager_ = nullptr;
  zwlr_virtual_pointer_manager_v1* pointerManager_ = nullptr;
  bool broken_ = false;
  bool faultArmed_ = false;

  std::vector<Toplevel> toplevels_;
  HWND_T nextId_ = 1;

  xkb_context* xkb_ = nullptr;
  xkb_keymap* keymap_ = nullptr;
  xkb_state* keyState_ = nullptr;
  std::string keymapText_;
  std::vector<OwnKey> keys_; // key code i + kFirstKeycode
  std::vector<bool> keyDown_;
  std::uint32_t sentMods_[4] = {};
  zwp_virtual_keyboard_v1* keyboard_ = nullptr;
  wl_keyboard* echoKeyboard_ = nullptr; // ours: tells that the compositor took the keymap
  int keymapEchoes_ = 0;
  bool keyboardReady_ = false;
  std::string keyboardProblem_;

  zwlr_virtual_pointer_v1* pointer_ = nullptr;
  bool pointerFailed_ = false;
  bool pointerKnown_ = false;
  std::uint32_t buttonsDown_[kPointerButtons] = {}; // evdev codes of those held, else 0
  WinPoint pointerAt_;

  int lockFd_ = -1; // the display's lock file (inputlock_wayland.cpp)
  bool lockHeld_ = false;

  HWND_T textTarget_ = 0;
  bool inText_ = false;
  int chunkLeft_ = 0;
  SteadyClock::time_point chunkStart_{};
};

inline constexpr std::uint32_t kFirstKeycode = 9; // xkb key codes; evdev code + 8
inline constexpr int kTextChunk = 16;             // characters between two target checks
inline constexpr int kChunkMsecs = 4;             // the shortest time one chunk takes
inline constexpr int kActivateMsecs = 1000;
// Time given to a keyboard-less seat's clients to make their keyboards once ours appears.
inline constexpr int kFirstKeyboardSettleMsecs = 300;
