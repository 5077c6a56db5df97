#include "console/keynames.h"

#include <cstring>

namespace {

const char* const kControlNames[32] = {
    "<Ctrl-@>",  "<Ctrl-A>", "<Ctrl-B>", "<Ctrl-C>", "<Ctrl-D>", "<Ctrl-E>", "<Ctrl-F>",
    "<Ctrl-G>",  "<BS>",     "<TAB>",    "<Ctrl-J>", "<Ctrl-K>", "<Ctrl-L>", "<Enter>",
    "<Ctrl-N>",  "<Ctrl-O>", "<Ctrl-P>", "<Ctrl-Q>", "<Ctrl-R>", "<Ctrl-S>", "<Ctrl-T>",
    "<Ctrl-U>",  "<Ctrl-V>", "<Ctrl-W>", "<Ctrl-X>", "<Ctrl-Y>", "<Ctrl-Z>", "<Esc>",
    "<Ctrl-\\>", "<Ctrl-]>", "<Ctrl-^>", "<Ctrl-_>"};

const char* const kSpecialNames[kKeyValueCount - 256] = {
    "<F1>",          "<F2>",         "<F3>",
    "<F4>",          "<F5>",         "<F6>",
    "<F7>",          "<F8>",         "<F9>",
    "<F10>",         "<F11>",        "<F12>",
    "<Insert>",      "<Home>",       "<PageUp>",
    "<Delete>",      "<End>",        "<PageDown>",
    "<Up>",          "<Down>",       "<Left>",
    "<Right>",       "<KP:->",       "<KP:+>",
    "<KP:Enter>",    "<KP:Del>",     "<Shft-Tab>",
    "<Shft-Up>",     "<Shft-Down>",  "<Shft-Left>",
    "<Shft-Right>",  "<Ctrl-F1>",    "<Ctrl-F2>",
    "<Ctrl-F3>",     "<Ctrl-F4>",    "<Ctrl-F5>",
    "<Ctrl-F6>",     "<Ctrl-F7>",    "<Ctrl-F8>",
    "<Ctrl-F9>",     "<Ctrl-F10>",   "<Ctrl-F11>",
    "<Ctrl-F12>",    "<Ctrl-Up>",    "<Ctrl-Down>",
    "<Ctrl-Left>",   "<Ctrl-Right>", "<Ctrl-Home>",
    "<Ctrl-PageUp>", "<Ctrl-End>",   "<Ctrl-PageDown>",
    "<ALT-A>",       "<ALT-C>",      "<ALT-I>",
    "<ALT-U>",       "<ALT-Up>",     "<ALT-Down>",
    "<ALT-Left>",    "<ALT-Right>"};

// 33 to 255 name themselves.
struct Singles {
  char text[256][2];
  Singles() {
    for (int c = 0; c < 256; ++c) {
      text[c][0] = char(c);
      text[c][1] = 0;
    }
  }
};
const Singles& SingleNames() {
  static const Singles singles;
  return singles;
}

bool EqualNoCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x = char(x - 32);
    if (y >= 'a' && y <= 'z') y = char(y - 32);
    if (x != y) return false;
  }
  return *a == *b;
}

} // namespace

const char* KeyName(U2 key) {
  if (key < 32) return kControlNames[key];
  if (key == 32) return "<Space>";
  if (key < 256) return SingleNames().text[key];
  if (key < kKeyValueCount) return kSpecialNames[key - 256];
  return "";
}

U2 KeyValueOfName(const char* name) {
  if (!name || !*name) return kKeyNone;
  // A single character names itself exactly: "a" and "A" are different keys.
  if (!name[1]) return U1(name[0]) > 32 ? U1(name[0]) : kKeyNone;
  for (U2 k = 0; k < kKeyValueCount; ++k) {
    if ((k < 33 || k > 255) && EqualNoCase(KeyName(k), name)) return k;
  }
  return kKeyNone;
}

KeyAction KeyActionOf(U2 key) {
  switch (key) {
  case 3:  // Ctrl-C
  case 11: // Ctrl-K
    return kActAbort;
  case 24:
    return kActDebug; // Ctrl-X
  case 15:
    return kActOutput; // Ctrl-O
  case 22:
    return kActPaste; // Ctrl-V
  default:
    return kActQueue;
  }
}
