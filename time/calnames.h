// The English month and day names, for parsing and formatting dates alike.
#pragma once

extern const char* const kMonthNames[13];      // [1] "January" .. [12] "December"
extern const char* const kMonthShortNames[13]; // [1] "Jan" .. [12] "Dec"
extern const char* const kDayNames[8];         // [1] "Sunday" .. [7] "Saturday"
extern const char* const kDayShortNames[8];    // [1] "Sun" .. [7] "Sat"
