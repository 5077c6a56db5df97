// libFuzzer target: dates and times in free text, found (ParseTime) and read into a
// calendar record (StToUTM). Input: a byte that limits ParseTime's length (0: up to the
// zero byte), a byte of StToUTM switches, then the text.
// Besides the sanitizers: every component found lies in its range and inside the text,
// every one not found has no span, the results say whether something was found, and only
// a reporting call leaves an error.
#include "errlog/errstack.h"
#include "time/parsetime.h"
#include "time/sttoutm.h"

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

// A record field is either unset or in its range.
template <typename T> void Field(T v, T unset, T lo, T hi) {
  CHECK(v == unset || (v >= lo && v <= hi));
}

void ReadRecord(const char* text, U1 sw) {
  U1 defaults = sw % 3, lead = (sw >> 2) % 3, trail = (sw >> 4) % 3;
  bool report = sw & 64;
  UTM u{};
  bool ok = StToUTM(&u, text, defaults, lead, trail, report);
  CHECK(report ? ok == !ErrSet : !ErrSet);
  ClearErr();
  if (!ok) return;
  Field<U2>(u.year, kUnsetU2, 1900, 2099);
  Field<U1>(u.mon, kUnsetU1, 1, 12);
  Field<U1>(u.mday, kUnsetU1, 1, 31);
  Field<U1>(u.wday, kUnsetU1, 1, 7);
  Field<U1>(u.hour, kUnsetU1, 0, 23);
  Field<U1>(u.min, kUnsetU1, 0, 59);
  Field<U1>(u.sec, kUnsetU1, 0, 59);
  Field<U2>(u.msec, kUnsetU2, 0, 999);
  HolidayName(u.year, u.mon, u.mday, u.wday, nullptr);
  U1 mon = 0, mday = 0;
  EasterDate(u.year, &mon, &mday, report);
  ClearErr();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  ClearErr();
  std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
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
  ReadRecord(text.c_str(), data[1]);
  return 0;
}
