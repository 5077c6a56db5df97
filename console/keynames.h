// The console keyboard's key values and their names.
#pragma once
#include "base/types.h"

inline constexpr U2 kKeyValueCount = 315;
inline constexpr U2 kKeyNone = 0xFFFF;
// Key values used by name.
inline constexpr U2 kKeyCtrlC = 3, kKeyPageUp = 270, kKeyPageDown = 273, kKeyUp = 274,
                    kKeyDown = 275;

// The name of a key value: "<Ctrl-A>", "<Enter>", "a", "<F1>", "<Shft-Up>" ...; "" beyond
// the table.
const char* KeyName(U2 key);
// The key value of a name (letter case ignored in bracketed names); kKeyNone when unknown.
U2 KeyValueOfName(const char* name);

// What the keyboard does at once with a key instead of queueing it.
enum KeyAction : U1 { kActQueue = 0, kActAbort = 1, kActDebug = 2, kActOutput = 4, kActPaste = 5 };
KeyAction KeyActionOf(U2 key);
