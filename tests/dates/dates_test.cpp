#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "time/clock.h"
#include "time/parsetime.h"
#include "time/sttoutm.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// year-mon-mday wday hour:min:sec.msec of what ParseTime found, "-" for a missing part.
std::string Parsed(const char* text, U4 len = kAllU4) {
  TPDAT tp{};
  ParseTime(&tp, text, len);
  auto v = [](const TPComp& c) {
    return c.val == kTPNotFound ? std::string("-") : std::to_string(c.val);
  };
  return v(tp.year) + "-" + v(tp.mon) + "-" + v(tp.mday) + " " + v(tp.wday) + " " + v(tp.hour) +
         ":" + v(tp.min) + ":" + v(tp.sec) + "." + v(tp.msec);
}

std::string Message() {
  char msg[1024];
  ErrMessage(false, false, msg, sizeof msg);
  return msg;
}

} // namespace

TEST(ParseTime, FormsAndRejections) {
  EXPECT_EQ(Parsed("12/31/2022 23:00:00"), "2022-12-31 - 23:0:0.-");
  EXPECT_EQ(Parsed("2022-12-31"), "2022-12-31 - -:-:-.-");
  EXPECT_EQ(Parsed("12/31/22"), "2022-12-31 - -:-:-.-");
  EXPECT_EQ(Parsed("31/12/2022"), "----- - -:-:-.-");
  EXPECT_EQ(Parsed("Dec 31 2022 11:05 PM"), "2022-12-31 - 23:5:-.-");
  EXPECT_EQ(Parsed("Saturday, 31 December 2022 12 AM"), "2022-12-31 7 0:-:-.-");
  EXPECT_EQ(Parsed("12 PM"), "----- - 12:-:-.-");
  EXPECT_EQ(Parsed("2022 Dec 31"), "2022-12-31 - -:-:-.-");
  EXPECT_EQ(Parsed("23:00:00:250"), "----- - 23:0:0.250");
  EXPECT_EQ(Parsed("23:00:00:25"), "----- - -:-:-.-");
  EXPECT_EQ(Parsed("13:00 PM"), "----- - -:-:-.-");
  EXPECT_EQ(Parsed("Jan 5 1899"), "--1-5 - -:-:-.-");
  EXPECT_EQ(Parsed("1/5/2100"), "----- - -:-:-.-");
  // Nothing beyond the given length is looked at.
  EXPECT_EQ(Parsed("Dec 31 2022", 5), "--12-3 - -:-:-.-");
  EXPECT_EQ(Parsed("12/31/2022", 5), "--12-31 - -:-:-.-");
  EXPECT_EQ(Parsed("10:30:15", 5), "----- - 10:30:-.-");

  TPDAT tp{};
  EXPECT_FALSE(ParseTime(&tp, nullptr, kAllU4));
  EXPECT_EQ(Message(), "ParseTime:tms=null");
  EXPECT_FALSE(ParseTime(nullptr, "1:00", kAllU4));
  EXPECT_EQ(Message(), "ParseTime:tpdat=null");
}

TEST(StToUTM, DefaultsChecksAndMessages) {
  UTM now{};
  ClockToUTM(&now);
  UTM u{};
  ASSERT_TRUE(StToUTM(&u, "10:30", kUtmToday, 0, 0, true));
  EXPECT_EQ(u.year, now.year);
  EXPECT_EQ(u.mday, now.mday);
  EXPECT_EQ(u.hour, 10);
  EXPECT_EQ(u.min, 30);
  EXPECT_EQ(u.sec, 0);
  EXPECT_EQ(u.msec, 0);
  ASSERT_TRUE(StToUTM(&u, "10:30", kUtmNow, 0, 0, true)); // no seconds of now left over
  EXPECT_EQ(u.sec, 0);
  EXPECT_EQ(u.msec, 0);
  ASSERT_TRUE(StToUTM(&u, "7/4/2023", kUtmNow, 0, 0, true));
  EXPECT_EQ(u.hour, 0);
  EXPECT_EQ(u.wday, 3); // Tuesday

  ASSERT_TRUE(StToUTM(&u, "12/31/2022 23:00:00", kUtmNoDefaults, 0, 0, true));
  std::tm tm{};
  tm.tm_year = 122, tm.tm_mon = 11, tm.tm_mday = 31, tm.tm_hour = 23, tm.tm_isdst = -1;
  EXPECT_EQ(u.timet, I8(std::mktime(&tm)));
  EXPECT_EQ(u.wday, 7);
  // Past 2038, with the platform's daylight saving and with it forced.
  ASSERT_TRUE(StToUTM(&u, "7/4/2040 12:00:00", kUtmNoDefaults, 0, 0, true));
  EXPECT_GT(u.timet, I8(0x7FFFFFFF));
  ASSERT_TRUE(StToUTM(&u, "7/4/2040 12:00:00 DST", kUtmNoDefaults, 0, 0, true));
  EXPECT_GT(u.timet, I8(0x7FFFFFFF));
  ASSERT_TRUE(StToUTM(&u, "12/31/2022", kUtmNoDefaults, 0, 0, true));
  EXPECT_EQ(u.hour, kUnsetU1);
  EXPECT_EQ(u.timet, kTimeTUndefined);

  // The day must exist in its month.
  EXPECT_TRUE(StToUTM(&u, "2/29/2024", kUtmNoDefaults, 0, 0, true));
  EXPECT_FALSE(StToUTM(&u, "2/29/2023", kUtmNoDefaults, 0, 0, false));
  EXPECT_FALSE(ErrSet);
  EXPECT_FALSE(StToUTM(&u, "2/31", kUtmNoDefaults, 0, 0, true));
  EXPECT_EQ(Message(), "Day 31 beyond the end of month 2 in \"2/31\"");
  EXPECT_TRUE(StToUTM(&u, "2/29", kUtmNoDefaults, 0, 0, true));

  // Text around the date.
  EXPECT_FALSE(StToUTM(&u, "at 10:30", kUtmToday, 0, 0, true));
  EXPECT_EQ(Message(), "Unexp leading date/time text \"at \"");
  EXPECT_EQ(u.hour, 10); // what was found stays
  EXPECT_FALSE(StToUTM(&u, "(10:30", kUtmToday, 0, 0, false));
  EXPECT_TRUE(StToUTM(&u, "(10:30", kUtmToday, 1, 0, true));
  EXPECT_TRUE(StToUTM(&u, " - 10:30", kUtmToday, 0, 0, true));
  EXPECT_FALSE(StToUTM(&u, "10:30 xyz", kUtmToday, 0, 0, true));
  EXPECT_EQ(Message(), "Unexp trailing date/time character \"x\" in \"10:30 xyz\"");
  EXPECT_TRUE(StToUTM(&u, "10:30 xyz", kUtmToday, 0, 1, true));
  EXPECT_FALSE(StToUTM(&u, "10:30xyz", kUtmToday, 0, 1, false));
  EXPECT_TRUE(StToUTM(&u, "10:30xyz", kUtmToday, 0, 2, true));
  EXPECT_TRUE(StToUTM(&u, "10:30 DST", kUtmToday, 0, 0, true));

  EXPECT_FALSE(StToUTM(&u, "hello", kUtmToday, 0, 0, true));
  EXPECT_EQ(Message(), "No time in \"hello\"");
  EXPECT_EQ(u.year, now.year); // the defaults stay
  EXPECT_FALSE(StToUTM(&u, "", kUtmToday, 0, 0, true));
  EXPECT_EQ(Message(), "StToUTM:tms=empty");
  EXPECT_FALSE(StToUTM(&u, nullptr, kUtmToday, 0, 0, true));
  EXPECT_EQ(Message(), "StToUTM:tms=null");
  EXPECT_FALSE(ErrSet);
}

TEST(Holidays, KnownYears) {
  struct Day {
    U2 y;
    U1 m, d;
    const char* name;
  };
  const Day days[] = {{2023, 1, 1, "New years"},
                      {2023, 1, 16, "MLK Day"},
                      {2023, 2, 20, "Washingtons birthday"},
                      {2023, 4, 9, "Easter"},
                      {2023, 5, 14, "Mothers day"},
                      {2023, 5, 29, "Memorial day"},
                      {2023, 6, 18, "Fathers day"},
                      {2023, 7, 4, "Independence day"},
                      {2023, 9, 4, "Labor day"},
                      {2023, 10, 9, "Columbus day"},
                      {2023, 11, 11, "Veterans day"},
                      {2023, 11, 23, "Thanksgiving"},
                      {2023, 12, 25, "Christmas"},
                      {2024, 5, 27, "Memorial day"},
                      {2024, 3, 31, "Easter"},
                      {2023, 5, 22, "-"},
                      {2023, 11, 30, "-"},
                      {2023, 1, 9, "-"}};
  for (const Day& d : days)
    EXPECT_STREQ(HolidayName(d.y, d.m, d.d, DayOfWeek(d.y, d.m, d.d), "-"), d.name)
        << d.y << "/" << int(d.m) << "/" << int(d.d);
}

TEST(Holidays, EasterAcrossTheTable) {
  // The anonymous Gregorian computation, independent of the table.
  for (U2 y = 2013; y <= 2099; ++y) {
    const int a = y % 19, b = y / 100, c = y % 100, d = b / 4, e = b % 4, f = (b + 8) / 25;
    const int g = (b - f + 1) / 3, h = (19 * a + b - d - g + 15) % 30, i = c / 4, k = c % 4;
    const int l = (32 + 2 * e + 2 * i - h - k) % 7, m = (a + 11 * h + 22 * l) / 451;
    const int mon = (h + l - 7 * m + 114) / 31, day = (h + l - 7 * m + 114) % 31 + 1;
    U1 em = 0, ed = 0;
    const char* text = EasterDate(y, &em, &ed, true);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(em, mon) << y;
    EXPECT_EQ(ed, day) << y;
    EXPECT_EQ(std::string(text), std::to_string(mon) + "/" + std::to_string(day));
  }
  EXPECT_STREQ(EasterDate(2024, nullptr, nullptr, true), "3/31");
  EXPECT_EQ(EasterDate(2012, nullptr, nullptr, false), nullptr);
  EXPECT_FALSE(ErrSet);
  EXPECT_EQ(EasterDate(2100, nullptr, nullptr, true), nullptr);
  EXPECT_EQ(Message(), "Easter unknown for year 2100");
}

TEST(LogStamps, OldLinesOfAnotherLayoutGo) {
  namespace fs = std::filesystem;
  const fs::path fn =
      fs::temp_directory_path() /
      ("tapster_dates_" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".log");
  const char* saved = log_time_pattern;
  log_time_pattern = "2022-12-31 23:00:00";
  char young[64]; // stamped as the log stamps its lines
  TimeTS_MyBf(I8(ClockSecs()), log_time_pattern, young, sizeof young);
  {
    std::ofstream f(fn, std::ios::binary);
    f << "2020-01-02 10:00:00(    0) old\r\n2020-01-02 10:00:01(    1) older\r\n"
      << young << "(    5) young\r\n";
  }
  EXPECT_TRUE(RemoveOldLogLines(fn.string().c_str(), 3600));
  std::ifstream f(fn, std::ios::binary);
  std::stringstream kept;
  kept << f.rdbuf();
  EXPECT_EQ(kept.str(), std::string(young) + "(    5) young\r\n");
  log_time_pattern = saved;
  f.close();
  fs::remove(fn);
  EXPECT_FALSE(ErrSet);
}

TEST(StToUTM, ForcedDaylightSavingAndDatesBefore1970) {
  // Forced daylight saving moves the time by at most an hour, never by a year or a day.
  UTM plain{}, dst{};
  ASSERT_TRUE(StToUTM(&plain, "7/4/2023 12:00:00", kUtmNoDefaults, 0, 0, true));
  ASSERT_TRUE(StToUTM(&dst, "7/4/2023 12:00:00 DST", kUtmNoDefaults, 0, 0, true));
  EXPECT_LE(std::llabs(dst.timet - plain.timet), 3600LL);
  ASSERT_TRUE(StToUTM(&dst, "1/15/2024 12:00:00 DST", kUtmNoDefaults, 0, 0, true));
  ASSERT_TRUE(StToUTM(&plain, "1/15/2024 12:00:00", kUtmNoDefaults, 0, 0, true));
  EXPECT_LE(std::llabs(dst.timet - plain.timet), 3600LL);

  UTM old{};
  EXPECT_FALSE(StToUTM(&old, "1/1/1960 12:00:00", kUtmNoDefaults, 0, 0, true));
  EXPECT_EQ(Message(), std::string("mktime (Error #22: ") + std::strerror(22) + ")");
}
