#include "errlog/errstack.h"
#include "text/numbers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string U(U8 v, bool commas, const char* fmt = nullptr) {
  char bf[64];
  return VS10_MyBf(v, fmt, commas, bf, sizeof bf);
}
std::string I(I8 v, bool commas, const char* fmt = nullptr) {
  char bf[64];
  return VS10_MyBf(v, fmt, commas, bf, sizeof bf);
}

TEST(Format, Decimal) {
  EXPECT_EQ(U(0, false), "0");
  EXPECT_EQ(U(65535, false), "65535");
  EXPECT_EQ(U(UINT64_MAX, false), "18446744073709551615");
  EXPECT_EQ(U(999, true), "999");
  EXPECT_EQ(U(1000, true), "1,000");
  EXPECT_EQ(U(1234567, true), "1,234,567");
  EXPECT_EQ(U(1000000000000000000ull, true), "1,000,000,000,000,000,000");
  EXPECT_EQ(U(UINT64_MAX, true), "18,446,744,073,709,551,615");
  EXPECT_EQ(I(-1234567, true), "-1,234,567");
  EXPECT_EQ(I(-5, true), "-5");
  EXPECT_EQ(I(-32768, false), "-32768");
  EXPECT_EQ(I(INT64_MIN, false), "-9223372036854775808");
  EXPECT_EQ(I(INT64_MIN, true), "-9,223,372,036,854,775,808");
  EXPECT_EQ(I(INT64_MAX, true), "9,223,372,036,854,775,807");
  EXPECT_EQ(U(1234, true, "[%8s]"), "[   1,234]");
  EXPECT_EQ(U(42, false, "%05llu"), "00042");
  EXPECT_EQ(I(-42, false, "%+lld!"), "-42!");
  EXPECT_STREQ(VS10_U8(U8{1234567}, nullptr, true).bf, "1,234,567");
  EXPECT_STREQ(VS10_U8(U2{7}).bf, "7");
  EXPECT_STREQ(VS10_I8(I4{-7}).bf, "-7");
  char bf[32];
  EXPECT_STREQ(VS10CS16X_MyBf(1024, bf, sizeof bf), "1,024/400");
  EXPECT_STREQ(VS16_MyBf(255, "0x", nullptr, bf, sizeof bf), "0xFF");
  EXPECT_STREQ(VS8_MyBf(8, nullptr, nullptr, bf, sizeof bf), "10");
}

TEST(Format, DigitsForDebugLinesMatchPrintf) {
  const U8 hex[] = {0, 5, 0xbf, 0x1234, 0xFFFFFFFFFFFFFFFFull};
  const I8 dec[] = {0, 7, -2, 12345, 123456, INT64_MIN, INT64_MAX};
  char want[64];
  for (U8 v : hex) {
    std::snprintf(want, sizeof want, "%02llx", static_cast<unsigned long long>(v));
    EXPECT_STREQ(HexDigits(v, 2).bf, want);
    std::snprintf(want, sizeof want, "%llX", static_cast<unsigned long long>(v));
    EXPECT_STREQ(HexDigits(v, 1, true).bf, want);
  }
  for (I8 v : dec) {
    std::snprintf(want, sizeof want, "%5lld", static_cast<long long>(v));
    EXPECT_STREQ(DecDigits(v, 5).bf, want);
  }
  // Widths past the buffer are cut to what it holds.
  EXPECT_EQ(std::strlen(HexDigits(1, 100).bf), 16u);
  EXPECT_EQ(std::strlen(DecDigits(-1, 100).bf), 23u);
}

TEST(Format, FloatsKeepExponents) {
  char bf[64];
  EXPECT_STREQ(VSF_MyBf(2.5, nullptr, false, bf, sizeof bf), "2.5");
  EXPECT_STREQ(VSF_MyBf(3.0, nullptr, false, bf, sizeof bf), "3.0");
  EXPECT_STREQ(VSF_MyBf(3.0, nullptr, true, bf, sizeof bf), "3.000000");
  EXPECT_STREQ(VSF_MyBf(1.5e10, "%e", false, bf, sizeof bf), "1.5e+10");
  EXPECT_STREQ(VSF_MyBf(1e10, "%g", false, bf, sizeof bf), "1e+10");
  EXPECT_STREQ(VSF_MyBf(100.0, "%.0f", false, bf, sizeof bf), "100");
  EXPECT_STREQ(VSFN_MyBf(2.0, 3, false, bf, sizeof bf), "2.0");
  EXPECT_STREQ(VSFN_MyBf(2.125, 2, true, bf, sizeof bf), "2.12");
}

TEST(Format, Durations) {
  char bf[32];
  EXPECT_STREQ(SecondsS_MyBf(3723, bf, sizeof bf), "1:02:03");
  EXPECT_STREQ(SecondsS_MyBf(62, bf, sizeof bf), "1:02");
  EXPECT_STREQ(SecondsS_MyBf(-62, bf, sizeof bf), "-1:02");
  EXPECT_STREQ(MinutesS_MyBf(150, bf, sizeof bf), "2:30");
  EXPECT_STREQ(MsecsS_MyBf(3723004, bf, sizeof bf), "1:02:03:004");
  EXPECT_STREQ(MsecsS_MyBf(61001, bf, sizeof bf), "1:01:001");
  EXPECT_STREQ(SecondsS(INT64_MIN).bf, "-2562047788015215:30:08");
}

TEST(Format, PrintableText) {
  char bf[64];
  EXPECT_STREQ(PrintableText_MyBf("a\nb", kAllU4, 100, bf, sizeof bf), "a<LF>b");
  EXPECT_STREQ(PrintableText_MyBf("\tx", kAllU4, 100, bf, sizeof bf), "         x");
  EXPECT_STREQ(PrintableText_MyBf("ab\tx", kAllU4, 100, bf, sizeof bf), "ab       x");
  EXPECT_STREQ(PrintableText_MyBf("a\0b", 3, 100, bf, sizeof bf), "a<NUL>b");
  EXPECT_STREQ(PrintableText_MyBf(nullptr, kAllU4, 100, bf, sizeof bf), "(NULL)");
  EXPECT_STREQ(PrintableText_MyBf("", kAllU4, 100, bf, sizeof bf), "");
  EXPECT_STREQ(PrintableText_MyBf("abcdefgh", kAllU4, 6, bf, sizeof bf), "abc...");
  EXPECT_STREQ(PrintableText_MyBf("abcdef", kAllU4, 6, bf, sizeof bf), "abcdef");
  EXPECT_STREQ(PrintableText_MyBf("abcdefgh", kAllU4, 100, bf, 5), "a...");
  EXPECT_STREQ(PrintableText_MyBf("x", kAllU4, 100, nullptr, 5), "??");
  SeMErrMult("pending", nullptr);
  EXPECT_STREQ(PrintableText_MyBf("x", kAllU4, 100, bf, sizeof bf), "??");
  ClearErr();
}

TEST(Format, WritersStayInsideTheirSize) {
  // Guard bytes around the area catch any write past the given size, 0 included.
  for (U4 size : {0u, 1u, 2u, 3u, 4u, 7u}) {
    char area[16];
    std::memset(area, '#', sizeof area);
    char* bf = area + 4;
    PrintableText_MyBf("\x01\x02\x03\x04", kAllU4, 100, bf, size);
    TextFN_MyBf("a b:c*d", '_', bf, size);
    VS10_MyBf(U8{1234567}, nullptr, true, bf, size);
    VS10_MyBf(I8{-1234567}, "%s", true, bf, size);
    VSF_MyBf(1.25, nullptr, false, bf, size);
    SecondsS_MyBf(3723, bf, size);
    VS16_MyBf(0xABCDEF, "0x", nullptr, bf, size);
    for (U4 i = 0; i < sizeof area; ++i) {
      if (i < 4 || i >= 4 + size) {
        EXPECT_EQ(area[i], '#') << "size " << size << " byte " << i;
      }
    }
    if (size) {
      EXPECT_LT(std::strlen(bf), size);
    }
  }
}

TEST(Format, FileNames) {
  char bf[64];
  EXPECT_STREQ(TextFN_MyBf("a b`c", '_', bf, sizeof bf), "a_b'c");
  EXPECT_STREQ(TextFN_MyBf("x*y?z$|:\"/\\><\x01", '-', bf, sizeof bf), "x_y_z_________");
  EXPECT_STREQ(TextFN_MyBf("plain.txt", '_', bf, sizeof bf), "plain.txt");
#if defined(_WIN32)
  EXPECT_STREQ(TextFN_MyBf("a\xB4\x96z", '_', bf, sizeof bf), "a'-z");
#else
  EXPECT_STREQ(TextFN_MyBf("a\xC2\xB4\xE2\x80\x93z", '_', bf, sizeof bf), "a'-z");
  EXPECT_STREQ(TextFN_MyBf("caf\xC3\xA9", '_', bf, sizeof bf), "caf\xC3\xA9");
  // A cut never leaves half of a character behind.
  EXPECT_STREQ(TextFN_MyBf("ab\xC3\xA9\xC3\xA9xyz", '_', bf, 8), "ab\xC3\xA9...");
  EXPECT_STREQ(TextFN_MyBf("a\xC3\xA9\xC3\xA9xyz", '_', bf, 7), "a\xC3\xA9...");
  EXPECT_STREQ(TextFN_MyBf("ab\xC3\xA9xyz", '_', bf, 7), "ab...");
#endif
}

} // namespace
