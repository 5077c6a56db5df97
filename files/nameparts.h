// File names taken apart, by their text alone.
#pragma once
#include "base/types.h"

// Either slash separates folders.
inline bool IsDirSep(char c) {
  return c == '\\' || c == '/';
}
// The name begins with a drive letter and ":".
inline bool HasDriveLetter(const char* fn) {
  const char c = char(fn[0] | 0x20);
  return c >= 'a' && c <= 'z' && fn[1] == ':';
}
// The first len characters of st into bf, cut at its end without a mark; null for no buffer.
char* CopyNamePart(char* bf, U4 bfsz, const char* st, U4 len);

// Parts of a name; both separators count, and "C:f" has the folder "C:". None of them
// fails; a null name gives null.
const char* FileExt(const char* fn);
char* FileNoExt(const char* fn, char* bf, U4 bfsz);
const char* FileNamePart(const char* fn);
char* FileDirPart(const char* fn, char* bf, U4 bfsz);
char* FileDirPartBS(const char* fn, char* bf, U4 bfsz);
