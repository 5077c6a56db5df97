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

// Who may do what with a file: its permission bits and owner, or its attribute word.
struct FsAccess {
  U4 mode = 0;
  U4 uid = 0;
  U4 gid = 0;
  U4 attributes = 0;
};

// The separator that joins folders and names on this system ('\\' or '/').
char PlatformDirSep();
// True when names may begin with a drive letter and ":".
bool PlatformHasDrives();

// follow: the target of a link, else the link itself.
bool PlatformStat(const char* fn, bool follow, FsStat* st);
// Attribute word of what the name denotes (links not followed); kAllU4 on failure.
U4 PlatformAttributes(const char* fn);
bool PlatformSetAttributes(const char* fn, U4 att);
// The access of what the name denotes (links followed), and the same given to another
// file; the owner only where the process may give it away.
bool PlatformAccessOf(const char* fn, FsAccess* access);
bool PlatformSetAccess(const char* fn, const FsAccess& access);
// True when the failure just seen means the name does not exist.
bool PlatformLastErrorIsNotFound();
bool PlatformLastErrorIsCrossDevice();
bool PlatformLastErrorIsAccessDenied();

// On failure *failed_call names the system call that failed; for a reparse point of a kind
// without a target text it is null. *tag holds the kind of a reparse point that was read.
bool PlatformReadLink(const char* fn, char* bf, U4 bfsz, const char** failed_call = nullptr,
                      U4* tag = nullptr);
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
// Creation (the change time where none is kept), last-write and last-access times in
// seconds since 1970; any pointer may be null. follow: of a link's target, else of the
// link itself. On failure *failed_call names the call (opening the file, or the query).
bool PlatformGetFileTimes(const char* fn, bool follow, I8* ctime, I8* wtime, I8* atime,
                          const char** failed_call);
// Sets the times given (a creation time only where the system keeps one); the file is
// opened without sharing.
bool PlatformSetFileTimes(const char* fn, bool follow, const I8* ctime, const I8* wtime,
                          const I8* atime, const char** failed_call);
// Moves a file to the user's recycle bin (trash); fn is a full path.
bool PlatformRecycle(const char* fn);
// The call that PlatformGetFileTimes and PlatformSetFileTimes open the file with.
const char* PlatformOpenCallName();

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
