#include "mem/memdsc.h"

#include <cstdio>

const char* AllocIdName(U1 kind) {
  static const char* const names[] = {"PERSISTENT", "TRANSITORY", "LPM", "MRF", "ZL"};
  if (kind < 5) return names[kind];
  static char other[32];
  std::snprintf(other, sizeof other, "ALLOC_ID_?%u", unsigned{kind});
  return other;
}
