// The Wayland keyboard: a virtual keyboard with our own keymap, made ready before its first
// key, modifier state kept as the compositor sees it, and text sent in checked chunks.
#include "platform/wayland/wayland_desktop.h"

#include "errlog/errstack.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {

void EchoKeymap(void* data, wl_keyboard*, std::uint32_t, int fd, std::uint32_t) {
  close(fd);
  static_cast<WaylandDesktop*>(data)->OnKeymapEcho();
}
void EchoEnter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
void EchoLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void EchoKey(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void EchoModifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                   std::uint32_t) {}
void EchoRepeat(void*, wl_keyboard*, int, int) {}
const wl_keyboard_listener kEchoListener = {EchoKeymap, EchoEnter,     EchoLeave,
                                            EchoKey,    EchoModifiers, EchoRepeat};

// The keymap as a file the compositor can map.
int KeymapFile(const std::string& text) {
  int fd = memfd_create("tapster-keymap", MFD_CLOEXEC);
  if (fd < 0) return -1;
  const char* p = text.c_str();
  std::size_t left = text.size() + 1;
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n <= 0) {
      close(fd);
      return -1;
    }
    p += n, left -= static_cast<std::size_t>(n);
  }
  return fd;
}

} // namespace

void WaylandDesktop::StartKeyboard() {
  BuildKeymap();
  if (!keyState_) {
    keyboardProblem_ = "Wayland: xkbcommon did not compile the keymap of the keys to type";
    return;
  }
  int fd = KeymapFile(keymapText_);
  if (fd < 0) {
    keyboardProblem_ = "Wayland: memfd_create failed for the keymap";
    return;
  }
  firstKeyboard_ = (seatCaps_ & WL_SEAT_CAPABILITY_KEYBOARD) == 0;
  keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboardManager_, seat_);
  zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                 static_cast<std::uint32_t>(keymapText_.size() + 1));
  close(fd);
  wl_display_flush(display_);
}

bool WaylandDesktop::EnsureKeyboard() {
  if (keyboardReady_) return true;
  if (!keyboard_ && keyboardProblem_.empty()) StartKeyboard();
  if (!keyboardProblem_.empty()) {
    SeMErrMult(keyboardProblem_.c_str(), nullptr);
    return false;
  }
  // Keys sent before the seat has a keyboard, and before the clients have taken it and its
  // keymap, are lost: wait until the compositor shows the keyboard to us as to any client,
  // and has sent us the keymap; the clients got theirs in the same turn.
  bool ready =
      WaitFor(kActivateMsecs * 2, [&] { return (seatCaps_ & WL_SEAT_CAPABILITY_KEYBOARD) != 0; });
  // A seat that had a keyboard before ours may have none active when we get our turn (the
  // last one went away with an earlier run) and then sends no keymap; our first key makes
  // ours the seat's, and its keymap reaches every client ahead of the key.
  if (ready && firstKeyboard_ && !echoKeyboard_) {
    echoKeyboard_ = wl_seat_get_keyboard(seat_);
    wl_keyboard_add_listener(echoKeyboard_, &kEchoListener, this);
  }
  if (ready && firstKeyboard_)
    ready = WaitFor(kActivateMsecs * 2, [&] { return keymapEchoes_ > 0; });
  ready = ready && RoundTrip();
  if (!ready) {
    keyboardProblem_ = "Wayland: the compositor did not take our virtual keyboard";
    if (!ErrSet) SeMErrMult(keyboardProblem_.c_str(), nullptr);
    return false;
  }
  // A client asks for its keyboard only after it has read that the seat has one, and keys
  // sent before that reach no one; nothing shows when the slowest client has done so.
  if (firstKeyboard_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kFirstKeyboardSettleMsecs));
    if (!RoundTrip()) return false;
  }
  keyboardReady_ = true;
  return true;
}

void WaylandDesktop::SendModifiersIfChanged() {
  std::uint32_t now[4] = {
      xkb_state_serialize_mods(keyState_, XKB_STATE_MODS_DEPRESSED),
      xkb_state_serialize_mods(keyState_, XKB_STATE_MODS_LATCHED),
      xkb_state_serialize_mods(keyState_, XKB_STATE_MODS_LOCKED),
      xkb_state_serialize_layout(keyState_, XKB_STATE_LAYOUT_EFFECTIVE),
  };
  if (std::equal(now, now + 4, sentMods_)) return;
  std::copy(now, now + 4, sentMods_);
  zwp_virtual_keyboard_v1_modifiers(keyboard_, now[0], now[1], now[2], now[3]);
}

void WaylandDesktop::SendKey(std::uint32_t keycode, bool down) {
  std::size_t i = keycode - kFirstKeycode;
  zwp_virtual_keyboard_v1_key(keyboard_, NowMsecs(), keycode - 8,
                              down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                   : WL_KEYBOARD_KEY_STATE_RELEASED);
  if (i < keyDown_.size()) keyDown_[i] = down;
  xkb_state_update_key(keyState_, keycode, down ? XKB_KEY_DOWN : XKB_KEY_UP);
  SendModifiersIfChanged();
}

void WaylandDesktop::ReleaseAllKeys() {
  if (!keyboard_) return;
  for (std::size_t i = keyDown_.size(); i-- > 0;)
    if (keyDown_[i]) SendKey(kFirstKeycode + static_cast<std::uint32_t>(i), false);
  Flush();
}

bool WaylandDesktop::TextTargetStillThere() {
  if (--chunkLeft_ > 0) return true;
  chunkLeft_ = kTextChunk;
  // The compositor passes keys on as fast as they come and drops a client that falls too
  // far behind in reading them: a text goes no faster than a chunk per kChunkMsecs.
  SteadyClock::time_point due = chunkStart_ + std::chrono::milliseconds(kChunkMsecs);
  if (SteadyClock::now() < due) std::this_thread::sleep_until(due);
  chunkStart_ = SteadyClock::now();
  if (!RoundTrip()) return false;
  if (!textTarget_) return true;
  Toplevel* t = Find(textTarget_);
  if (t && t->activated) return true;
  const std::string& title =
      textTarget_ - 1 < toplevels_.size() ? toplevels_[textTarget_ - 1].title : "";
  SeMErrMult("Text: the window \"", title.c_str(), t ? "\" lost the focus" : "\" closed",
             " before the text was sent whole; the rest was not sent", nullptr);
  return false;
}

void WaylandDesktop::BeginText(HWND_T window) {
  textTarget_ = window;
  inText_ = true;
  chunkLeft_ = 1; // the first character checks
}

bool WaylandDesktop::KeyTypes(U1, bool, bool, U4) {
  // Characters go through keys of their own, which no modifier changes.
  return false;
}

bool WaylandDesktop::TypeUnicodeChar(U4 ch) {
  if (!Ready() || !EnsureKeyboard()) return false;
  std::uint32_t code = KeycodeForChar(ch);
  if (!code) return false;
  if (inText_ && !TextTargetStillThere()) return false;
  SendKey(code, true);
  SendKey(code, false);
  return inText_ || Flush();
}

bool WaylandDesktop::EndText() {
  if (!inText_) return true;
  inText_ = false;
  textTarget_ = 0;
  if (!problem_.empty() || broken_ || !keyboard_) return !ErrSet;
  // Taken by the compositor: what follows (a window closing, the program ending) comes after.
  return RoundTrip() && !ErrSet;
}

void WaylandDesktop::keybd_event(U1 virtualKey, U1 scanCode, U4 flags, std::uintptr_t) {
  if (!Ready() || !EnsureKeyboard()) return;
  std::uint32_t code = virtualKey ? KeycodeForVk(virtualKey) : scanCode ? scanCode + 8u : 0;
  if (!code || code - kFirstKeycode >= keys_.size()) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", virtualKey);
    SeMErrMult("keybd_event: no key for the virtual-key code ", text, nullptr);
    return;
  }
  bool down = !(flags & kKeyEventfKeyUp);
  // A release always goes out: it may be what frees a key after a failure.
  if (down && inText_ && !TextTargetStillThere()) return;
  SendKey(code, down);
  if (!inText_) Flush();
}

I2 WaylandDesktop::GetKeyState(int virtualKey) {
  if (!problem_.empty() || virtualKey <= 0 || virtualKey > 255) return 0;
  if (keys_.empty()) BuildKeymap();
  std::uint32_t code = KeycodeForVk(static_cast<U1>(virtualKey));
  if (!code || !keyState_) return 0;
  bool down = keyDown_[code - kFirstKeycode];
  bool toggled = false;
  if (keys_[code - kFirstKeycode].locks)
    toggled = xkb_state_serialize_mods(keyState_, XKB_STATE_MODS_LOCKED) &
              keys_[code - kFirstKeycode].mods;
  return static_cast<I2>((down ? 0xFF80 : 0) | (toggled ? 1 : 0));
}

U4 WaylandDesktop::MapVirtualKeyA(U4 code, U4 mapType) {
  if (!problem_.empty() || code > 255) return 0;
  if (keys_.empty()) BuildKeymap();
  if (mapType == 0 || mapType == 3) {
    std::uint32_t kc = KeycodeForVk(static_cast<U1>(code));
    return kc ? kc - 8 : 0;
  }
  if (mapType == 1) {
    std::size_t i = code + 8 - kFirstKeycode;
    return i < keys_.size() ? keys_[i].vk : 0;
  }
  return 0;
}
