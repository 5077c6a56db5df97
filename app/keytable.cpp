#include "app/keytable.h"

#include <cstring>

const KeyName key_names[kKeyNameCount] = {
    {"Mouse:L", 0x01},
    {"Mouse:R", 0x02},
    {"Mouse:M", 0x04},
    {"Ctrl-Break", 0x03},
    {",", 0xBC},
    {".", 0xBE},
    {"/", 0xBF},
    {"?", 0xBF},
    {";", 0xBA},
    {":", 0xBA},
    {"*", 0x38},
    {"'", 0xDE},
    {"[", 0xDB},
    {"]", 0xDD},
    {"\\", 0xE2},
    {"-", 0xBD},
    {"_", 0xBD},
    {"=", 0xBB},
    {"+", 0xBB},
    {"Backspace", 0x08},
    {"Tab", 0x09},
    {"Clear", 0x0C},
    {"Enter", 0x0D},
    {"Shift", 0x10},
    {"Ctrl", 0x11},
    {"Alt", 0x12},
    {"Pause", 0x13},
    {"CapsLock", 0x14},
    {"Esc", 0x1B},
    {"Space", 0x20},
    {"PageUp", 0x21},
    {"PageDown", 0x22},
    {"End", 0x23},
    {"Home", 0x24},
    {"Left", 0x25},
    {"Up", 0x26},
    {"Right", 0x27},
    {"Down", 0x28},
    {"Select", 0x29},
    {"Execute", 0x2B},
    {"PrintScreen", 0x2C},
    {"Insert", 0x2D},
    {"Delete", 0x2E},
    {"Help", 0x2F},
    {"0", 0x30},
    {"1", 0x31},
    {"2", 0x32},
    {"3", 0x33},
    {"4", 0x34},
    {"5", 0x35},
    {"6", 0x36},
    {"7", 0x37},
    {"8", 0x38},
    {"9", 0x39},
    {"A", 0x41},
    {"B", 0x42},
    {"C", 0x43},
    {"D", 0x44},
    {"E", 0x45},
    {"F", 0x46},
    {"G", 0x47},
    {"H", 0x48},
    {"I", 0x49},
    {"J", 0x4A},
    {"K", 0x4B},
    {"L", 0x4C},
    {"M", 0x4D},
    {"N", 0x4E},
    {"O", 0x4F},
    {"P", 0x50},
    {"Q", 0x51},
    {"R", 0x52},
    {"S", 0x53},
    {"T", 0x54},
    {"U", 0x55},
    {"V", 0x56},
    {"W", 0x57},
    {"X", 0x58},
    {"Y", 0x59},
    {"Z", 0x5A},
    {"LeftWindows", 0x5B},
    {"RightWindows", 0x5C},
    {"Applications", 0x5D},
    {"KP:0", 0x60},
    {"KP:1", 0x61},
    {"KP:2", 0x62},
    {"KP:3", 0x63},
    {"KP:4", 0x64},
    {"KP:5", 0x65},
    {"KP:6", 0x66},
    {"KP:7", 0x67},
    {"KP:8", 0x68},
    {"KP:9", 0x69},
    {"KP:*", 0x6A},
    {"KP:+", 0x6B},
    {"KP:Enter", 0x6C},
    {"KP:-", 0x6D},
    {"KP:.", 0x6E},
    {"KP:/", 0x6F},
    {"F1", 0x70},
    {"F2", 0x71},
    {"F3", 0x72},
    {"F4", 0x73},
    {"F5", 0x74},
    {"F6", 0x75},
    {"F7", 0x76},
    {"F8", 0x77},
    {"F9", 0x78},
    {"F10", 0x79},
    {"F11", 0x7A},
    {"F12", 0x7B},
    {"F13", 0x7C},
    {"F14", 0x7D},
    {"F15", 0x7E},
    {"F16", 0x7F},
    {"F17", 0x80},
    {"F18", 0x81},
    {"F19", 0x82},
    {"F20", 0x83},
    {"F21", 0x84},
    {"F22", 0x85},
    {"F23", 0x86},
    {"F24", 0x87},
    {"Numlock", 0x90},
    {"Scroll", 0x91},
    {"Attention", 0xF6},
    {"CrSel", 0xF7},
    {"ExSel", 0xF8},
    {"EraseEOF", 0xF9},
    {"Play", 0xFA},
    {"Zoom", 0xFB},
    {"PA1", 0xFD},
};

namespace {
// Letters fold onto upper case; every other byte compares as itself.
bool SameName(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char ca = static_cast<unsigned char>(*a);
    unsigned char cb = static_cast<unsigned char>(*b);
    if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 'a' + 'A');
    if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 'a' + 'A');
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
}

const char* const control_names[32] = {
    "<NUL>", "<SOH>", "<STX>", "<ETX>", "<EOT>", "<ENQ>", "<ACK>", "<BEL>",
    "<BS>",  "\t",    "<LF>",  "<VT>",  "<FF>",  "<CR>",  "<SO>",  "<SI>",
    "<DLE>", "<DC1>", "<DC2>", "<DC3>", "<DC4>", "<NAK>", "<SYN>", "<ETB>",
    "<CAN>", "<EM>",  "<SUB>", "<ESC>", "<FS>",  "<GS>",  "<RS>",  "<US>",
};
} // namespace

int KeyNameIndex(const char* name) {
  if (!name) return -1;
  for (int i = 0; i < kKeyNameCount; ++i)
    if (SameName(name, key_names[i].name)) return i;
  return -1;
}

int CharKeyIndex(unsigned char c) {
  // A text types the same few characters over and over: each is looked up once.
  static int known[256]; // the index + 1, -1 for none, 0 while not looked up
  if (known[c] == 0) {
    char buf[8];
    const int i = KeyNameIndex(CharName(c, buf));
    known[c] = i < 0 ? -1 : i + 1;
  }
  return known[c] < 0 ? -1 : known[c] - 1;
}

const char* CharName(unsigned char c, char* buf) {
  if (c < 32) return control_names[c];
  if (c == 255) return "<?>";
  buf[0] = static_cast<char>(c);
  buf[1] = 0;
  return buf;
}
