// Reading a date and time out of a text into a calendar record; holidays and Easter.
#pragma once
#include "base/types.h"
#include "time/utm.h"

// What a record starts from before the text is read.
inline constexpr U1 kUtmNoDefaults = 0, kUtmToday = 1, kUtmNow = 2;

// Fills utm (null: the current-time record) from tms. defaults: kUtmToday takes today's
// date at midnight, kUtmNow the current date and time, 0 nothing. Fields finer than the
// last one the text gives are zeroed ("10:30" is 10:30:00.000); the word "DST" in the text
// makes the time daylight-saving time, otherwise the platform decides. leadbadsok /
// trailbadsok: 0 only blanks (and before the date "-" and "/") around it, 1 also any other
// character that is no letter or digit, 2 anything. True when a time was found and passed
// every check; failures are pushed only with report.
bool StToUTM(UTM* utm, const char* tms, U1 defaults, U1 leadbadsok, U1 trailbadsok, bool report);

// The holiday on that date (wday 1 = Sunday), or dflt.
const char* HolidayName(U2 year, U1 mon, U1 mday, U1 wday, const char* dflt);
// Easter Sunday of year (2013 to 2099) as month and day and as the text "3/31"; null
// outside the table, with report "Easter unknown for year <year>".
const char* EasterDate(U2 year, U1* mon, U1* mday, bool report);
