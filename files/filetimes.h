// The three times of a file, and the recycle bin.
#pragma once
#include "base/types.h"

// Creation, last-write and last-access times in seconds since 1970 (any pointer may be
// null); with redirect_links off those of a link itself. All three 0 after a failure.
bool GetFileTimes(I8* ctime, I8* wtime, I8* atime, const char* fn);
// Sets the times given (null: left as they are). A read-only file loses that attribute
// first and does not get it back.
bool SetFileTimes(const char* fn, const I8* ctime, const I8* wtime, const I8* atime);
// Moves a file into the user's recycle bin; never an MRF or a link.
bool RecycleFile(const char* fn);
