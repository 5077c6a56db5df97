#include "files/nameparts.h"

#include "platform/fs.h"
#include "text/strbuild.h"

#include <cstring>

namespace {
// Index just past the last separator (or past "X:"), 0 when there is neither.
U4 NameStart(const char* fn) {
  U4 start = HasDriveLetter(fn) ? 2 : 0;
  for (U4 i = start; fn[i]; ++i)
    if (IsDirSep(fn[i])) start = i + 1;
  return start;
}
} // namespace

char* CopyNamePart(char* bf, U4 bfsz, const char* st, U4 len) {
  if (!bf || bfsz == 0) return nullptr;
  if (len >= bfsz) len = bfsz - 1;
  std::memmove(bf, st, len);
  bf[len] = '\0';
  return bf;
}

const char* FileExt(const char* fn) {
  if (!fn) return nullptr;
  const char* dot = std::strrchr(fn + NameStart(fn), '.');
  return dot ? dot + 1 : nullptr;
}

char* FileNoExt(const char* fn, char* bf, U4 bfsz) {
  if (!fn) return nullptr;
  const char* ext = FileExt(fn);
  return CopyNamePart(bf, bfsz, fn, ext ? U4(ext - 1 - fn) : StLen(fn));
}

const char* FileNamePart(const char* fn) {
  return fn ? fn + NameStart(fn) : nullptr;
}

char* FileDirPart(const char* fn, char* bf, U4 bfsz) {
  if (!fn) return nullptr;
  const U4 start = NameStart(fn);
  if (start == 2 && HasDriveLetter(fn) && !IsDirSep(fn[1])) return CopyNamePart(bf, bfsz, fn, 2);
  if (start <= 1) return nullptr; // no separator, or only the first character
  if (start == 2 && IsDirSep(fn[0]) && IsDirSep(fn[1])) return nullptr;
  return CopyNamePart(bf, bfsz, fn, start - 1);
}

char* FileDirPartBS(const char* fn, char* bf, U4 bfsz) {
  if (!FileDirPart(fn, bf, bfsz)) return nullptr;
  const U4 len = StLen(bf);
  if (len + 1 < bfsz) {
    bf[len] = PlatformDirSep();
    bf[len + 1] = '\0';
  }
  return bf;
}
