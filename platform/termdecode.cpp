// Terminal input bytes to key and mouse events with virtual-key codes of a US keyboard, so
// that one key map serves the Windows console and terminals alike.
#include "platform/console.h"

namespace {

constexpr char kEsc = 0x1B;
constexpr U2 kVkBack = 8, kVkTab = 9, kVkReturn = 13, kVkEscape = 27, kVkSpace = 32;
constexpr U2 kVkPrior = 33, kVkNext = 34, kVkEnd = 35, kVkHome = 36, kVkLeft = 37, kVkUp = 38,
             kVkRight = 39, kVkDown = 40, kVkInsert = 45, kVkDelete = 46, kVkF1 = 112;
constexpr U2 kVkAdd = 107, kVkSubtract = 109, kVkDecimal = 110;

KbEvent Key(U2 vk, U1 ch, U4 state) {
  KbEvent e;
  e.kind = KbEvent::kKey;
  e.down = true;
  e.vk = vk;
  e.ch = ch;
  e.state = state;
  return e;
}

// Punctuation of a US keyboard: the OEM key code and whether Shift makes the character.
struct Punct {
  char ch;
  U1 vk;
  bool shift;
};
constexpr Punct kPunct[] = {
    {';', 186, false},  {':', 186, true},   {'=', 187, false}, {'+', 187, true},  {',', 188, false},
    {'<', 188, true},   {'-', 189, false},  {'_', 189, true},  {'.', 190, false}, {'>', 190, true},
    {'/', 191, false},  {'?', 191, true},   {'`', 192, false}, {'~', 192, true},  {'[', 219, false},
    {'{', 219, true},   {'\\', 220, false}, {'|', 220, true},  {']', 221, false}, {'}', 221, true},
    {'\'', 222, false}, {'"', 222, true},   {')', '0', true},  {'!', '1', true},  {'@', '2', true},
    {'#', '3', true},   {'$', '4', true},   {'%', '5', true},  {'^', '6', true},  {'&', '7', true},
    {'*', '8', true},   {'(', '9', true}};

// A single byte as the key that types it.
KbEvent ByteKey(U1 c, U4 extra) {
  if (c == 0x7F || c == 8) return Key(kVkBack, 8, extra);
  if (c == 9) return Key(kVkTab, 9, extra);
  if (c == 13 || c == 10) return Key(kVkReturn, 13, extra);
  if (c == 27) return Key(kVkEscape, 27, extra);
  if (c == 0) return Key('2', 0, extra | kKsLeftCtrl);
  if (c < 27) return Key(U2('A' + c - 1), c, extra | kKsLeftCtrl);
  if (c < 32) return Key(0, c, extra | kKsLeftCtrl); // Ctrl with \ ] ^ _
  if (c == ' ') return Key(kVkSpace, c, extra);
  if (c >= 'a' && c <= 'z') return Key(U2(c - 'a' + 'A'), c, extra);
  if (c >= 'A' && c <= 'Z') return Key(c, c, extra | kKsShift);
  if (c >= '0' && c <= '9') return Key(c, c, extra);
  for (const Punct& p : kPunct)
    if (p.ch == char(c)) return Key(p.vk, c, extra | (p.shift ? kKsShift : 0));
  return Key(0, c, extra); // beyond ASCII: the byte alone
}

// xterm's modifier parameter: 1 + (1 Shift, 2 Alt, 4 Ctrl).
U4 Modifiers(U4 param) {
  if (param < 2) return 0;
  const U4 m = param - 1;
  return (m & 1 ? kKsShift : 0) | (m & 2 ? kKsLeftAlt : 0) | (m & 4 ? kKsLeftCtrl : 0);
}

// The key of "ESC [ n ~".
U2 TildeKey(U4 n) {
  switch (n) {
  case 1:
  case 7:
    return kVkHome;
  case 2:
    return kVkInsert;
  case 3:
    return kVkDelete;
  case 4:
  case 8:
    return kVkEnd;
  case 5:
    return kVkPrior;
  case 6:
    return kVkNext;
  case 11:
  case 12:
  case 13:
  case 14:
  case 15:
    return U2(kVkF1 + n - 11);
  case 17:
  case 18:
  case 19:
  case 20:
  case 21:
    return U2(kVkF1 + 5 + n - 17);
  case 23:
  case 24:
    return U2(kVkF1 + 10 + n - 23);
  default:
    return 0;
  }
}

// The key of a final letter of "ESC [" or "ESC O"; enhanced for the cursor block.
bool LetterKey(char f, U2* vk, U4* state) {
  *state = kKsEnhanced;
  switch (f) {
  case 'A':
    *vk = kVkUp;
    return true;
  case 'B':
    *vk = kVkDown;
    return true;
  case 'C':
    *vk = kVkRight;
    return true;
  case 'D':
    *vk = kVkLeft;
    return true;
  case 'H':
    *vk = kVkHome;
    return true;
  case 'F':
    *vk = kVkEnd;
    return true;
  case 'P':
  case 'Q':
  case 'R':
  case 'S':
    *vk = U2(kVkF1 + f - 'P');
    *state = 0;
    return true;
  case 'M':
    *vk = kVkReturn;
    return true;
  case 'k':
    *vk = kVkAdd;
    *state = 0;
    return true;
  case 'm':
    *vk = kVkSubtract;
    *state = 0;
    return true;
  case 'n':
    *vk = kVkDecimal;
    *state = kKsNumLock;
    return true;
  default:
    return false;
  }
}

// SGR mouse report "ESC [ < b ; x ; y M" (press) or "m" (release).
KbEvent Mouse(U4 b, bool press) {
  KbEvent e;
  e.kind = KbEvent::kMouse;
  if (b & 64) { // wheel
    if (b & 2) {
      e.flags = kMouseHWheeled;
    } else {
      e.flags = kMouseWheeled;
      e.wheel = (b & 1) ? -120 : 120;
    }
    return e;
  }
  if (b & 32) e.flags = kMouseMoved;
  if (press) {
    const U4 button = b & 3;
    e.buttons = button == 0   ? kMouseLeft
                : button == 1 ? kMouseMiddle
                : button == 2 ? kMouseRight
                              : 0;
  }
  return e;
}

// One escape sequence from p (p[0] is ESC). Returns its length, 0 when it is cut short
// at end, or 1 when ESC starts nothing known (the Esc key itself).
size_t Sequence(const char* p, size_t n, std::vector<KbEvent>* out, U4 alt) {
  if (n < 2) return 0;
  const char intro = p[1];
  if (intro == kEsc && !alt) { // ESC ESC ...: Alt with a sequence, or Esc twice
    const size_t len = Sequence(p + 1, n - 1, out, kKsLeftAlt);
    return len <= 1 ? len : len + 1;
  }
  if (intro != '[' && intro != 'O') {
    if (alt) return 1;
    out->push_back(ByteKey(U1(intro), kKsLeftAlt));
    return 2;
  }
  size_t i = 2;
  const bool sgr_mouse = intro == '[' && i < n && p[i] == '<';
  if (sgr_mouse) ++i;
  U4 params[4] = {0, 0, 0, 0};
  U4 count = 0;
  bool any_digit = false;
  bool private_params = false; // "?", "=", ">" and the like: not a key
  for (; i < n; ++i) {
    const char c = p[i];
    if (c >= '0' && c <= '9') {
      if (count < 4 && params[count] < 100000) params[count] = params[count] * 10 + U4(c - '0');
      any_digit = true;
    } else if (c == ';') {
      if (count < 4) ++count;
    } else if (intro == '[' && c == '[' && i == 2) { // Linux console F1 to F5
      if (i + 1 >= n) return 0;
      const char f = p[i + 1];
      if (f >= 'A' && f <= 'E') out->push_back(Key(U2(kVkF1 + f - 'A'), 0, alt));
      return i + 2;
    } else if (c >= 0x3C && c <= 0x3F) {
      private_params = true;
    } else if (c < 0x20 || c > 0x2F) {
      break; // not a parameter or intermediate byte: the final one
    }
  }
  if (i >= n) return 0;
  if (any_digit || count) ++count;
  const char fin = p[i];
  const size_t len = i + 1;
  if (fin < 0x40 || fin > 0x7E) return 1; // not a sequence after all
  if (private_params) return len;
  if (sgr_mouse) {
    if ((fin == 'M' || fin == 'm') && count >= 3) out->push_back(Mouse(params[0], fin == 'M'));
    return len;
  }
  const U4 mods = (count >= 2 ? Modifiers(params[1]) : 0) | alt;
  U2 vk = 0;
  U4 state = 0;
  if (intro == '[' && fin == '~') {
    vk = TildeKey(params[0]);
    state = vk && vk < kVkF1 ? kKsEnhanced : 0;
  } else if (intro == '[' && fin == 'Z') {
    vk = kVkTab;
    out->push_back(Key(vk, 9, mods | kKsShift));
    return len;
  } else if (!LetterKey(fin, &vk, &state)) {
    vk = 0;
  }
  if (vk) out->push_back(Key(vk, vk == kVkReturn ? 13 : 0, state | mods));
  return len; // an unknown sequence is dropped whole
}

} // namespace

size_t DecodeTerminalInput(const char* bytes, size_t n, bool final, std::vector<KbEvent>* out) {
  size_t i = 0;
  while (i < n) {
    if (bytes[i] != kEsc) {
      out->push_back(ByteKey(U1(bytes[i]), 0));
      ++i;
      continue;
    }
    size_t len = Sequence(bytes + i, n - i, out, 0);
    if (len == 0) {
      if (!final) break;
      len = 1; // nothing more came: the Esc key itself
    }
    if (len == 1) out->push_back(ByteKey(U1(kEsc), 0));
    i += len;
  }
  return i;
}
