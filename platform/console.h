// The console keyboard: its input mode, its input events in the Windows console's terms,
// and the runtime's plain key reading.
#pragma once
#include "base/types.h"

#include <string>
#include <vector>

// Control-key state bits of a key event.
inline constexpr U4 kKsRightAlt = 0x01, kKsLeftAlt = 0x02, kKsRightCtrl = 0x04, kKsLeftCtrl = 0x08,
                    kKsShift = 0x10, kKsNumLock = 0x20, kKsEnhanced = 0x100;
inline constexpr U4 kKsAlt = kKsRightAlt | kKsLeftAlt, kKsCtrl = kKsRightCtrl | kKsLeftCtrl;
// Mouse button and event-kind bits.
inline constexpr U4 kMouseLeft = 0x1, kMouseRight = 0x2, kMouseMiddle = 0x4;
inline constexpr U4 kMouseMoved = 0x1, kMouseWheeled = 0x4, kMouseHWheeled = 0x8;

struct KbEvent {
  enum Kind : U1 { kOther, kKey, kMouse } kind = kOther;
  bool down = false; // key pressed (not released)
  U2 vk = 0;         // virtual-key code
  U1 ch = 0;         // the character, 0 for none
  U4 state = 0;      // kKs... bits
  U4 buttons = 0;    // mouse buttons held
  U4 flags = 0;      // kMouse... kind bits; 0: a button changed
  I2 wheel = 0;      // wheel turn, positive forward
};

// Switches the console to key-event input (raw: window and mouse events too), saving the
// mode found. On failure names the call and gives its code.
bool PlatformKbOpen(bool raw, const char** failed, U4* code);
// Restores the mode that PlatformKbOpen saved; nothing when none was saved.
bool PlatformKbClose(const char** failed, U4* code);
// Input events waiting now.
bool PlatformKbEventCount(U4* count, const char** failed, U4* code);
// The next waiting event (only after PlatformKbEventCount reported one).
bool PlatformKbReadEvent(KbEvent* ev, const char** failed, U4* code);

// The runtime's key-available test on the console input.
bool PlatformKbHitPlain();
// Standard input: 0 none, 1 a console, 2 redirected.
int PlatformStdinKind();
// One byte from redirected standard input; -1 at end of file.
int PlatformStdinByte();
// One key from the console, unbuffered, without echo, Ctrl-C delivered as 3.
int PlatformConsoleGetch();
// The clipboard's text; false when there is none.
bool PlatformClipboardText(std::string* text);

// Turns terminal input bytes into key and mouse events. Returns how many bytes were used;
// an escape sequence cut short at the end is left for more bytes unless final is set.
size_t DecodeTerminalInput(const char* bytes, size_t n, bool final, std::vector<KbEvent>* out);
