// File names: the current directory, full paths and the command path; their parts are in
// files/nameparts.h, included here.
#pragma once
#include "files/nameparts.h"

// The current directory without a trailing separator; without the drive unless with_drive.
char* MyGetCwd(bool with_drive, char* bf, U4 bfsz);
// The current drive as "X:", empty where the system has no drives.
const char* MyGetDrive();
bool ChangeDriveAndDirectory(const char* path);
// The first folder of PATH that holds fn, joined to it, in bf; null when none does.
char* FindFileInPath_MyBf(const char* fn, bool report, char* bf, U4 bfsz);
// The absolute form of fspec, "." and ".." folded; a link's target with redirect_links.
char* FullPath(const char* fspec, bool with_drive, char* bf, U4 bfsz);
