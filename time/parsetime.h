// Finding the components of a date and time in free text.
#pragma once
#include "base/types.h"

inline constexpr U2 kTPNotFound = 0xFFFF;

// One component: its value and the span [start, end) it takes in the text.
struct TPComp {
  U2 val;
  U4 start;
  U4 end;
};

struct TPDAT {
  TPComp year, mon, mday, wday, hour, min, sec, msec, ampm; // ampm: 1 AM, 2 PM
};

// Fills tpdat from tms (len kAllU4: up to the zero byte). True when a year, month, day,
// weekday or hour was found.
bool ParseTime(TPDAT* tpdat, const char* tms, U4 len);
