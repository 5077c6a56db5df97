#include "files/fname.h"

#include "errlog/errstack.h"
#include "files/fltable.h"
#include "files/ftest.h"
#include "platform/fs.h"
#include "platform/stdstreams.h"
#include "text/strbuild.h"

#include <cstdlib>
#include <cstring>

char* MyGetCwd(bool with_drive, char* bf, U4 bfsz) {
  if (ErrSet || !bf || bfsz == 0) return nullptr;
  char cwd[kFLNameMax + 1];
  if (!PlatformGetCwd(cwd, sizeof cwd)) {
    SeMErrno("getcwd");
    return nullptr;
  }
  U4 len = StLen(cwd);
  if (len > 1 && IsDirSep(cwd[len - 1]) && !(len == 3 && HasDriveLetter(cwd))) cwd[--len] = '\0';
  if (len == 3 && HasDriveLetter(cwd)) cwd[--len] = '\0'; // "C:\" is written "C:"
  const char* from = !with_drive && HasDriveLetter(cwd) ? cwd + 2 : cwd;
  return CopyNamePart(bf, bfsz, from, StLen(from));
}

const char* MyGetDrive() {
  static char drive[3];
  char cwd[kFLNameMax + 1];
  drive[0] = '\0';
  if (PlatformHasDrives() && PlatformGetCwd(cwd, sizeof cwd) && HasDriveLetter(cwd)) {
    drive[0] = cwd[0];
    drive[1] = ':';
    drive[2] = '\0';
  }
  return drive;
}

bool ChangeDriveAndDirectory(const char* path) {
  if (ErrSet || !path) return false;
  if (HasDriveLetter(path) && PlatformHasDrives()) {
    if (!PlatformChDrive(path[0])) {
      const char letter[2] = {path[0], '\0'};
      SeMErrMult("Failure changing to drive ", letter, ":", nullptr);
      return false;
    }
    path += 2;
  }
  if (*path && !PlatformChDir(path)) {
    SeMErrMult("Failure changing to directory ", path, nullptr);
    return false;
  }
  return true;
}

char* FindFileInPath_MyBf(const char* fn, bool report, char* bf, U4 bfsz) {
  if (ErrSet || !fn || !bf) return nullptr;
  char path[4097];
  const char* env = std::getenv("PATH");
  StToStMult(path, sizeof path, false, env ? env : "", nullptr);
  const char list_sep = PlatformHasDrives() ? ';' : ':';
  for (char* dir = path; *dir;) {
    char* end = std::strchr(dir, list_sep);
    char* next = end ? end + 1 : dir + StLen(dir);
    if (end) *end = '\0';
    U4 len = StLen(dir);
    while (len > 1 && IsDirSep(dir[len - 1]))
      dir[--len] = '\0';
    if (len > 0) {
      const char sep[2] = {PlatformDirSep(), '\0'};
      StToStMult(bf, bfsz, false, dir, IsDirSep(dir[len - 1]) ? "" : sep, fn, nullptr);
      if (FileExists(bf, false)) return bf;
    }
    dir = next;
  }
  bf[0] = '\0';
  if (report) SeMErrMult("File \"", fn, "\" not found in path", nullptr);
  return nullptr;
}

char* FullPath(const char* fspec, bool with_drive, char* bf, U4 bfsz) {
  if (ErrSet || !fspec || !bf || bfsz == 0) return nullptr;
  char target[kFLNameMax + 1];
  char joined[2 * kFLNameMax + 2];
  if (redirect_links && FileIsLink(fspec)) {
    if (!ReadLink(fspec, target, sizeof target)) return nullptr;
    // A relative target is relative to the link's own folder.
    const bool absolute = IsDirSep(target[0]) || (HasDriveLetter(target) && IsDirSep(target[2]));
    char dir[kFLNameMax + 1];
    if (!absolute && FileDirPart(fspec, dir, sizeof dir)) {
      const char sep[2] = {PlatformDirSep(), '\0'};
      StToStMult(joined, sizeof joined, false, dir, sep, target, nullptr);
      fspec = joined;
    } else {
      fspec = target;
    }
  }
  if (!*fspec) return MyGetCwd(with_drive, bf, bfsz);
  if (IsMRFName(fspec)) return CopyNamePart(bf, bfsz, fspec, StLen(fspec));
  char full[kFLNameMax + 1];
  if (!PlatformFullPath(fspec, full, sizeof full))
    StToStMult(full, sizeof full, false, fspec, nullptr);
  const char* from = !with_drive && HasDriveLetter(full) ? full + 2 : full;
  return CopyNamePart(bf, bfsz, from, StLen(from));
}
