// libFuzzer target: finding dates and times in free text.
// Input: one byte that limits the length (0: up to the zero byte), then the text.
// Besides the sanitizers: every component found lies in its range and inside the text,
// every one not found has no span, and the result says whether a date part was found.
#include "errlog/errstack.h"
#include "time/parsetime.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

#define CHECK(cond)                                                                                \
  do {                                                                                             \
    if (!(cond)) __builtin_trap();                                                                 \
  } while (0)

void InRange(const TPComp& c, U2 lo, U2 hi, U4 n) {
  if (c.val == kTPNotFound) {
    CHECK(c.start == kAllU4 && c.end == kAllU4);
    return;
  }
  CHECK(c.val >= lo && c.val <= hi);
  CHECK(c.start < c.end && c.end <= n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  ClearErr();
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  U4 len = data[0] ? data[0] : kAllU4;
  U4 whole = static_cast<U4>(std::strlen(text.c_str()));
  U4 n = len < whole ? len : whole;
  TPDAT t;
  bool found = ParseTime(&t, text.c_str(), len);
  CHECK(ErrSet == (whole == 0)); // only an empty text is an error
  ClearErr();
  InRange(t.year, 1900, 2099, n);
  InRange(t.mon, 1, 12, n);
  InRange(t.mday, 1, 31, n);
  InRange(t.wday, 1, 7, n);
  InRange(t.hour, 0, 23, n);
  InRange(t.min, 0, 59, n);
  InRange(t.sec, 0, 59, n);
  InRange(t.msec, 0, 999, n);
  InRange(t.ampm, 1, 2, n);
  bool date_part = t.year.val != kTPNotFound || t.mon.val != kTPNotFound ||
                   t.mday.val != kTPNotFound || t.wday.val != kTPNotFound ||
                   t.hour.val != kTPNotFound;
  CHECK(found == date_part);
  return 0;
}
