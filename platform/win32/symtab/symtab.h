// The function-name table that a build step writes into the executable.
#pragma once

inline constexpr unsigned kSymtabRoom = 1u << 20;

// The table of the executable, null when it was linked without one.
extern const char* embedded_symbol_table;
