// The key vocabulary of simulation commands: key and mouse-button names with their
// virtual-key codes, and the names under which typed characters are looked up.
#pragma once
#include "base/types.h"

struct KeyName {
  const char* name;
  U1 code; // Windows virtual-key code; 1, 2 and 4 are the mouse buttons
};

inline constexpr int kKeyNameCount = 132;
extern const KeyName key_names[kKeyNameCount];

inline constexpr U1 kVkMouseLeft = 0x01;
inline constexpr U1 kVkMouseRight = 0x02;
inline constexpr U1 kVkMouseMiddle = 0x04;

// True for the codes that go to SimMouse rather than Tapster.
inline constexpr bool IsMouseButtonCode(U1 code) {
  return code == kVkMouseLeft || code == kVkMouseRight || code == kVkMouseMiddle;
}

// Index of the first entry whose name equals name as a whole, case ignored; -1 when none.
int KeyNameIndex(const char* name);

// The name a typed character is looked up under: the character itself, bracketed names
// ("<NUL>", "<BS>", "<CR>" ...) for the control characters except tab, "<?>" for 255.
// The result points into buf (at least 8 bytes) or at a constant.
const char* CharName(unsigned char c, char* buf);
// KeyNameIndex of that name.
int CharKeyIndex(unsigned char c);
