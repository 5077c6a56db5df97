// The X11 keyboard: virtual-key codes to key codes, lent key codes, key state and
// injected key events.
#include "platform/x11/x11desktop.h"

#include "errlog/errstack.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {
constexpr int kVkControl = 0x11, kVkMenu = 0x12, kVkNumlock = 0x90;
} // namespace

void X11Desktop::LoadKeyboard() {
  XDisplayKeycodes(dpy_, &minKeycode_, &maxKeycode_);
  int count = maxKeycode_ - minKeycode_ + 1;
  KeySym* syms = XGetKeyboardMapping(dpy_, static_cast<KeyCode>(minKeycode_), count, &symsPerCode_);
  if (!syms) {
    // The connection broke: an empty map lends nothing and finds no key.
    maxKeycode_ = minKeycode_ - 1;
    symsPerCode_ = 0;
    keymap_.clear();
    Lost();
    return;
  }
  keymap_.assign(syms, syms + static_cast<std::size_t>(count) * symsPerCode_);
  XFree(syms);
  if (modmap_) XFreeModifiermap(modmap_);
  modmap_ = XGetModifierMapping(dpy_);
  std::fill(std::begin(vkCodes_), std::end(vkCodes_), KeyCode{0});
  LoadLayout();
  keyboardLoaded_ = true;
}

void X11Desktop::RefreshKeyboardIfChanged() {
  // Mapping changes are announced to every client, this one included, and land in the
  // local queue with the replies; looking there costs no input or output.
  XEvent e;
  bool changed = false;
  while (XEventsQueued(dpy_, QueuedAlready) > 0) {
    XNextEvent(dpy_, &e);
    if (e.type == MappingNotify && e.xmapping.request != MappingPointer) changed = true;
  }
  if (changed || !keyboardLoaded_) LoadKeyboard();
}

KeyCode X11Desktop::KeycodeForKeysym(KeySym keysym, bool report) {
  int count = maxKeycode_ - minKeycode_ + 1;
  for (int i = 0; i < count; ++i)
    if (keymap_[static_cast<std::size_t>(i) * symsPerCode_] == keysym)
      return static_cast<KeyCode>(minKeycode_ + i);

  // No key gives the symbol unshifted: lend it a key code that has no symbols at all.
  for (int i = count; i-- > 0;) {
    KeySym* row = &keymap_[static_cast<std::size_t>(i) * symsPerCode_];
    if (!std::all_of(row, row + symsPerCode_, [](KeySym s) { return s == NoSymbol; })) continue;
    std::vector<KeySym> syms(static_cast<std::size_t>(symsPerCode_), NoSymbol);
    syms[0] = keysym;
    if (symsPerCode_ > 1) {
      KeySym shifted = X11ShiftedKeysym(keysym);
      if (shifted) syms[1] = shifted;
    }
    KeyCode code = static_cast<KeyCode>(minKeycode_ + i);
    unsigned long mark = Mark();
    XChangeKeyboardMapping(dpy_, code, symsPerCode_, syms.data(), 1);
    XErrorRecord error;
    if (Failed(mark, &error)) {
      if (report) PushXError("XChangeKeyboardMapping", error, 0);
      return 0;
    }
    std::copy(syms.begin(), syms.end(), row);
    spareBound_.push_back(code);
    NoteLentKeys();
    return code;
  }
  if (spareBound_.empty()) {
    if (report) {
      const char* name = XKeysymToString(keysym);
      SeMErrMult("keybd_event: no free key code for the key symbol ", name ? name : "?", nullptr);
    }
    return 0;
  }
  // All lent codes are taken: lend the oldest again, once its last event had time to be read.
  KeyCode code = spareBound_[recycle_++ % spareBound_.size()];
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::vector<KeySym> syms(static_cast<std::size_t>(symsPerCode_), NoSymbol);
  syms[0] = keysym;
  if (symsPerCode_ > 1 && X11ShiftedKeysym(keysym)) syms[1] = X11ShiftedKeysym(keysym);
  unsigned long mark = Mark();
  XChangeKeyboardMapping(dpy_, code, symsPerCode_, syms.data(), 1);
  XErrorRecord error;
  if (Failed(mark, &error)) {
    if (report) PushXError("XChangeKeyboardMapping", error, 0);
    return 0;
  }
  std::copy(syms.begin(), syms.end(),
            &keymap_[static_cast<std::size_t>(code - minKeycode_) * symsPerCode_]);
  for (KeyCode& c : vkCodes_)
    if (c == code) c = 0;
  return code;
}

KeyCode X11Desktop::KeycodeForVk(U1 vk, bool report) {
  RefreshKeyboardIfChanged();
  if (vkCodes_[vk]) return vkCodes_[vk];
  KeySym keysym = X11KeysymForVk(vk);
  if (!keysym) {
    if (report) {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02X", vk);
      SeMErrMult("keybd_event: no X key for the virtual-key code ", code, nullptr);
    }
    return 0;
  }
  vkCodes_[vk] = KeycodeForKeysym(keysym, report);
  return vkCodes_[vk];
}

unsigned int X11Desktop::ModifierMaskOf(KeyCode code) {
  if (!modmap_ || !code) return 0;
  for (int mod = 0; mod < 8; ++mod)
    for (int k = 0; k < modmap_->max_keypermod; ++k)
      if (modmap_->modifiermap[mod * modmap_->max_keypermod + k] == code) return 1u << mod;
  return 0;
}

void X11Desktop::RestoreSpareKeys() {
  if (spareBound_.empty()) return;
  // The target resolves a key symbol when it reads the event, which may be after this
  // program ended: give it a moment before the lent key codes go blank again.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::vector<KeySym> blank(static_cast<std::size_t>(symsPerCode_), NoSymbol);
  for (KeyCode code : spareBound_) {
    XChangeKeyboardMapping(dpy_, code, symsPerCode_, blank.data(), 1);
    std::copy(blank.begin(), blank.end(),
              &keymap_[static_cast<std::size_t>(code - minKeycode_) * symsPerCode_]);
    for (KeyCode& c : vkCodes_)
      if (c == code) c = 0;
  }
  spareBound_.clear();
  NoteLentKeys();
  recycle_ = 0;
  XSync(dpy_, False);
}

void X11Desktop::ReturnLentKeys() {
  if (ReadyQuiet()) RestoreSpareKeys();
}

I2 X11Desktop::GetKeyState(int virtualKey) {
  XCall call(this);
  if (!Ready() || virtualKey < 0 || virtualKey > 255) return 0;
  RefreshKeyboardIfChanged();
  unsigned int mask = 0;
  {
    Window r, c;
    int rx, ry, wx, wy;
    XQueryPointer(dpy_, root_, &r, &c, &rx, &ry, &wx, &wy, &mask);
  }
  if (Lost()) return 0;
  bool down = false, toggled = false;
  switch (virtualKey) {
  case kVkShift:
    down = mask & ShiftMask;
    break;
  case kVkControl:
    down = mask & ControlMask;
    break;
  case kVkMenu:
    down = mask & ModifierMaskOf(KeycodeForVk(static_cast<U1>(kVkMenu), false));
    break;
  case kVkCapital:
    // Asked before every letter typed: the lock alone, without a second round trip.
    toggled = mask & LockMask;
    break;
  default: {
    KeyCode code = KeycodeForVk(static_cast<U1>(virtualKey), false);
    char keys[32] = {};
    XQueryKeymap(dpy_, keys);
    down = KeyDown(keys, code);
    if (virtualKey == kVkNumlock) toggled = mask & ModifierMaskOf(code);
    break;
  }
  }
  return static_cast<I2>((down ? 0xFF80 : 0) | (toggled ? 1 : 0));
}

U4 X11Desktop::MapVirtualKeyA(U4 code, U4 mapType) {
  XCall call(this);
  if (!Ready()) return 0;
  switch (mapType) {
  case 0: // virtual key to scan code
  case 3: {
    if (code > 255) return 0;
    KeyCode kc = KeycodeForVk(static_cast<U1>(code), false);
    return kc >= 8 ? kc - 8u : 0;
  }
  case 1:   // scan code to virtual key
  case 2: { // virtual key to character
    RefreshKeyboardIfChanged();
    KeySym sym = NoSymbol;
    if (mapType == 1) {
      int kc = static_cast<int>(code) + 8;
      if (kc < minKeycode_ || kc > maxKeycode_) return 0;
      sym = keymap_[static_cast<std::size_t>(kc - minKeycode_) * symsPerCode_];
      for (int vk = 1; vk < 256; ++vk)
        if (X11KeysymForVk(static_cast<U1>(vk)) == sym) return static_cast<U4>(vk);
      return 0;
    }
    if (code > 255) return 0;
    sym = X11KeysymForVk(static_cast<U1>(code));
    if (sym >= XK_a && sym <= XK_z) return static_cast<U4>(sym - XK_a + 'A');
    return sym >= 0x20 && sym < 0x7F ? static_cast<U4>(sym) : 0;
  }
  default:
    return 0;
  }
}

void X11Desktop::keybd_event(U1 virtualKey, U1 scanCode, U4 flags, std::uintptr_t) {
  XCall call(this);
  if (!Ready()) return;
  KeyCode code = 0;
  if (virtualKey)
    code = KeycodeForVk(virtualKey, true);
  else if (scanCode)
    code = static_cast<KeyCode>(scanCode + 8);
  if (!code) return;
  FakeKey(code, !(flags & kKeyEventfKeyUp));
  if (!inText_) XFlush(dpy_);
}
