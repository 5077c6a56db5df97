// File names: their parts, the current directory, full paths and the command path.
#pragma once
#include "base/types.h"

// Parts of a name; both separators count, and "C:f" has the folder "C:". None of them
// fails; a null name gives null.
const char* FileExt(const char* fn);
char* FileNoExt(const char* fn, char* bf, U4 bfsz);
const char* FileNamePart(const char* fn);
char* FileDirPart(const char* fn, char* bf, U4 bfsz);
char* FileDirPartBS(const char* fn, char* bf, U4 bfsz);

// The current directory without a trailing separator; without the drive unless with_drive.
char* MyGetCwd(bool with_drive, char* bf, U4 bfsz);
// The current drive as "X:", empty where the system has no drives.
const char* MyGetDrive();
bool ChangeDriveAndDirectory(const char* path);
// The first folder of PATH that holds fn, joined to it, in bf; null when none does.
char* FindFileInPath_MyBf(const char* fn, bool report, char* bf, U4 bfsz);
// The absolute form of fspec, "." and ".." folded; a link's target with redirect_links.
char* FullPath(const char* fspec, bool with_drive, char* bf, U4 bfsz);
