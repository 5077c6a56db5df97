// Whole-file operations by name: links, copy, move, rename, delete, and the "CB"
// clipboard source and destination of copies. Destinations come first.
#pragma once
#include "base/types.h"

// dirf: 1 a folder link, 0 a file link, -1 decided by the target.
bool CreateLink(const char* linkfn, const char* linkdst, I1 dirf);
bool MyCopyFile(const char* dstfn, const char* srcfn, bool copy_ctime);
bool MyMoveFile(const char* dstfn, const char* srcfn);
bool RenameFile(const char* newfn, const char* oldfn);
// Runs with an error pending too; a name that does not exist counts as deleted.
bool DelFile(const char* fn);
// Removes a folder, with everything in it when recursive; links inside are removed, never
// followed.
bool DelDirectory(const char* dir, bool recursive);

// Every memory-resident file copied to disk as "MRF_" and the rest of its name.
void CopyMRFsToHD();

// A whole file in a new tracked buffer of its size plus a closing zero byte (FreeSP);
// *len receives the size.
char* FileReadBf(const char* fn, U4* len);
// ioc 2 replaces the file, 3 appends to it.
bool FileWriteBf(const char* fn, const void* bf, U4 cnt, U1 ioc);

// The further whole-file operations of the library.
// Deletes every file of a folder whose name matches the last part of fspec ("*": any
// characters); folders and links to folders are left alone.
bool DelFSpec(const char* fspec);
bool AppFile(const char* dstfn, const char* srcfn);
// A copy into the folder ".\bk" (or "./bk") under the file's own name.
bool BackupFile(const char* fn);
// Creates the destination's folder first and tries a failed copy once more.
bool CopyFileCreateDir(const char* dstfn, const char* srcfn);
bool FileIsNewer(const char* fn1, const char* fn2);
bool FileIsOlder(const char* fn1, const char* fn2);
I8 FileCTime(const char* fn);
// True when the file or a folder on its path carries the hidden attribute.
bool FileIsHidden(const char* fn);
