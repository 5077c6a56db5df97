// Console key events (virtual-key code and modifier state) to key values.
#pragma once
#include "base/types.h"

#include <vector>

// Modifier mask bits of a map entry.
inline constexpr U2 KMB_ENH = 0x001, KBM_SHIFT = 0x002, KMB_NOSHIFT = 0x004, KMB_NUM = 0x008,
                    KMB_NONUM = 0x010, KMB_CTL = 0x020, KBM_NOCTL = 0x040, KMB_ALT = 0x080,
                    KMB_NOALT = 0x100;

struct KBMapEntry {
  U2 vk;
  U2 mask;
  U2 key;
};
inline constexpr U2 kKBMapEnd = 0xFFFF;

// The built-in rows: key name in columns 0 to 15, the code in 16 to 23, the modifier names
// joined by " | " from 24; ";" from column 1 on starts a comment.
extern const char* const kKBMapRows[];
extern const U4 kKBMapRowCount;

// Builds a map (ended by an entry with code kKBMapEnd) from rows; rows too short or naming
// no known key are skipped. False with an error pending when a code does not parse.
bool ParseKBMap(const char* const* rows, U4 count, std::vector<KBMapEntry>* map);
// The key value of a key press: the first entry for vk with the same enhanced state whose
// modifier conditions hold, else ch. state holds the kKs... bits of platform/console.h.
U2 MapKeyEvent(const std::vector<KBMapEntry>& map, U2 vk, U1 ch, U4 state);
