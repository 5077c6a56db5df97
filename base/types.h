// Fixed-width names used across the library: U1..U8 unsigned, I1..I8 signed (bytes).
#pragma once
#include <cstddef>
#include <cstdint>

using U1 = std::uint8_t;
using U2 = std::uint16_t;
using U4 = std::uint32_t;
using U8 = std::uint64_t;
using I1 = std::int8_t;
using I2 = std::int16_t;
using I4 = std::int32_t;
using I8 = std::int64_t;

// Lengths and counts of "all" or "count it yourself".
inline constexpr U4 kAllU4 = 0xFFFFFFFFu;

// Functions taking a list of texts ended by a null pointer ("Mult" lists).
#if defined(__GNUC__)
#define TAP_SENTINEL __attribute__((sentinel))
#else
#define TAP_SENTINEL
#endif
