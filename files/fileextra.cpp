#include "errlog/errstack.h"
#include "files/fileops.h"
#include "files/fldf.h"
#include "files/fname.h"
#include "files/ftest.h"
#include "mem/tracked.h"
#include "platform/fs.h"
#include "text/match.h"
#include "text/strbuild.h"
#include "time/clock.h"

#include <string>

namespace {
struct SpecWalk {
  std::string dir, pattern;
  bool ok = true;
};

void DeleteMatching(const char* name, void* ctx) {
  auto* walk = static_cast<SpecWalk*>(ctx);
  const MatchSwitches saved = SaveMatchSwitches();
  match_wild_needs_char = false;
  const bool hit = StLen(name) > 0 && StMatch(name, walk->pattern.c_str(), '*', false);
  RestoreMatchSwitches(saved);
  if (!hit) return;
  const std::string path = walk->dir + name;
  FsStat st;
  if (PlatformStat(path.c_str(), true, &st) && st.kind == FsKind::kDirectory) return;
  walk->ok = DelFile(path.c_str()) && walk->ok;
}

const char* SepText() {
  static char sep[2] = {PlatformDirSep(), '\0'};
  return sep;
}
} // namespace

bool DelFSpec(const char* fspec) {
  if (ErrSet || !fspec || !*fspec) return false;
  if (IsMRFName(fspec)) {
    SeMErrMult("DelFSpec", ":Function not supported for MRF (file=", fspec, ")", nullptr);
    return false;
  }
  char dir[kFLNameMax + 1];
  SpecWalk walk;
  walk.dir = FileDirPart(fspec, dir, sizeof dir) ? std::string(dir) + SepText() : std::string();
  walk.pattern = FileNamePart(fspec);
  if (!PlatformListDir(walk.dir.empty() ? "." : walk.dir.c_str(), DeleteMatching, &walk)) {
    SeMLastErr("DelFSpec: fspec=", fspec);
    return false;
  }
  if (!walk.ok && !ErrSet) SeMErrMult("Delete error on \"", fspec, "\"", nullptr);
  return !ErrSet;
}

bool AppFile(const char* dstfn, const char* srcfn) {
  if (ErrSet) return false;
  U4 len = 0;
  char* text = FileReadBf(srcfn, &len);
  if (text) FileWriteBf(dstfn, text, len, FL_APPEND);
  FreeSP(&text);
  if (ErrSet)
    AddErrMult(" (", srcfn ? srcfn : "NULL", " -> ", dstfn ? dstfn : "NULL", ")", nullptr);
  return !ErrSet;
}

bool BackupFile(const char* fn) {
  if (ErrSet || !fn) return false;
  char dst[kFLNameMax + 1];
  StToStMult(dst, sizeof dst, false, ".", SepText(), "bk", SepText(), FileNamePart(fn), nullptr);
  return CopyFileCreateDir(dst, fn);
}

bool CopyFileCreateDir(const char* dstfn, const char* srcfn) {
  if (ErrSet) return false;
  char dir[kFLNameMax + 1];
  if (dstfn && FileDirPart(dstfn, dir, sizeof dir) && !DirectoryExists(dir, false))
    PlatformMakeDir(dir);
  if (MyCopyFile(dstfn, srcfn, false)) return true;
  ClearErr();
  SleepMsecs(10); // another program may have held a file for a moment
  return MyCopyFile(dstfn, srcfn, false);
}

bool FileIsNewer(const char* fn1, const char* fn2) {
  const I8 t1 = FileMTime(fn1, true), t2 = FileMTime(fn2, true);
  return !ErrSet && t1 > t2;
}

bool FileIsOlder(const char* fn1, const char* fn2) {
  const I8 t1 = FileMTime(fn1, true), t2 = FileMTime(fn2, true);
  return !ErrSet && t1 < t2;
}

I8 FileCTime(const char* fn) {
  FsStat st;
  return FileStat64(fn, &st, true) ? st.ctime : 0;
}

bool FileIsHidden(const char* fn) {
  if (ErrSet || !fn || !*fn || IsMRFName(fn)) return false;
  char path[kFLNameMax + 1];
  StToStMult(path, sizeof path, false, fn, nullptr);
  char up[kFLNameMax + 1];
  for (;;) {
    const U4 att = PlatformAttributes(path);
    if (att != kAllU4 && (att & kFsAttrHidden)) return true;
    if (!FileDirPart(path, up, sizeof up) || StLen(up) >= StLen(path)) return false;
    StToStMult(path, sizeof path, false, up, nullptr);
  }
}
