// Calendar seconds and conversions go through the platform's 64-bit functions
// (platform/timeofday.h): the C runtime's own use a 32-bit time_t on 32-bit Windows and fail
// after 2038. Included last, this makes any use of them here a compile error.
#pragma once
#include <ctime>

#pragma GCC poison time mktime localtime gmtime difftime ctime asctime
