// Room in the executable for its own function names, filled in after linking (see
// cmake/EmbedSymbols.cmake); the stack walk finds it through embedded_symbol_table.
#include "platform/symtab/symtab.h"

namespace {
__attribute__((section(".tapsym"), used)) const char symtab_room[kSymtabRoom] = "TAPSYMT0";

struct Register {
  Register() { embedded_symbol_table = symtab_room; }
} register_table;
} // namespace
