// Files and folders by name: status and identity, links, attributes, times, moves, and
// 64-bit stream positions. Failures return false (or kAllU4) with the platform's last
// error set (platform/syserr.h).
#pragma once
#include "base/types.h"

#include <cstdio>

enum class FsKind : U1 { kRegular, kDirectory, kCharDevice, kLink, kOther };

struct FsStat {
  FsKind kind = FsKind::kOther;
  U8 size = 0;
  I8 mtime = 0;  // seconds since 1970
  I8 ctime = 0;  // creation time where the system keeps one, else the change time
  U8 volume = 0; // identity: device and inode, or volume serial and file index
  U8 index = 0;
};

// Attribute bits, in the platform's own layout where it has one.
inline constexpr U4 kFsAttrReadOnly = 0x1;
inline constexpr U4 kFsAttrHidden = 0x2;
inline constexpr U4 kFsAttrDirectory = 0x10;
inline constexpr U4 kFsAttrLink = 0x400; // a reparse point or symbolic link

// The separator that joins folders and names on this system ('\\' or '/').
char PlatformDirSep();
// True when names may begin with a drive letter and ":".
bool PlatformHasDrives();

// follow: the target of a link, else the link itself.
bool PlatformStat(const char* fn, bool follow, FsStat* st);
// Attribute word of what the name denotes (links not followed); kAllU4 on failure.
U4 PlatformAttributes(const char* fn);
bool PlatformSetAttributes(const char* fn, U4 att);
// True when the failure just seen means the name does not exist.
bool PlatformLastErrorIsNotFound();
bool PlatformLastErrorIsCrossDevice();
bool PlatformLastErrorIsAccessDenied();

bool PlatformReadLink(const char* fn, char* bf, U4 bfsz);
bool PlatformCreateLink(const char* linkfn, const char* target, bool dir);

// A file, or a link itself (never its target).
bool PlatformRemoveFile(const char* fn);
// An empty folder, or a link to a folder.
bool PlatformRemoveDir(const char* dir);
bool PlatformMakeDir(const char* dir);
// Renames within one volume; replace: an existing destination file is replaced.
bool PlatformRename(const char* src, const char* dst, bool replace);
// Calls each(name) for every entry of a folder but "." and ".."; false on failure.
bool PlatformListDir(const char* dir, void (*each)(const char* name, void* ctx), void* ctx);

// Times in seconds since 1970; atime and mtime set together.
bool PlatformSetFileTime(const char* fn, I8 mtime);
// Creation time where the system keeps one; false with no error set where it cannot.
bool PlatformSetCreationTime(const char* fn, I8 ctime);

// The absolute form of a name without following links ("." and ".." folded).
bool PlatformFullPath(const char* fn, char* bf, U4 bfsz);
bool PlatformChDrive(char letter);

// 64-bit stream positions.
bool PlatformSeek(std::FILE* fp, U8 off);
bool PlatformTell(std::FILE* fp, U8* off);
// Gives the file the length len (sparse where the system allows).
bool PlatformTruncate(const char* fn, U8 len);
