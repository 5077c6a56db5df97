// Tests, sizes, attributes, links and times of files by name; "MRF:" names included
// where that makes sense.
#pragma once
#include "base/types.h"
#include "platform/fs.h"

struct UTM;

// On: names that are links stand for their targets; off: for the links themselves.
extern bool redirect_links;

// Sets redirect_links for one scope and puts the old value back.
class RedirectLinks {
public:
  explicit RedirectLinks(bool on) : saved_(redirect_links) { redirect_links = on; }
  ~RedirectLinks() { redirect_links = saved_; }
  RedirectLinks(const RedirectLinks&) = delete;
  RedirectLinks& operator=(const RedirectLinks&) = delete;

private:
  bool saved_;
};

bool FileStat64(const char* fn, FsStat* st, bool report);
bool FileExists(const char* fn, bool report);
bool DirectoryExists(const char* dir, bool report);
bool FileOrDirectoryExists(const char* fn, bool report);
bool FileIsLink(const char* fn);
// True when both names denote the same file (by identity, whatever the spelling); a
// missing name is no file.
bool SameFile(const char* a, const char* b);

U8 FileSize8(const char* fn, bool report);
U4 FileSize(const char* fn, bool report);
I8 FileMTime(const char* fn, bool report);
bool FileMTimeToUTM(const char* fn, UTM* utm, bool utc);
U4 FileAttribute(const char* fn);
bool AttributeToFile(const char* fn, U4 att, bool errf);
char* ReadLink(const char* fn, char* bf, U4 bfsz);

bool TimeTToFileTime(const char* fn, I8 t);
bool UTMToFileTime(const char* fn, const UTM* utm);
bool CopyFileTimes(const char* dst, const char* src);
// Seconds since the last modification; 0 when unknown or in the future.
U8 FileAge(const char* fn, bool report);
