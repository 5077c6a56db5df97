#include "errlog/errstack.h"
#include "text/numbers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class Numbers : public ::testing::Test {
protected:
  void SetUp() override { ClearErr(); }
  void TearDown() override { ClearErr(); }
  // The pending message without its callers group; clears the error.
  static std::string Take() {
    char bf[1024];
    return ErrMessage(false, false, bf, sizeof bf) ? bf : "";
  }
};

TEST_F(Numbers, LeadRules) {
  U4 idx = 0;
  EXPECT_EQ(St10I8("  -  42", 0, 0, &idx), -42);
  EXPECT_EQ(idx, kAllU4);
  EXPECT_EQ(St10I8("  -\t42", 0, 0, &idx), 0);
  EXPECT_EQ(idx, 2u);
  EXPECT_EQ(Take(), "Unexp integer char \"-\" in \"  -\t42\"");
  EXPECT_EQ(St10I8("abc 12", 0, 0, &idx), 0);
  EXPECT_EQ(idx, 0u);
  EXPECT_EQ(Take(), "Unexp integer char \"a\" in \"abc 12\"");
  EXPECT_EQ(St10I8("abc 12", 1, 0, &idx, false), 0);
  EXPECT_EQ(idx, 0u);
  EXPECT_EQ(St10I8("abc 12", 2, 0, &idx), 12);
  EXPECT_EQ(St10I8("abc12", 2, 0, &idx), 12);
  EXPECT_EQ(St10I8("(7)", 1, 1, &idx), 7);
  EXPECT_EQ(St10I8("(7)", 0, 2, &idx, false), 0);
  EXPECT_EQ(idx, 0u);
  EXPECT_EQ(St10I8("+7"), 7);
  EXPECT_EQ(St10I8("x=\x07", 2, 0, &idx), 0);
  EXPECT_EQ(Take(), "No integer in \"x=\x07\"") << "a text without digits";
  EXPECT_EQ(idx, 0u);
  EXPECT_EQ(St10I8("\x07"
                   "1",
                   0, 0, &idx),
            0);
  EXPECT_EQ(Take(), "Unexp integer char \"<BELL>\" in \"\x07"
                    "1\"");
  EXPECT_EQ(St10I8(nullptr, 0, 0, &idx), 0);
  EXPECT_EQ(idx, 0u);
  EXPECT_EQ(Take(), "St10I8:Null str");
}

TEST_F(Numbers, TrailRules) {
  U4 idx = 0;
  EXPECT_EQ(St10I8("12abc", 0, 1, &idx), 0);
  EXPECT_EQ(idx, 2u);
  EXPECT_EQ(Take(), "Unexp trailing integer char \"a\" in \"12abc\"");
  EXPECT_EQ(St10I8("12, x", 0, 1, &idx), 12);
  EXPECT_EQ(idx, kAllU4);
  EXPECT_EQ(St10I8("12 \t ", 0, 0, &idx), 12);
  EXPECT_EQ(St10I8("12 x", 0, 0, &idx, false), 0);
  EXPECT_EQ(idx, 3u);
  EXPECT_EQ(St10I8("12abc", 0, 2, &idx), 12);
}

TEST_F(Numbers, SixtyFourBitBoundaries) {
  U4 idx = 0;
  EXPECT_EQ(St10I8("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(St10I8("-9223372036854775808", 0, 0, &idx), INT64_MIN);
  EXPECT_EQ(idx, kAllU4);
  EXPECT_EQ(St10I8("9223372036854775808", 0, 0, &idx), 0);
  EXPECT_EQ(idx, 19u);
  EXPECT_EQ(Take(), "Integer overflow (9223372036854775808)");
  EXPECT_EQ(St10I8("-9223372036854775809", 0, 0, &idx, false), 0);
  EXPECT_EQ(idx, 20u);
  EXPECT_EQ(St10I8("18446744073709551616", 0, 0, &idx, false), 0);
  EXPECT_EQ(idx, 19u); // at the digit that does not fit
  EXPECT_EQ(St10U8("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(St10U8("018446744073709551616", 0, 0, &idx), 0u);
  EXPECT_EQ(Take(), "Unsigned integer overflow (018446744073709551616)");
  EXPECT_EQ(St10U8("0000000000000000000000000042"), 42u);
}

TEST_F(Numbers, UnsignedDecimal) {
  U4 idx = 0;
  EXPECT_EQ(St10U8("-5", 0, 0, &idx), 0u);
  EXPECT_EQ(idx, 0u);
  EXPECT_EQ(Take(), "Unexp unsigned integer char \"-\" in \"-5\"");
  EXPECT_EQ(St10U8("(-5", 1, 0, &idx, false), 0u); // lead 1 does not drop the sign
  EXPECT_EQ(idx, 1u);
  EXPECT_EQ(St10U8("+5"), 5u);
  EXPECT_EQ(St10U8("5q", 0, 1, &idx), 0u);
  EXPECT_EQ(Take(), "Unexp trailing integer char \"q\" in \"5q\"");
  EXPECT_EQ(St10U8("", 0, 0, &idx), 0u);
  EXPECT_EQ(Take(), "No integer in \"\"");
}

TEST_F(Numbers, RangeWrappers) {
  U4 idx = 0;
  EXPECT_EQ(St10U1("255"), 255);
  EXPECT_EQ(St10U1("256", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Integer value (256) > 255");
  EXPECT_EQ(St10U2("65535"), 65535);
  EXPECT_EQ(St10U2("65536", 0, 0, &idx), 0);
  EXPECT_EQ(idx, 0u);
  EXPECT_EQ(Take(), "Integer value (65536) > 65535");
  EXPECT_EQ(St10U4("4294967295"), 4294967295u);
  EXPECT_EQ(St10U4("4294967296", 0, 0, &idx), 0u);
  EXPECT_EQ(Take(), "Integer value (4294967296) > 4294967295");
  EXPECT_EQ(St10I1("-128"), -128);
  EXPECT_EQ(St10I1("127"), 127);
  EXPECT_EQ(St10I1("128", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Integer value (128) > 127");
  EXPECT_EQ(St10I1("-129", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Integer value (-129) < -128");
  EXPECT_EQ(St10I2("-32768"), -32768);
  EXPECT_EQ(St10I2("32767"), 32767);
  EXPECT_EQ(St10I2("-32769", 0, 0, &idx), 0);
  EXPECT_EQ(idx, 0u);
  EXPECT_EQ(Take(), "Integer value (-32769) < -32768");
  EXPECT_EQ(St10I2("32768", 0, 0, &idx, false), 0);
  EXPECT_FALSE(ErrSet);
  EXPECT_EQ(St10I4("-2147483648"), INT32_MIN);
  EXPECT_EQ(St10I4("2147483647"), INT32_MAX);
  EXPECT_EQ(St10I4("2147483648", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Integer value (2147483648) > 2147483647");
  EXPECT_EQ(St10I4("-2147483649", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Integer value (-2147483649) < -2147483648");
  EXPECT_EQ(St10I2("\t70000", 0, 0, &idx), 0); // the text is quoted in printable form
  EXPECT_EQ(Take(), "Integer value (         70000) > 32767");
  EXPECT_EQ(St10U2("x", 0, 0, &idx, false), 0); // a parse error keeps its position
  EXPECT_EQ(idx, 0u);
  EXPECT_EQ(St10U2("5 x", 0, 0, &idx, false), 0);
  EXPECT_EQ(idx, 2u);
}

TEST_F(Numbers, HexOctalBinary) {
  U4 idx = 0;
  EXPECT_EQ(St16U8("ffFF"), 0xFFFFu);
  EXPECT_EQ(St16U8("FFFFFFFFFFFFFFFF"), UINT64_MAX);
  EXPECT_EQ(St16U8("10000000000000000", 0, 0, &idx), 0u);
  EXPECT_EQ(idx, 16u);
  EXPECT_EQ(Take(), "Hex overflow (10000000000000000)");
  EXPECT_EQ(St16U8("-7FFFFFFFFFFFFFFF"), 0x8000000000000001u);
  EXPECT_EQ(St16U8("-8000000000000000", 0, 0, &idx, false), 0u);
  EXPECT_EQ(St16U8("x1F", 0, 0, &idx, true, 'X'), 0x1Fu);
  EXPECT_EQ(St16U8("- X1F", 0, 0, &idx, true, 'X'), U8{0} - 0x1F);
  EXPECT_EQ(St16U8("1F", 0, 0, &idx, true, 'X'), 0u);
  EXPECT_EQ(Take(), "No leading \"X\" in \"1F\"");
  EXPECT_EQ(St16U8("x", 0, 0, &idx, true, 'X'), 0u);
  EXPECT_EQ(Take(), "Unexp hex char \"x\" in \"x\"");
  EXPECT_EQ(St16U8("val x", 2, 0, &idx, true, 'X'), 0u);
  EXPECT_EQ(Take(), "No hex in \"val x\" that leads with X");
  EXPECT_EQ(St16U8("  ", 0, 0, &idx), 0u);
  EXPECT_EQ(Take(), "No hex in \"  \"");
  EXPECT_EQ(St16U8("1g", 0, 1, &idx), 0u);
  EXPECT_EQ(Take(), "Unexp trailing hex char \"g\" in \"1g\"");
  EXPECT_EQ(St16U1("FF"), 0xFF);
  EXPECT_EQ(St16U1("100", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Hex overflow (100) > max of 255");
  EXPECT_EQ(St16U2("FFFF"), 0xFFFF);
  EXPECT_EQ(St16U2("10000", 0, 0, &idx, false), 0);
  EXPECT_EQ(St16U4("FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(St16U4("100000000", 0, 0, &idx, false), 0u);

  EXPECT_EQ(St8U8("1777777777777777777777"), UINT64_MAX);
  EXPECT_EQ(St8U8("2000000000000000000000", 0, 0, &idx), 0u);
  EXPECT_EQ(Take(), "Octal overflow (2000000000000000000000)");
  EXPECT_EQ(St8U8("8", 0, 0, &idx), 0u);
  EXPECT_EQ(Take(), "Unexp octal char \"8\" in \"8\"");
  EXPECT_EQ(St8U8("", 0, 0, &idx), 0u);
  EXPECT_EQ(Take(), "No octal in \"\"");
  EXPECT_EQ(St8U8("78", 0, 0, &idx), 0u);
  EXPECT_EQ(Take(), "Unexp trailing octal char \"8\" in \"78\"");
  EXPECT_EQ(St8U1("377"), 255);
  EXPECT_EQ(St8U1("400", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Octal value (400) > max of 255");
  EXPECT_EQ(St8U2("177777"), 65535);
  EXPECT_EQ(St8U4("37777777777"), 0xFFFFFFFFu);
  EXPECT_EQ(St8U4("40000000000", 0, 0, &idx, false), 0u);

  EXPECT_EQ(St2U8(std::string(64, '1').c_str()), UINT64_MAX);
  EXPECT_EQ(St2U8(("1" + std::string(64, '0')).c_str(), 0, 0, &idx), 0u);
  EXPECT_EQ(Take().rfind("Binary overflow (1", 0), 0u);
  EXPECT_EQ(St2U8("b101", 0, 0, &idx, true, 'B'), 5u);
  EXPECT_EQ(St2U8("2", 0, 0, &idx), 0u);
  EXPECT_EQ(Take(), "Unexp binary char \"2\" in \"2\"");
  EXPECT_EQ(St2U8("-", 0, 0, &idx), 0u);
  EXPECT_EQ(Take(), "Unexp binary char \"-\" in \"-\"");
  EXPECT_EQ(St2U8(" ", 0, 0, &idx), 0u);
  EXPECT_EQ(Take(), "No binary in \" \"");
  EXPECT_EQ(St2U8("12", 0, 0, &idx), 0u);
  EXPECT_EQ(Take(), "Unexp trailing binary char \"2\" in \"12\"");
  EXPECT_EQ(St2U1("11111111"), 255);
  EXPECT_EQ(St2U1("100000000", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Binary value (100000000) > max of 255");
  EXPECT_EQ(St2U2("1111111111111111"), 65535);
  EXPECT_EQ(St2U4(std::string(32, '1').c_str()), 0xFFFFFFFFu);
  EXPECT_EQ(St2U4(("1" + std::string(32, '0')).c_str(), 0, 0, &idx, false), 0u);
}

TEST_F(Numbers, Floats) {
  U4 idx = 0;
  EXPECT_DOUBLE_EQ(StFF8("  -2.5"), -2.5);
  EXPECT_DOUBLE_EQ(StFF8(".5"), 0.5);
  EXPECT_DOUBLE_EQ(StFF8("1e3"), 1000.0);
  EXPECT_DOUBLE_EQ(StFF8("1e", 0, 2), 1.0);
  EXPECT_EQ(StFF8("0x10", 0, 1, &idx), 0.0); // no hexadecimal floats
  EXPECT_EQ(Take(), "Unexp trailing float char \"x\" in \"0x10\"");
  EXPECT_EQ(StFF8("inf", 0, 0, &idx), 0.0);
  EXPECT_EQ(Take(), "Unexp float char \"i\" in \"inf\"");
  EXPECT_EQ(StFF8("-", 0, 0, &idx), 0.0);
  EXPECT_EQ(Take(), "Unexp float char \"-\" in \"-\"");
  EXPECT_EQ(StFF8("", 0, 0, &idx), 0.0);
  EXPECT_EQ(Take(), "No float in \"\"");
  EXPECT_EQ(StFF8("1e999", 0, 0, &idx), 0.0);
  EXPECT_EQ(Take(), "Float overflow (1e999)");
  EXPECT_FLOAT_EQ(StF4("2.25"), 2.25f);
  EXPECT_EQ(StF4("1e39", 0, 0, &idx), 0.0f);
  EXPECT_EQ(Take(), "Float value (1e39) > max of 3.40282e+38");
}

TEST_F(Numbers, TimeQuantities) {
  U4 idx = 0, unit = 0;
  EXPECT_EQ(StSecondsI8("1:02:03"), 3723);
  EXPECT_EQ(StSecondsI8("-1:02"), -62);
  EXPECT_EQ(StSecondsI8("1:60", 0, 0, &idx), 0);
  EXPECT_EQ(idx, 2u);
  EXPECT_EQ(Take(), "Invalid seconds \"1:60\"");
  EXPECT_EQ(StSecondsI8("1:5", 0, 0, &idx), 0); // a colon without two digits ends the number
  EXPECT_EQ(idx, 1u);
  EXPECT_EQ(Take(), "Unexp trailing seconds char \":\" in \"1:5\"");
  EXPECT_EQ(StSecondsI8("1:5", 0, 2), 1);
  EXPECT_EQ(StSecondsI8("s", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Unexp seconds char \"s\" in \"s\"");
  EXPECT_EQ(StSecondsI8("", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "No seconds in \"\"");
  EXPECT_EQ(StSecondsI8("99999999999999999999", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Seconds/unsigned-integer overflow (99999999999999999999)");
  EXPECT_EQ(StSecondsI8("153722867280912931:00", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Seconds/integer overflow (153722867280912931:00)");
  EXPECT_EQ(StSecondsI8("-153722867280912930:08"), INT64_MIN);
  EXPECT_EQ(StMinutesI8("2:30"), 150);
  EXPECT_EQ(StMinutesI8("2:30:00", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Unexp trailing minutes char \":\" in \"2:30:00\"");
  EXPECT_EQ(StMinutesI8("2:75", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Invalid minutes \"2:75\"");
  EXPECT_EQ(StTMC8("5", 0, 0, &idx, true, &unit), 5);
  EXPECT_EQ(unit, 10u);
  EXPECT_EQ(StTMC8("1:30", 0, 0, &idx, true, &unit), 90);
  EXPECT_EQ(unit, 60u);
  EXPECT_EQ(StTMC8("1:00:01", 0, 0, &idx, true, &unit), 3601);
  EXPECT_EQ(unit, 3600u);
  EXPECT_EQ(StTMC8("1:99", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Invalid time-quantity \"1:99\"");
  EXPECT_EQ(StSecondsI4("596523:14:07"), INT32_MAX);
  EXPECT_EQ(StSecondsI4("596523:14:08", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Integer value (596523:14:08) > 2147483647");
  EXPECT_EQ(StMinutesI4("-35791394:08"), INT32_MIN);
  EXPECT_EQ(StMinutesI4("-35791394:09", 0, 0, &idx, false), 0);
  EXPECT_EQ(StTMC("1:00", 0, 0, &idx, true, &unit), 60);
}

TEST_F(Numbers, TimeQuantityMessages) {
  using Parser = I8 (*)(const char*, U1, U1, U4*, bool);
  auto tmc = [](const char* st, U1 lead, U1 trail, U4* pidx, bool report) {
    return StTMC8(st, lead, trail, pidx, report);
  };
  struct Family {
    Parser parse;
    const char* word;
    const char* cap;
  };
  for (Family f :
       {Family{StMinutesI8, "minutes", "Minutes"}, Family{tmc, "time-quantity", "Time-quantity"}}) {
    U4 idx = 0;
    f.parse("m", 0, 0, &idx, true);
    EXPECT_EQ(Take(), std::string("Unexp ") + f.word + " char \"m\" in \"m\"");
    f.parse("", 0, 0, &idx, true);
    EXPECT_EQ(Take(), std::string("No ") + f.word + " in \"\"");
    f.parse("5m", 0, 1, &idx, true);
    EXPECT_EQ(Take(), std::string("Unexp trailing ") + f.word + " char \"m\" in \"5m\"");
    f.parse("99999999999999999999", 0, 0, &idx, true);
    EXPECT_EQ(Take(), std::string(f.cap) + "/unsigned-integer overflow (99999999999999999999)");
    f.parse("9223372036854775807:00", 0, 0, &idx, true);
    EXPECT_EQ(Take(), std::string(f.cap) + "/integer overflow (9223372036854775807:00)");
  }
}

TEST_F(Numbers, GeneralParsers) {
  U4 kind = 0, idx = 0;
  EXPECT_EQ(StU8(" x1F", 0, 0, nullptr, true, false, false, &kind), 0x1Fu);
  EXPECT_EQ(kind, 16u);
  EXPECT_EQ(StU8("B101", 0, 0, nullptr, true, false, false, &kind), 5u);
  EXPECT_EQ(kind, 2u);
  EXPECT_EQ(StU8("1:30", 0, 0, nullptr, true, true, false, &kind), 90u);
  EXPECT_EQ(kind, 60u);
  EXPECT_EQ(StU8("1:30", 0, 0, &idx, false, false, false, &kind), 0u);
  EXPECT_EQ(StI8("-12", 0, 0, nullptr, true, false, false, &kind), -12);
  EXPECT_EQ(kind, 10u);
  EXPECT_DOUBLE_EQ(StF8("x10"), 16.0);
  EXPECT_EQ(StU1("x100", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Integer value (x100) > 255");
  EXPECT_EQ(StI2("-40000", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "Integer value (-40000) < -32768");
  // A text that is no date falls through to the decimal parser, whose verdict alone counts:
  // the date probe leaves no error of its own (an empty text once left one even unreported).
  EXPECT_EQ(StU8("", 3, 0, &idx, false, true, true, &kind), 0u);
  EXPECT_EQ(Take(), "");
  EXPECT_EQ(StI8("42", 0, 0, nullptr, true, false, true, &kind), 42);
  EXPECT_EQ(kind, 10u);
  EXPECT_EQ(StI8("", 0, 0, &idx, true, false, true, &kind), 0);
  EXPECT_EQ(Take(), "No integer in \"\"");
}

TEST_F(Numbers, PendingErrorParsesNothing) {
  SeMErrMult("earlier", nullptr);
  U4 idx = 7;
  EXPECT_EQ(St10I8("5", 0, 0, &idx), 0);
  EXPECT_EQ(idx, 0u);
  EXPECT_EQ(St10U2("5", 0, 0, &idx), 0);
  EXPECT_EQ(Take(), "earlier");
}

TEST_F(Numbers, BooleanWords) {
  for (const char* w : {"1", "true", "T", "Yes", "y", "on", "Activate", "ACTIVATED", "active",
                        "checked", "defined", "enabled", "enable", "high", "selected"})
    EXPECT_TRUE(TrueWord(w) && !FalseWord(w)) << w;
  for (const char* w :
       {"0", "false", "f", "no", "N", "off", "deactivate", "deactivated", "inactive", "unchecked",
        "undefined", "disabled", "disable", "low", "unselected"})
    EXPECT_TRUE(FalseWord(w) && !TrueWord(w)) << w;
  EXPECT_FALSE(TrueWord(nullptr));
  EXPECT_FALSE(TrueWord(""));
  EXPECT_FALSE(FalseWord(""));
  EXPECT_FALSE(TrueWord("yess"));
  EXPECT_STREQ(BoolText(true), "True");
  EXPECT_STREQ(BoolText(false, false), "false");
}

TEST_F(Numbers, DisplayNames) {
  EXPECT_STREQ(CharDisplayName(0), "<NUL>");
  EXPECT_STREQ(CharDisplayName(7), "<BELL>");
  EXPECT_STREQ(CharDisplayName(9), "\t");
  EXPECT_STREQ(CharDisplayName(31), "<US>");
  EXPECT_STREQ(CharDisplayName(255), "<?>");
  EXPECT_STREQ(CharDisplayName('A'), "A");
  EXPECT_EQ(digit_value[static_cast<U1>('z')], 35);
  EXPECT_EQ(digit_value[static_cast<U1>('/')], 255);
}

} // namespace
