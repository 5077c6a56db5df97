// Typed text by the keyboard layout in use: what a key types under given modifiers in the
// current XKB group, and which key and modifiers type a character.
#include "platform/x11/x11desktop.h"

#include "errlog/errstack.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {
KeySym KeysymOfChar(U4 ch) {
  // Latin-1 key symbols are the characters themselves; the rest of Unicode is offset.
  return ch < 0x100 ? ch : 0x01000000 | ch;
}
} // namespace

void X11Desktop::LoadLayout() {
  if (xkb_) XkbFreeKeyboard(xkb_, 0, True);
  xkb_ = XkbGetMap(dpy_, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
  shiftKey_ = level3Key_ = 0;
  level3Mask_ = 0;
  if (!xkb_) return;
  for (int code = xkb_->min_key_code; code <= xkb_->max_key_code; ++code) {
    if (XkbKeyNumGroups(xkb_, code) == 0) continue;
    KeySym sym = XkbKeySymEntry(xkb_, code, 0, 0);
    unsigned int mods = xkb_->map->modmap[code];
    if (sym == XK_Shift_L && (mods & ShiftMask) && !shiftKey_) {
      shiftKey_ = static_cast<KeyCode>(code);
    } else if (sym == XK_ISO_Level3_Shift && (!level3Key_ || (mods && !level3Mask_))) {
      // A key that sets the level-three modifier through its action may carry no
      // modifier of its own: prefer the one that names it.
      level3Key_ = static_cast<KeyCode>(code);
      level3Mask_ = mods;
    }
  }
  if (level3Key_ && !level3Mask_) level3Mask_ = Mod5Mask;
}

KeySym X11Desktop::KeysymAt(KeyCode code, unsigned int state) const {
  int groups = XkbKeyNumGroups(xkb_, code);
  if (groups == 0) return NoSymbol;
  int group = textGroup_;
  if (group >= groups) {
    unsigned char info = XkbKeyGroupInfo(xkb_, code);
    switch (XkbOutOfRangeGroupAction(info)) {
    case XkbClampIntoRange:
      group = groups - 1;
      break;
    case XkbRedirectIntoRange:
      group = XkbOutOfRangeGroupNumber(info) < groups ? XkbOutOfRangeGroupNumber(info) : 0;
      break;
    default:
      group %= groups;
      break;
    }
  }
  XkbKeyTypePtr type = XkbKeyKeyType(xkb_, code, group);
  int level = 0;
  for (int i = 0; i < type->map_count; ++i) {
    const XkbKTMapEntryRec& entry = type->map[i];
    if (entry.active && (state & type->mods.mask) == entry.mods.mask) {
      level = entry.level;
      break;
    }
  }
  if (level >= XkbKeyGroupWidth(xkb_, code, group)) return NoSymbol;
  KeySym sym = XkbKeySymEntry(xkb_, code, level, group);
  // A CapsLock that the key's type does not use still makes a letter upper case.
  if ((state & LockMask) && !(type->mods.mask & LockMask)) {
    KeySym lower = sym, upper = sym;
    XConvertCase(sym, &lower, &upper);
    sym = upper;
  }
  return sym;
}

void X11Desktop::BeginText(HWND_T window) {
  XCall call(this);
  if (!Ready()) return;
  RefreshKeyboardIfChanged();
  inText_ = true;
  // A text for the focus goes to the window that has it now.
  textFocus_ = window ? 0 : CurrentFocus();
  textTop_ = TopLevelOf(window ? window : textFocus_);
  if (!textTop_) textTop_ = window ? window : textFocus_;
  textGroup_ = 0;
  textLocks_ = 0;
  XkbStateRec state;
  if (xkb_ && XkbGetState(dpy_, XkbUseCoreKbd, &state) == Success) {
    textGroup_ = state.group;
    textLocks_ = state.locked_mods & ~static_cast<unsigned int>(LockMask);
  }
}

bool X11Desktop::KeyTypes(U1 vk, bool shift, bool capsLock, U4 ch) {
  XCall call(this);
  if (!ReadyQuiet()) return true;
  RefreshKeyboardIfChanged();
  if (!xkb_) return true;
  KeyCode code = vkCodes_[vk];
  if (!code) {
    // The key the virtual key stands for, unless it would have to be lent.
    KeySym usSym = X11KeysymForVk(vk);
    int count = maxKeycode_ - minKeycode_ + 1;
    for (int i = 0; i < count && !code; ++i)
      if (usSym && keymap_[static_cast<std::size_t>(i) * symsPerCode_] == usSym)
        code = static_cast<KeyCode>(minKeycode_ + i);
  }
  if (!code) return false;
  unsigned int state = textLocks_ | (shift ? ShiftMask : 0) | (capsLock ? LockMask : 0);
  return KeysymAt(code, state) == KeysymOfChar(ch);
}

bool X11Desktop::LayoutKeyFor(U4 ch, bool capsLock, LayoutKey* key) {
  XCall call(this);
  if (!ReadyQuiet() || !xkb_) return false;
  RefreshKeyboardIfChanged();
  KeySym want = KeysymOfChar(ch);
  unsigned int base = textLocks_ | (capsLock ? LockMask : 0);
  // Fewest modifiers first: Shift, then the level-three shift (AltGr), then both.
  const unsigned int held[] = {0, ShiftMask, level3Mask_, ShiftMask | level3Mask_};
  for (unsigned int mods : held) {
    if (((mods & ShiftMask) && !shiftKey_) || ((mods & ~ShiftMask) && !level3Key_)) continue;
    for (int code = xkb_->min_key_code; code <= xkb_->max_key_code; ++code) {
      if (KeysymAt(static_cast<KeyCode>(code), base | mods) != want) continue;
      *key = LayoutKey{};
      key->key.scan = static_cast<U1>(code - 8);
      if (mods & ShiftMask)
        key->modifiers[key->modifierCount++].scan = static_cast<U1>(shiftKey_ - 8);
      if (mods & level3Mask_)
        key->modifiers[key->modifierCount++].scan = static_cast<U1>(level3Key_ - 8);
      return true;
    }
  }
  return false;
}

bool X11Desktop::TypeUnicodeChar(U4 ch) {
  XCall call(this);
  if (!Ready()) return false;
  RefreshKeyboardIfChanged();
  KeyCode code = KeycodeForKeysym(KeysymOfChar(ch), true);
  if (!code) return false;
  FakeKey(code, true);
  FakeKey(code, false);
  if (!inText_) XFlush(dpy_);
  return true;
}

bool X11Desktop::EndText() {
  XCall call(this);
  if (!inText_) return true;
  inText_ = false;
  if (!ReadyQuiet()) return false;
  XSync(dpy_, False);
  if (ErrSet) return false;
  if (Lost()) return false;
  if (errors_.empty()) return true;
  ReportLateErrors();
  return false;
}
