// The keymap this desktop types with: one key for every virtual key of a US keyboard and
// one for every character a text can hold, so that each arrives as written whatever the
// compositor's own layout. Built as XKB text, checked by compiling it here.
#include "platform/wayland/wayland_desktop.h"

#include "platform/x11/desktop_x11.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdio>

namespace {

constexpr unsigned kShift = 1u << 0, kLock = 1u << 1, kControl = 1u << 2, kMod1 = 1u << 3,
                   kMod2 = 1u << 4, kMod4 = 1u << 6, kMod5 = 1u << 7;

struct ModifierKey {
  std::uint32_t keysym;
  unsigned mods;
  bool locks;
};
constexpr ModifierKey kModifierKeys[] = {
    {XKB_KEY_Shift_L, kShift, false},
    {XKB_KEY_Shift_R, kShift, false},
    {XKB_KEY_Control_L, kControl, false},
    {XKB_KEY_Control_R, kControl, false},
    {XKB_KEY_Alt_L, kMod1, false},
    {XKB_KEY_Alt_R, kMod1, false},
    {XKB_KEY_Super_L, kMod4, false},
    {XKB_KEY_Super_R, kMod4, false},
    {XKB_KEY_ISO_Level3_Shift, kMod5, false},
    {XKB_KEY_Caps_Lock, kLock, true},
    {XKB_KEY_Num_Lock, kMod2, true},
};

const char* const kModNames[8] = {"Shift", "Lock", "Control", "Mod1",
                                  "Mod2",  "Mod3", "Mod4",    "Mod5"};

std::string KeysymName(std::uint32_t keysym) {
  char name[64];
  if (xkb_keysym_get_name(keysym, name, sizeof name) < 0)
    std::snprintf(name, sizeof name, "0x%x", keysym);
  return name;
}

int ModIndex(unsigned mods) {
  for (int i = 0; i < 8; ++i)
    if (mods == 1u << i) return i;
  return 0;
}

} // namespace

void WaylandDesktop::BuildKeymap() {
  if (!keys_.empty()) return;
  auto add = [&](const OwnKey& k) { keys_.push_back(k); };
  for (int vk = 1; vk < 256; ++vk) {
    std::uint32_t sym = static_cast<std::uint32_t>(X11KeysymForVk(static_cast<U1>(vk)));
    // The compositor hands clients the keymap as xkbcommon writes it, which names the 3270
    // keys in a form xkbcommon cannot read back: one such key would cost every key.
    if (!sym || (sym >= 0xFD01 && sym <= 0xFD1E)) continue;
    OwnKey k;
    k.keysym = sym;
    k.vk = static_cast<U1>(vk);
    for (const ModifierKey& m : kModifierKeys)
      if (m.keysym == sym) k.mods = m.mods, k.locks = m.locks;
    add(k);
  }
  // Character keys have one level: neither Shift nor CapsLock changes what they type.
  for (std::uint32_t ch = 0x20; ch < 0x7F; ++ch) {
    OwnKey k;
    k.keysym = ch; // Latin-1 characters are their own key symbols
    add(k);
  }

  std::string kc, sy, mm;
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    unsigned code = kFirstKeycode + static_cast<unsigned>(i);
    char name[16];
    std::snprintf(name, sizeof name, "<K%03u>", code);
    kc += "  " + std::string(name) + " = " + std::to_string(code) + ";\n";
    const OwnKey& k = keys_[i];
    std::uint32_t shifted = k.vk ? static_cast<std::uint32_t>(X11ShiftedKeysym(k.keysym)) : 0;
    bool letter = k.keysym >= XKB_KEY_a && k.keysym <= XKB_KEY_z;
    const char* type = !shifted ? "ONE_LEVEL" : letter ? "ALPHABETIC" : "TWO_LEVEL";
    sy += "  key " + std::string(name) + " { type = \"" + type + "\", symbols[Group1] = [ " +
          KeysymName(k.keysym) + (shifted ? ", " + KeysymName(shifted) : "") + " ] };\n";
    if (k.mods)
      mm += "  modifier_map " + std::string(kModNames[ModIndex(k.mods)]) + " { " + name + " };\n";
  }
  std::string compat;
  for (const ModifierKey& m : kModifierKeys)
    compat += "  interpret " + KeysymName(m.keysym) +
              " { action = " + (m.locks ? "LockMods" : "SetMods") +
              "(modifiers=" + kModNames[ModIndex(m.mods)] + "); };\n";

  keymapText_ =
      "xkb_keymap {\nxkb_keycodes \"tapster\" {\n  minimum = 8;\n  maximum = " +
      std::to_string(kFirstKeycode + keys_.size() < 255 ? 255 : kFirstKeycode + keys_.size()) +
      ";\n" + kc +
      "};\nxkb_types \"tapster\" {\n"
      "  type \"ONE_LEVEL\" { modifiers = none; level_name[Level1] = \"Any\"; };\n"
      "  type \"TWO_LEVEL\" { modifiers = Shift; map[Shift] = Level2;"
      " level_name[Level1] = \"Base\"; level_name[Level2] = \"Shift\"; };\n"
      "  type \"ALPHABETIC\" { modifiers = Shift+Lock; map[Shift] = Level2;"
      " map[Lock] = Level2; level_name[Level1] = \"Base\"; level_name[Level2] = \"Caps\"; };\n"
      "};\nxkb_compat \"tapster\" {\n" +
      compat + "};\nxkb_symbols \"tapster\" {\n" + sy + mm + "};\n};\n";

  if (!xkb_)
    xkb_ = xkb_context_new(static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES |
                                                          XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
  if (xkb_)
    keymap_ = xkb_keymap_new_from_string(xkb_, keymapText_.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                         XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap_) keyState_ = xkb_state_new(keymap_);
  keyDown_.assign(keys_.size(), false);
}

std::uint32_t WaylandDesktop::KeycodeForVk(U1 vk) const {
  for (std::size_t i = 0; i < keys_.size(); ++i)
    if (keys_[i].vk == vk) return kFirstKeycode + static_cast<std::uint32_t>(i);
  return 0;
}

std::uint32_t WaylandDesktop::KeycodeForChar(U4 ch) const {
  for (std::size_t i = keys_.size(); i-- > 0;)
    if (!keys_[i].vk && keys_[i].keysym == ch) return kFirstKeycode + static_cast<std::uint32_t>(i);
  return 0;
}
