// The descriptor in front of every tracked block and the memory kinds: the format that the
// allocator, the LPM pool, the reuse rings and the books share.
#pragma once
#include "base/types.h"

#include <bit>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The allocator's fast paths are inlined whatever the optimiser thinks of their size.
#if defined(__GNUC__)
#define TAP_HOT inline __attribute__((always_inline))
#else
#define TAP_HOT inline
#endif

// Memory kinds (memdsc::alloc_id).
inline constexpr U1 PERSISTENT = 0;
inline constexpr U1 TRANSITORY = 1;
inline constexpr U1 LPM = 2;
inline constexpr U1 MRF = 3;
inline constexpr U1 ZL = 4;

// Signature bytes C0 D1 E2 F3 in address order while live, reversed once freed. A heap
// block waiting on a reuse ring has an owner no more either, and a signature of its own.
inline constexpr U4 kMemDscLive = 0xF3E2D1C0u;
inline constexpr U4 kMemDscFreed = 0xC0D1E2F3u;
inline constexpr U4 kMemDscParked = 0xE2F3C0D1u;
inline constexpr U4 kMemDscSize = 32;
inline constexpr U4 kNoLpmx = 0xFFFFFFFFu; // lpmx of a heap block

struct memdsc {
  U4 sz;       // stored size of the user area (rounded, at least the request)
  U1 alloc_id; // memory kind
  U1 reserved[15];
  U4 lpmx;       // offset inside the LPM block, all ones for a heap block
  U4 alloc_time; // 0, or the millisecond clock at allocation on a developer machine
  U1 signature[4];
};
static_assert(sizeof(memdsc) == kMemDscSize, "the descriptor is an in-memory format");
static_assert(offsetof(memdsc, lpmx) == 20 && offsetof(memdsc, alloc_time) == 24 &&
                  offsetof(memdsc, signature) == 28 && std::endian::native == std::endian::little,
              "the stores below follow the descriptor's layout");

// sz and alloc_id of a block handed out in one store (with three reserved bytes 0).
TAP_HOT void SetDscHead(memdsc* d, U4 sz, U1 kind) {
  static_assert(offsetof(memdsc, alloc_id) == 4, "sz and alloc_id make the first word");
  const U8 v = sz | U8{kind} << 32;
  std::memcpy(d, &v, 8);
}
// The last three fields of a block handed out (lpmx, alloc_time 0 and the live signature)
// and its first four user bytes 0, in as few stores as the machine allows: the quick paths
// are bound by their stores. The user area holds at least four bytes.
TAP_HOT void SetDscTailLive(memdsc* d, U4 lpmx) {
  U1* at = reinterpret_cast<U1*>(d) + offsetof(memdsc, lpmx);
#if defined(__SSE2__)
  const __m128i live = _mm_set_epi32(0, static_cast<int>(kMemDscLive), 0, 0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at),
                   _mm_or_si128(_mm_cvtsi32_si128(static_cast<int>(lpmx)), live));
#else
  const U8 words[2] = {lpmx, U8{kMemDscLive}};
  std::memcpy(at, words, 16);
#endif
}
// alloc_time 0 and the signature sig in one store.
TAP_HOT void SetDscTimeAndSignature(memdsc* d, U4 sig) {
  const U8 v = U8{sig} << 32;
  std::memcpy(reinterpret_cast<U1*>(d) + offsetof(memdsc, alloc_time), &v, 8);
}

// The name of a memory kind (a static text for an unknown one, valid until the next call).
const char* AllocIdName(U1 kind);
