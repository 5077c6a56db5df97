// The function-name table that a build step writes into the executable.
#pragma once

inline constexpr unsigned kSymtabRoom = 1u << 19; // the sanitizer build needs about 300 KB

// The table of the executable, null when it was linked without one.
extern const char* embedded_symbol_table;

// Whether the table has been written into the executable (not just its room reserved).
bool EmbeddedTableReady();
// The name of the function at rva (the distance from the executable's load base) and
// the distance from its start; false when the table has none.
bool EmbeddedTableLookup(unsigned rva, char* name, unsigned size, unsigned long long* offset);
