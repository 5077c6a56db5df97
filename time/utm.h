// The calendar time record, its conversions, calendar arithmetic, daylight saving and
// formatting after a sample text.
#pragma once
#include "base/types.h"
#include "time/calnames.h"

#include <ctime>

struct UTM {
  I8 timet; // seconds since 1970 UTC; all ones: undefined
  U2 year;  // four digits
  U1 mon;   // 1..12
  U1 mday;  // 1..31
  U1 wday;  // 1..7, 1 = Sunday
  U1 hour;  // 0..23
  U1 min;   // 0..59
  U1 sec;   // 0..59
  U2 msec;  // 0..999
};

inline constexpr I8 kTimeTUndefined = -1;
inline constexpr U2 kUnsetU2 = 0xFFFF; // calendar field not set
inline constexpr U1 kUnsetU1 = 0xFF;

// The process-wide current-time record (what a null record stands for).
extern UTM cur_utm;

bool ClearUTM(UTM* utm);
bool UTMIsEmpty(const UTM* utm);

// Refresh the current-time record from the local clock (UTC for UTCToUTM) and copy it to
// utm when given. Return utm, or the current-time record.
UTM* ClockToUTM(UTM* utm = nullptr);
UTM* UTCToUTM(UTM* utm = nullptr);
U2 ClockYear();
U1 ClockHour();
U1 ClockMinute();
U1 ClockSecond();

// Seconds since 1970 to a record (local time unless utc); undefined t clears the record.
bool TIME_TToUTM(UTM* utm, I8 t, bool utc = false);
I8 UTMToTIME_T(const UTM* utm);
// A platform file time (100 ns units since 1601 UTC) to a local-time record.
bool FiletimeToUTM(UTM* utm, U8 ft);
// Sets the computer's local clock.
bool UTMToClock(const UTM* utm);

bool UTMAddMsecs(UTM* utm, I8 ms);
// Orders records by time; unset fields contribute nothing.
U8 UTMKey(const UTM* utm);

// Calendar; 65535 stands for the current year or month.
bool IsLeapYear(U2 year);
U1 DaysInMonth(U2 mon, U2 year);
U2 DaysInYear(U2 year);
// 1 (Sunday) .. 7 (Saturday); 0xFF for an impossible month or day.
U1 DayOfWeek(U2 year, U1 mon, U1 mday);
U1 UTMDayOfWeek(const UTM* utm);

// United States rule unless zone is "European Central" or "European Eastern"; the
// environment variable DST set to a false word turns daylight saving off.
bool DaylightSavingsActive(const char* zone = nullptr, const UTM* utm = nullptr);

// Formatting after a sample text, e.g. "12/31/2022 23:00:00" or "12:00:00 AM" (the
// default). Return bf, or "?" while an error is pending.
inline constexpr const char* kTimeDefaultPattern = "12:00:00 AM";
inline constexpr const char* kTimeFullPattern = "12/31/2022 Wednesday 23:00:00:000";
const char* TimeS_MyBf(const UTM* utm, const char* pattern, char* bf, U4 bfsz);
// Front ends: the current time, a broken-down local time, a seconds count (the log's
// stamps). A null pattern here means kTimeFullPattern.
const char* TimeNowS_MyBf(const char* pattern, char* bf, U4 bfsz);
const char* TmS_MyBf(const std::tm* tm, const char* pattern, char* bf, U4 bfsz);
const char* TimeTS_MyBf(I8 t, const char* pattern, char* bf, U4 bfsz);
