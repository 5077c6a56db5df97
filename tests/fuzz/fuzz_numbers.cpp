// libFuzzer target: the number parsers and writers on arbitrary bytes.
// Input: one flag byte (lead, trail, report, letters), then the text.
// Besides the sanitizers, three properties are checked: the width wrappers agree with the
// 64-bit parser they wrap, and every writer's text reads back as the value written.
#include "errlog/errstack.h"
#include "text/numbers.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace {

#define CHECK(cond)                                                                                \
  do {                                                                                             \
    if (!(cond)) __builtin_trap();                                                                 \
  } while (0)

// The wrapper succeeds exactly when the wide parse succeeds within [lo, hi], with its value.
template <typename T, typename W> void SameAsWide(T narrow, U4 nidx, W wide, U4 widx, W lo, W hi) {
  bool wide_ok = widx == kAllU4 && wide >= lo && wide <= hi;
  CHECK(wide_ok == (nidx == kAllU4));
  if (wide_ok) CHECK(static_cast<W>(narrow) == wide);
  if (!wide_ok) CHECK(narrow == 0);
}

template <typename T> void Wrappers(const char* st, U1 lead, U1 trail) {
  using L = std::numeric_limits<T>;
  U4 n = 0, w = 0;
  if constexpr (L::is_signed) {
    I8 wide = St10I8(st, lead, trail, &w, false);
    T v;
    if constexpr (sizeof(T) == 1) v = St10I1(st, lead, trail, &n, false);
    if constexpr (sizeof(T) == 2) v = St10I2(st, lead, trail, &n, false);
    if constexpr (sizeof(T) == 4) v = St10I4(st, lead, trail, &n, false);
    SameAsWide<T, I8>(v, n, wide, w, L::min(), L::max());
  } else {
    U8 wide = St10U8(st, lead, trail, &w, false);
    T v;
    if constexpr (sizeof(T) == 1) v = St10U1(st, lead, trail, &n, false);
    if constexpr (sizeof(T) == 2) v = St10U2(st, lead, trail, &n, false);
    if constexpr (sizeof(T) == 4) v = St10U4(st, lead, trail, &n, false);
    SameAsWide<T, U8>(v, n, wide, w, 0, L::max());
  }
  CHECK(!ErrSet);
}

void RoundTrips(U8 raw) {
  char bf[128];
  U4 idx = 0;
  I8 s = static_cast<I8>(raw);
  CHECK(St10I8(VS10_MyBf(s, nullptr, false, bf, sizeof bf), 0, 0, &idx, true) == s);
  CHECK(St10U8(VS10_MyBf(raw, nullptr, false, bf, sizeof bf), 0, 0, &idx, true) == raw);
  CHECK(St16U8(VS16_MyBf(raw, nullptr, nullptr, bf, sizeof bf), 0, 0, &idx, true) == raw);
  CHECK(St8U8(VS8_MyBf(raw, nullptr, nullptr, bf, sizeof bf), 0, 0, &idx, true) == raw);
  // Durations: keep clear of the 64-bit edge, where the parsers rightly refuse.
  I8 d = s / 4;
  CHECK(StSecondsI8(SecondsS_MyBf(d, bf, sizeof bf), 0, 0, &idx, true) == d);
  CHECK(StMinutesI8(MinutesS_MyBf(d, bf, sizeof bf), 0, 0, &idx, true) == d);
  CHECK(!ErrSet);
  // Small buffers cut, never overrun.
  VS10_MyBf(s, nullptr, true, bf, 1 + raw % 12);
  VS10CS16X_MyBf(raw, bf, 1 + raw % 20);
  VSF_MyBf(static_cast<double>(s) / 1000.0, nullptr, raw & 1, bf, 1 + raw % 40);
  VSFN_MyBf(static_cast<double>(s) / 7.0, static_cast<U4>(raw % 24), raw & 2, bf, sizeof bf);
  MsecsS_MyBf(s, bf, 1 + raw % 30);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  ClearErr();
  U1 flags = data[0];
  std::string in(reinterpret_cast<const char*>(data + 1), size - 1);
  const char* st = in.c_str();
  U1 lead = flags & 3, trail = (flags >> 2) & 3;
  bool report = flags & 16;
  char letter = (flags & 32) ? 'X' : 0;
  U4 idx = 0, unit = 0, kind = 0;

  // Every parser on the text; a reported failure must leave exactly one pending error.
  auto done = [&] {
    CHECK(!ErrSet || report);
    ClearErr();
  };
  St16U8(st, lead, trail, &idx, report, letter);
  done();
  St8U8(st, lead, trail, &idx, report, letter ? 'O' : 0);
  done();
  St2U8(st, lead, trail, &idx, report, letter ? 'B' : 0);
  done();
  StFF8(st, lead, trail, &idx, report);
  done();
  StSecondsI8(st, lead, trail, &idx, report);
  done();
  StMinutesI8(st, lead, trail, &idx, report);
  done();
  StTMC8(st, lead, trail, &idx, report, &unit);
  done();
  StU8(st, lead, trail, &idx, report, flags & 64, flags & 128, &kind);
  done();
  StI8(st, lead, trail, &idx, report, flags & 64, flags & 128, &kind);
  done();
  StF8(st, lead, trail, &idx, report, flags & 64, flags & 128, &kind);
  done();
  StI4(st, lead, trail, &idx, report, flags & 64, flags & 128, &kind);
  done();
  StF4(st, lead, trail, &idx, report, flags & 64, flags & 128, &kind);
  done();
  TrueWord(st);
  FalseWord(st);

  Wrappers<U1>(st, lead, trail);
  Wrappers<U2>(st, lead, trail);
  Wrappers<U4>(st, lead, trail);
  Wrappers<I1>(st, lead, trail);
  Wrappers<I2>(st, lead, trail);
  Wrappers<I4>(st, lead, trail);

  U8 raw = 0;
  std::memcpy(&raw, in.data(), in.size() < sizeof raw ? in.size() : sizeof raw);
  RoundTrips(raw);

  char bf[256];
  PrintableText_MyBf(st, flags & 1 ? kAllU4 : static_cast<U4>(in.size()), flags, bf,
                     flags & 2 ? sizeof bf : 9);
  TextFN_MyBf(st, '_', bf, 1 + flags % sizeof bf);
  ClearErr();
  return 0;
}
