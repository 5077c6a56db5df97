// Virtual-key codes as the keys of a US keyboard: the X key symbol of each key, and the
// symbol the same key gives with Shift.
#include "platform/x11/desktop_x11.h"

// The 3270 terminal keys are only declared on request.
#define XK_3270
#include <X11/XF86keysym.h>
#include <X11/keysym.h>

namespace {
struct ShiftPair {
  unsigned long plain;
  unsigned long shifted;
};
constexpr ShiftPair kUsShiftPairs[] = {
    {XK_1, XK_exclam},
    {XK_2, XK_at},
    {XK_3, XK_numbersign},
    {XK_4, XK_dollar},
    {XK_5, XK_percent},
    {XK_6, XK_asciicircum},
    {XK_7, XK_ampersand},
    {XK_8, XK_asterisk},
    {XK_9, XK_parenleft},
    {XK_0, XK_parenright},
    {XK_minus, XK_underscore},
    {XK_equal, XK_plus},
    {XK_bracketleft, XK_braceleft},
    {XK_bracketright, XK_braceright},
    {XK_backslash, XK_bar},
    {XK_semicolon, XK_colon},
    {XK_apostrophe, XK_quotedbl},
    {XK_grave, XK_asciitilde},
    {XK_comma, XK_less},
    {XK_period, XK_greater},
    {XK_slash, XK_question},
};
} // namespace

unsigned long X11KeysymForVk(U1 vk) {
  if (vk >= 0x30 && vk <= 0x39) return XK_0 + (vk - 0x30);
  if (vk >= 0x41 && vk <= 0x5A) return XK_a + (vk - 0x41);
  if (vk >= 0x60 && vk <= 0x69) return XK_KP_0 + (vk - 0x60);
  if (vk >= 0x70 && vk <= 0x87) return XK_F1 + (vk - 0x70);
  switch (vk) {
  case 0x03:
    return XK_Break; // Ctrl-Break
  case 0x08:
    return XK_BackSpace;
  case 0x09:
    return XK_Tab;
  case 0x0C:
    return XK_Clear;
  case 0x0D:
    return XK_Return;
  case 0x10:
    return XK_Shift_L;
  case 0x11:
    return XK_Control_L;
  case 0x12:
    return XK_Alt_L;
  case 0x13:
    return XK_Pause;
  case 0x14:
    return XK_Caps_Lock;
  case 0x1B:
    return XK_Escape;
  case 0x20:
    return XK_space;
  case 0x21:
    return XK_Prior;
  case 0x22:
    return XK_Next;
  case 0x23:
    return XK_End;
  case 0x24:
    return XK_Home;
  case 0x25:
    return XK_Left;
  case 0x26:
    return XK_Up;
  case 0x27:
    return XK_Right;
  case 0x28:
    return XK_Down;
  case 0x29:
    return XK_Select;
  case 0x2A:
    return XK_Print;
  case 0x2B:
    return XK_Execute;
  case 0x2C:
    return XK_Print;
  case 0x2D:
    return XK_Insert;
  case 0x2E:
    return XK_Delete;
  case 0x2F:
    return XK_Help;
  case 0x5B:
    return XK_Super_L;
  case 0x5C:
    return XK_Super_R;
  case 0x5D:
    return XK_Menu;
  case 0x6A:
    return XK_KP_Multiply;
  case 0x6B:
    return XK_KP_Add;
  case 0x6C:
    return XK_KP_Separator;
  case 0x6D:
    return XK_KP_Subtract;
  case 0x6E:
    return XK_KP_Decimal;
  case 0x6F:
    return XK_KP_Divide;
  case 0x90:
    return XK_Num_Lock;
  case 0x91:
    return XK_Scroll_Lock;
  case 0xA0:
    return XK_Shift_L;
  case 0xA1:
    return XK_Shift_R;
  case 0xA2:
    return XK_Control_L;
  case 0xA3:
    return XK_Control_R;
  case 0xA4:
    return XK_Alt_L;
  case 0xA5:
    return XK_Alt_R;
  case 0xBA:
    return XK_semicolon;
  case 0xBB:
    return XK_equal;
  case 0xBC:
    return XK_comma;
  case 0xBD:
    return XK_minus;
  case 0xBE:
    return XK_period;
  case 0xBF:
    return XK_slash;
  case 0xC0:
    return XK_grave;
  case 0xDB:
    return XK_bracketleft;
  case 0xDC:
    return XK_backslash;
  case 0xDD:
    return XK_bracketright;
  case 0xDE:
    return XK_apostrophe;
  case 0xE2:
    return XK_backslash; // the extra key of 102-key boards, "\" on a US layout
  case 0xF6:
    return XK_3270_Attn;
  case 0xF7:
    return XK_3270_CursorSelect;
  case 0xF8:
    return XK_3270_ExSelect;
  case 0xF9:
    return XK_3270_EraseEOF;
  case 0xFA:
    return XK_3270_Play;
  case 0xFB:
    return XF86XK_ZoomIn;
  case 0xFD:
    return XK_3270_PA1;
  case 0xFE:
    return XK_Clear;
  default:
    return 0;
  }
}

unsigned long X11ShiftedKeysym(unsigned long keysym) {
  if (keysym >= XK_a && keysym <= XK_z) return keysym - XK_a + XK_A;
  for (const ShiftPair& p : kUsShiftPairs)
    if (p.plain == keysym) return p.shifted;
  return 0;
}
