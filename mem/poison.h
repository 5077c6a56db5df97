// AddressSanitizer sees only the runtime heap; blocks that the allocator keeps for itself
// (parked on a reuse ring, released in the LPM block) are poisoned by hand so that a use
// after free through them is still reported. Nothing in other builds.
#pragma once
#include "base/types.h"

#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define TAP_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAP_ASAN 1
#endif
#endif

#ifdef TAP_ASAN
#include <sanitizer/asan_interface.h>
#define TAP_NO_ASAN __attribute__((no_sanitize("address")))
inline void PoisonMem(const void* pt, U8 n) {
  __asan_poison_memory_region(pt, static_cast<std::size_t>(n));
}
inline void UnpoisonMem(const void* pt, U8 n) {
  __asan_unpoison_memory_region(pt, static_cast<std::size_t>(n));
}
#else
#define TAP_NO_ASAN
inline void PoisonMem(const void*, U8) {}
inline void UnpoisonMem(const void*, U8) {}
#endif

// The four bytes before pt: the allocator's own look at a descriptor it may have poisoned,
// or that belongs to memory it never handed out.
TAP_NO_ASAN inline U4 ReadSignatureBefore(const void* pt) {
  const volatile U1* p = static_cast<const volatile U1*>(pt) - 4;
  U1 b[4] = {p[0], p[1], p[2], p[3]};
  U4 v;
  std::memcpy(&v, b, 4);
  return v;
}
