#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "platform/fake/fake_clock.h"
#include "platform/timeofday.h"
#include "time/clock.h"
#include "time/parsetime.h"
#include "time/utm.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {
UTM Make(U2 year, U1 mon, U1 mday, U1 hour = 0, U1 min = 0, U1 sec = 0, U2 msec = 0) {
  UTM u{};
  u.timet = kTimeTUndefined;
  u.year = year;
  u.mon = mon;
  u.mday = mday;
  u.wday = DayOfWeek(year, mon, mday);
  u.hour = hour;
  u.min = min;
  u.sec = sec;
  u.msec = msec;
  return u;
}

std::string Fmt(const UTM& u, const char* pattern) {
  char bf[80];
  return TimeS_MyBf(&u, pattern, bf, sizeof bf);
}

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}
} // namespace

TEST(Clock, ElapsedRules) {
  EXPECT_EQ(ElapsedMsecs(0, 12345), 4294967295u);
  EXPECT_EQ(ElapsedMsecs(4294967290u, 5), 11u);
  EXPECT_EQ(ElapsedMsecs(100, 350), 250u);
  EXPECT_EQ(ElapsedSecs(0, 5), 4294967u);
  EXPECT_EQ(ElapsedMsecs64(0, 9), ~U8{0});
  EXPECT_EQ(ElapsedSecs64(1000, 61000), 60u);
  EXPECT_EQ(ElapsedMins64(1, 1 + 3 * 60000), 3u);
  EXPECT_EQ(ElapsedHours64(1, 1 + 2 * 3600000), 2u);
}

TEST(Clock, MillisecondClockWrapsButNeverReadsZero) {
  ScopedFakeClock fake;
  const U8 offset = ClockUsecs() - fake.clock.nowUsecs; // fixed at first use
  EXPECT_EQ(offset % 1000, 0u);
  // Put the clock 5 ms before its low 32 bits pass 0.
  const U8 wrap_ms = ((ClockMsecs64() >> 32) + 1) << 32;
  fake.clock.nowUsecs = (wrap_ms - 5) * 1000 - offset;
  const U4 start = ClockMsecs();
  EXPECT_EQ(start, 4294967291u);
  fake.clock.Advance(5000);
  EXPECT_EQ(ClockMsecs(), 1u) << "0 means never started";
  fake.clock.Advance(2000);
  EXPECT_EQ(ClockMsecs(), 2u);
  fake.clock.Advance(8000);
  EXPECT_EQ(ElapsedMsecs(start), 15u);
  EXPECT_EQ(ClockMsecs64(), wrap_ms + 10);
}

TEST(Clock, SleepGoesThroughTheClockAndLogsLongSleeps) {
  ScopedFakeClock fake;
  const U1 saved = debug_level;
  debug_level = 1;
  SleepMsecs(0);
  EXPECT_TRUE(fake.clock.sleeps.empty());
  SleepMsecs(1500);
  EXPECT_NE(std::strstr(log_line, "SleepMsecs:1500"), nullptr) << log_line;
  log_line[0] = '\0';
  SleepMsecs(1000);
  EXPECT_EQ(log_line[0], '\0') << "a second or less is not logged";
  SleepSecs(2);
  debug_level = saved;
  EXPECT_EQ(fake.clock.sleeps, (std::vector<U4>{1500, 1000, 2000}));
}

TEST(Clock, ReadsAsCalendarTime) {
  // The monotonic count is shifted by calendar time minus uptime, so both bases must agree.
  const I8 diff = I8(ClockSecs()) - PlatformCalendarSecs();
  EXPECT_LE(diff < 0 ? -diff : diff, 2) << diff;
}

TEST(Clock, ProcessTimeIsCounted) {
  // Systems count process time in ticks of 10 ms or more: work until one has been counted.
  volatile U8 sink = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ProcessUSecs() == 0 && std::chrono::steady_clock::now() < end)
    for (U4 i = 0; i < 1000000; ++i)
      sink = sink + i;
  EXPECT_GT(ProcessUSecs(), 0u);
  EXPECT_FALSE(ErrSet);
}

TEST(Calendar, LeapYearsMonthsAndWeekdays) {
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_FALSE(IsLeapYear(2100));
  EXPECT_EQ(DaysInMonth(2, 1900), 28);
  EXPECT_EQ(DaysInMonth(2, 2000), 29);
  EXPECT_EQ(DaysInMonth(12, 2023), 31);
  EXPECT_EQ(DaysInYear(2000), 366);
  EXPECT_EQ(DaysInYear(2100), 365);
  EXPECT_EQ(DayOfWeek(2000, 1, 1), 7);
  EXPECT_EQ(DayOfWeek(1999, 12, 31), 6);
  EXPECT_EQ(DayOfWeek(2024, 3, 15), 6);
  EXPECT_EQ(DayOfWeek(2024, 2, 29), 5);
  EXPECT_EQ(DayOfWeek(2024, 13, 1), 0xFF);
  EXPECT_EQ(DayOfWeek(2024, 1, 0), 0xFF);
  EXPECT_EQ(DayOfWeek(2024, 1, 32), 0xFF);
  UTM u = Make(2022, 12, 31);
  EXPECT_EQ(UTMDayOfWeek(&u), 7);
  EXPECT_EQ(UTMDayOfWeek(nullptr), 0);
  // Every few days from 1970 to 2099 against the runtime's own calendar.
  for (I8 t = 0; t < I8(4102444800); t += 86400 * 3 + 3600) {
    ASSERT_TRUE(TIME_TToUTM(&u, t, true));
    ASSERT_EQ(DayOfWeek(u.year, u.mon, u.mday), u.wday) << u.year << "-" << int(u.mon);
  }
}

TEST(Records, AddMillisecondsAgreesWithTheCalendar) {
  UTM u = Make(2023, 12, 31, 23, 59, 59, 999);
  UTMAddMsecs(&u, 1);
  EXPECT_EQ(UTMKey(&u), UTMKey(&(const UTM&)Make(2024, 1, 1)));
  EXPECT_EQ(u.wday, 2);
  UTMAddMsecs(&u, -1);
  EXPECT_EQ(Fmt(u, kTimeFullPattern), "12/31/2023 Sunday 23:59:59:999");
  u = Make(2024, 2, 28, 12);
  UTMAddMsecs(&u, I8(kMsecsPerDay));
  EXPECT_EQ(u.mday, 29);
  u = Make(2023, 3, 1, 0, 0, 0, 500);
  UTMAddMsecs(&u, -501);
  EXPECT_EQ(Fmt(u, kTimeFullPattern), "2/28/2023 Tuesday 23:59:59:999");

  // Steps of every size, both ways, against conversions of the seconds count.
  const I8 base = 1700000000; // 2023-11-14
  const I8 steps[] = {1,
                      999,
                      1001,
                      59999,
                      3600001,
                      86399999,
                      86400000LL * 400 + 12345,
                      -1,
                      -1001,
                      -86400001,
                      -86400000LL * 800 - 7};
  for (I8 ms : steps) {
    UTM a{};
    TIME_TToUTM(&a, base, true);
    a.msec = 250;
    UTMAddMsecs(&a, ms);
    const I8 total_ms = base * 1000 + 250 + ms;
    const I8 secs = total_ms >= 0 ? total_ms / 1000 : -((999 - total_ms) / 1000);
    UTM b{};
    TIME_TToUTM(&b, secs, true);
    b.msec = U2(total_ms - secs * 1000);
    EXPECT_EQ(UTMKey(&a), UTMKey(&b)) << ms;
    EXPECT_EQ(a.wday, b.wday) << ms;
    EXPECT_EQ(a.timet, b.timet) << ms;
  }
}

TEST(Records, KeysClearingAndConversions) {
  UTM a = Make(2024, 3, 5, 9, 7, 3, 42), b = Make(2024, 3, 5, 9, 7, 4);
  EXPECT_LT(UTMKey(&a), UTMKey(&b));
  EXPECT_EQ(UTMKey(&a) >> 48, 2024u);
  UTM unset = a;
  unset.hour = kUnsetU1;
  unset.msec = kUnsetU2;
  EXPECT_EQ(UTMKey(&unset) & 0xFFFFFFFFu, 7u * 60000 + 3000);
  EXPECT_EQ(UTMKey(nullptr), 0u);

  EXPECT_TRUE(ClearUTM(&a));
  EXPECT_TRUE(UTMIsEmpty(&a));
  EXPECT_FALSE(ClearUTM(nullptr));
  char msg[256];
  EXPECT_STREQ(ErrMessage(false, false, msg, sizeof msg), "ClearUTM:utmp=null");

  TIME_TToUTM(&a, kTimeTUndefined, false);
  EXPECT_TRUE(UTMIsEmpty(&a));
  TIME_TToUTM(&a, 1709629623, true); // 2024-03-05 09:07:03 UTC
  EXPECT_EQ(Fmt(a, "12/31/2022 23:00:00"), "3/5/2024 09:07:03");
  FiletimeToUTM(&b, (U8(1709629623) + 11644473600u) * 10000000u + 1230000u);
  EXPECT_EQ(b.msec, 123);
  // A local record converts back to its own seconds, summer and winter.
  for (I8 t : {I8(1709629623), I8(1710936000), I8(1720000000), I8(1699999999), I8(1730612400)}) {
    TIME_TToUTM(&a, t, false);
    EXPECT_EQ(UTMToTIME_T(&a), t);
  }
  EXPECT_FALSE(ErrSet);
}

TEST(Records, TimesPast2038AndFileTimesBefore1970) {
  // Noon UTC keeps its date in every zone within twelve hours.
  struct Noon {
    I8 t;
    U2 year;
    U1 mon, mday, wday;
  };
  const Noon noons[] = {{2225016000, 2040, 7, 4, 4}, {4102401600, 2099, 12, 31, 5}};
  UTM a{};
  char bf[64];
  for (const Noon& n : noons) {
    ASSERT_TRUE(TIME_TToUTM(&a, n.t, false)) << n.t;
    EXPECT_EQ(a.year, n.year);
    EXPECT_EQ(a.mon, n.mon);
    EXPECT_EQ(a.mday, n.mday);
    EXPECT_EQ(a.wday, n.wday);
    EXPECT_EQ(UTMToTIME_T(&a), n.t);
    EXPECT_EQ(std::string(TimeTS_MyBf(n.t, "12/31/2022", bf, sizeof bf)),
              std::to_string(n.mon) + "/" + std::to_string(n.mday) + "/" + std::to_string(n.year));
    FiletimeToUTM(&a, (U8(n.t) + 11644473600u) * 10000000u);
    EXPECT_EQ(a.year, n.year);
    EXPECT_EQ(a.mday, n.mday);
  }
  // 1960-06-15 12:00:00.456 UTC, a Wednesday.
  FiletimeToUTM(&a, U8(-301233600 + 11644473600) * 10000000u + 4560000u);
  EXPECT_EQ(a.year, 1960);
  EXPECT_EQ(a.mon, 6);
  EXPECT_EQ(a.mday, 15);
  EXPECT_EQ(a.wday, 4);
  EXPECT_EQ(a.msec, 456);
  EXPECT_GE(ClockYear(), 2026);
  EXPECT_LE(ClockYear(), 2099);
  EXPECT_FALSE(ErrSet);
}

TEST(DaylightSaving, UnitedStatesSwitchDaysAndTheDstVariable) {
  SetEnv("DST", nullptr);
  const UTM before = Make(2024, 3, 10, 1, 59), after = Make(2024, 3, 10, 2, 0);
  EXPECT_FALSE(DaylightSavingsActive(nullptr, &before));
  EXPECT_TRUE(DaylightSavingsActive(nullptr, &after));
  const UTM nov_early = Make(2024, 11, 3, 1, 59), nov_late = Make(2024, 11, 3, 2, 0);
  EXPECT_TRUE(DaylightSavingsActive(nullptr, &nov_early));
  EXPECT_FALSE(DaylightSavingsActive(nullptr, &nov_late));
  const UTM march_9 = Make(2024, 3, 9, 23), july = Make(2024, 7, 1), dec = Make(2024, 12, 1);
  EXPECT_FALSE(DaylightSavingsActive(nullptr, &march_9));
  EXPECT_TRUE(DaylightSavingsActive(nullptr, &july));
  EXPECT_FALSE(DaylightSavingsActive(nullptr, &dec));
  SetEnv("DST", "false");
  EXPECT_FALSE(DaylightSavingsActive(nullptr, &july));
  SetEnv("DST", "");
  EXPECT_TRUE(DaylightSavingsActive(nullptr, &july));
  SetEnv("DST", nullptr);
}

TEST(Formatting, SamplePatterns) {
  EXPECT_EQ(Fmt(Make(2024, 3, 5, 0, 0, 0), "12:00:00 AM"), "12:00:00 AM");
  EXPECT_EQ(Fmt(Make(2024, 3, 5, 12, 0, 0), "12:00:00 AM"), "12:00:00 PM");
  EXPECT_EQ(Fmt(Make(2024, 3, 5, 14, 5, 9), nullptr), "2:05:09 PM");
  const UTM u = Make(2024, 3, 5, 9, 7, 3, 42);
  EXPECT_EQ(Fmt(u, "12/31/2022 23:00:00"), "3/5/2024 09:07:03");
  EXPECT_EQ(Fmt(u, kTimeFullPattern), "3/5/2024 Tuesday 09:07:03:042");
  EXPECT_EQ(Fmt(u, "01/01/2006 12:00:00"), "03/05/2024 9:07:03");
  EXPECT_EQ(Fmt(u, "Dec 31 2022, Wed"), "Mar 5 2024, Tue");
  EXPECT_EQ(Fmt(u, "December 31 2022 1 PM"), "March 5 2024 09 AM");
  EXPECT_EQ(Fmt(u, "12/31/22 11 AM"), "3/5/24 9 AM");
  UTM odd = u;
  odd.mon = 0;
  EXPECT_EQ(Fmt(odd, "Dec 31 2022"), "0? 5 2024");
  char bf[8];
  EXPECT_STREQ(TimeS_MyBf(&u, kTimeFullPattern, bf, sizeof bf), "3/5/...");
  char big[64];
  EXPECT_STREQ(TimeTS_MyBf(kTimeTUndefined, nullptr, big, sizeof big), "?");
  SeMErrMult("pending", nullptr);
  EXPECT_STREQ(TimeS_MyBf(&u, nullptr, big, sizeof big), "?");
  ClearErr();
}

namespace {
// year-mon-mday hour:min:sec.msec of what ParseTime found; "-" for a component not found.
std::string Parsed(const char* text) {
  TPDAT tp{};
  ParseTime(&tp, text, kAllU4);
  std::string out;
  const TPComp* comps[] = {&tp.year, &tp.mon, &tp.mday, &tp.hour, &tp.min, &tp.sec, &tp.msec};
  const char* seps[] = {"-", "-", " ", ":", ":", ".", ""};
  for (int i = 0; i < 7; ++i)
    out += (comps[i]->val == kTPNotFound ? "_" : std::to_string(comps[i]->val)) + seps[i];
  return out;
}
} // namespace

TEST(ParseTime, DatesAndTimesInText) {
  EXPECT_EQ(Parsed("12/31/2022 23:00:00"), "2022-12-31 23:0:0._");
  EXPECT_EQ(Parsed("2022-12-31"), "2022-12-31 _:_:_._");
  EXPECT_EQ(Parsed("12/31/22"), "2022-12-31 _:_:_._");
  EXPECT_EQ(Parsed("31/12/2022"), "_-_-_ _:_:_._");
  EXPECT_EQ(Parsed("Dec 31 2022 11:05 PM"), "2022-12-31 23:5:_._");
  EXPECT_EQ(Parsed("2022 Dec 31"), "2022-12-31 _:_:_._");
  EXPECT_EQ(Parsed("on 31 December 1899"), "_-12-31 _:_:_._");
  EXPECT_EQ(Parsed("12 AM"), "_-_-_ 0:_:_._");
  EXPECT_EQ(Parsed("12 PM"), "_-_-_ 12:_:_._");
  EXPECT_EQ(Parsed("23:00:00:250"), "_-_-_ 23:0:0.250");
  EXPECT_EQ(Parsed("23:00:00:25"), "_-_-_ _:_:_._");
  TPDAT tp{};
  EXPECT_FALSE(ParseTime(&tp, "", kAllU4));
  char msg[256];
  EXPECT_STREQ(ErrMessage(false, false, msg, sizeof msg), "ParseTime:tms=empty");
}
