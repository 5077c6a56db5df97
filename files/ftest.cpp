#include "files/ftest.h"

#include "errlog/errstack.h"
#include "errlog/logline.h"
#include "files/fltable.h"
#include "files/mrf.h"
#include "files/nameparts.h"
#include "files/reparsetag.h"
#include "platform/syserr.h"
#include "text/numfmt.h"
#include "text/strbuild.h"
#include "time/clock.h"
#include "time/utm.h"

#include <cstring>

bool redirect_links = true;

namespace {
const char* Shown(const char* fn) {
  return !fn ? "NULL" : !*fn ? "(empty)" : fn;
}

void NotFound(const char* what, const char* fn) {
  SeMErrMult(what, " \"", Shown(fn), "\" not found", nullptr);
}

// The system's error after text1 + name.
void SysErr(const char* text1, const char* fn) {
  char text[kFLNameMax + 64];
  StToStMult(text, sizeof text, false, text1, fn, nullptr);
  SeMLastErr(text);
}

void KindError(const char* fn, FsKind kind) {
  const char* what = kind == FsKind::kDirectory    ? "\" is a directory"
                     : kind == FsKind::kCharDevice ? "\" is a character device"
                                                   : "\" is not a regular file";
  SeMErrMult("\"", fn, what, nullptr);
}

// A link's target text as a name from here: a relative one counts from the link's folder.
void LinkTarget(const char* linkfn, const char* target, char* bf, U4 bfsz) {
  char dir[kFLNameMax + 1];
  const bool absolute = target[0] == '/' || target[0] == '\\' || (target[0] && target[1] == ':');
  const char sep[2] = {PlatformDirSep(), '\0'};
  if (absolute || !FileDirPart(linkfn, dir, sizeof dir))
    StToStMult(bf, bfsz, false, target, nullptr);
  else
    StToStMult(bf, bfsz, false, dir, sep, target, nullptr);
}

bool Usable(const char* fn) {
  return fn && *fn;
}
} // namespace

bool FileStat64(const char* fn, FsStat* st, bool report) {
  if (ErrSet) return false;
  if (!st || !fn) {
    SeMErrMult("FileStat64", !st ? ":fst=NULL" : ":srcfn=NULL", nullptr);
    return false;
  }
  *st = FsStat{};
  if (IsMRFName(fn)) {
    const MRFD* md = FindMRF(fn, false);
    if (!md) {
      if (report) NotFound("File", fn);
      return false;
    }
    st->kind = FsKind::kRegular;
    st->size = md->fl_sz;
    st->mtime = md->mtime;
    st->ctime = md->ctime;
    return true;
  }
  if (PlatformStat(fn, true, st)) return true;
  if (report) NotFound("File", fn);
  return false;
}

bool FileExists(const char* fn, bool report) {
  if (ErrSet) return false;
  if (IsMRFName(fn)) return MRFExists(fn, report);
  if (!Usable(fn)) {
    if (report) NotFound("File", fn);
    return false;
  }
  if (!redirect_links) {
    const U4 att = PlatformAttributes(fn);
    if (att == kAllU4) {
      if (report) SysErr("GetFileAttributes: fn=", fn);
      return false;
    }
    if ((att & kFsAttrLink) || !(att & kFsAttrDirectory)) return true;
    if (report) KindError(fn, FsKind::kDirectory);
    return false;
  }
  FsStat st;
  if (FileStat64(fn, &st, false)) {
    if (st.kind == FsKind::kRegular) return true;
    if (report) KindError(fn, st.kind);
    return false;
  }
  if (!report) return false;
  if (FileIsLink(fn)) {
    char target[kFLNameMax + 1];
    FsStat ls;
    if (PlatformStat(fn, false, &ls) && PlatformReadLink(fn, target, sizeof target))
      SeMErrMult("File \"", fn, "->", target, "\" not found", nullptr);
    else
      SeMErrMult("File \"", fn, "->? \" not found", nullptr);
    return false;
  }
  NotFound("File", fn);
  return false;
}

bool DirectoryExists(const char* dir, bool report) {
  if (ErrSet) return false;
  if (!Usable(dir) || IsMRFName(dir)) {
    if (report) NotFound("Directory", dir);
    return false;
  }
  if (!redirect_links) {
    const U4 att = PlatformAttributes(dir);
    if (att == kAllU4) {
      if (report) SysErr("GetFileAttributes: dir=", dir);
      return false;
    }
    return (att & kFsAttrDirectory) != 0;
  }
  FsStat st;
  if (!FileStat64(dir, &st, false)) {
    if (report) NotFound("Directory", dir);
    return false;
  }
  if (st.kind == FsKind::kDirectory) return true;
  if (report)
    SeMErrMult("\"", dir,
               st.kind == FsKind::kRegular      ? "\" is a regular file"
               : st.kind == FsKind::kCharDevice ? "\" is a character device"
                                                : "\" is not a directory",
               nullptr);
  return false;
}

bool FileOrDirectoryExists(const char* fn, bool report) {
  if (ErrSet) return false;
  if (FileExists(fn, false) || DirectoryExists(fn, false)) return true;
  if (report) SeMErrMult("File/Directory \"", Shown(fn), "\" not found", nullptr);
  return false;
}

bool FileIsLink(const char* fn) {
  if (!Usable(fn) || IsMRFName(fn)) return false;
  const U4 att = PlatformAttributes(fn);
  return att != kAllU4 && (att & kFsAttrLink) != 0;
}

bool SameFile(const char* a, const char* b) {
  if (!Usable(a) || !Usable(b)) return false;
  if (IsMRFName(a) || IsMRFName(b)) {
    const MRFD* ma = FindMRF(a, false);
    return ma && ma == FindMRF(b, false);
  }
  FsStat sa, sb;
  return PlatformStat(a, true, &sa) && PlatformStat(b, true, &sb) && sa.volume == sb.volume &&
         sa.index == sb.index;
}

U8 FileSize8(const char* fn, bool report) {
  if (ErrSet) return 0;
  if (!Usable(fn)) {
    if (report) NotFound("File", fn);
    return 0;
  }
  if (IsMRFName(fn)) {
    const MRFD* md = FindMRF(fn, false);
    if (!md && report) NotFound("File", fn);
    return md ? md->fl_sz : 0;
  }
  FsStat st;
  if (redirect_links) {
    if (!FileStat64(fn, &st, report)) return 0;
    if (st.kind == FsKind::kRegular) return st.size;
    if (report) SeMErrMult("\"", fn, "\" is not a regular file", nullptr);
    return 0;
  }
  if (!PlatformStat(fn, false, &st)) {
    if (report) SysErr("GetFileAttributes: fn=", fn);
    return 0;
  }
  if (st.kind != FsKind::kDirectory) return st.size;
  if (report) KindError(fn, FsKind::kDirectory);
  return 0;
}

U4 FileSize(const char* fn, bool report) {
  const U8 sz = FileSize8(fn, report);
  if (sz <= 4294967294ull) return U4(sz);
  if (report)
    SeMErrMult("FileSize", ":File size (", VS10_U8(sz, nullptr, true).bf, ") > ",
               VS10_U8(U8(4294967295u), nullptr, true).bf, " bytes", nullptr);
  return 0;
}

I8 FileMTime(const char* fn, bool report) {
  if (ErrSet) return 0;
  if (!fn) {
    SeMErrMult("FileMTime", ":srcfn=NULL", nullptr);
    return 0;
  }
  FsStat st;
  return FileStat64(fn, &st, report) ? st.mtime : 0;
}

bool FileMTimeToUTM(const char* fn, UTM* utm, bool utc) {
  if (ErrSet || !utm) return false;
  const I8 t = FileMTime(fn, true);
  return !ErrSet && TIME_TToUTM(utm, t, utc);
}

U4 FileAttribute(const char* fn) {
  if (ErrSet) return kAllU4;
  if (!fn || !*fn) {
    SeMErrMult("FileAttribute", !fn ? ":srcfn=NULL" : ":srcfn=empty", nullptr);
    return kAllU4;
  }
  if (IsMRFName(fn)) {
    SeMErrMult("FileAttribute", ":Function not supported for MRF (file=", fn, ")", nullptr);
    return kAllU4;
  }
  const U4 att = PlatformAttributes(fn);
  if (att == kAllU4) SysErr("GetFileAttributes :srcfn=", fn);
  return att;
}

bool AttributeToFile(const char* fn, U4 att, bool errf) {
  if (ErrSet) return false;
  if (!fn) {
    SeMErrMult("AttributeToFile", ":dstfn=NULL", nullptr);
    return false;
  }
  if (IsMRFName(fn)) {
    SeMErrMult("AttributeToFile", ":Function not supported for MRF (file=", fn, ")", nullptr);
    return false;
  }
  char target[kFLNameMax + 1] = "";
  const bool link = redirect_links && FileIsLink(fn);
  if (link && !PlatformReadLink(fn, target, sizeof target)) target[0] = '\0';
  // The system sets a link's own attributes; the target is reached by its own name.
  char reached[2 * kFLNameMax + 2];
  if (link && target[0]) LinkTarget(fn, target, reached, sizeof reached);
  if (PlatformSetAttributes(link && target[0] ? reached : fn, att)) return true;
  if (errf) {
    char text[2 * kFLNameMax + 32];
    if (link)
      StToStMult(text, sizeof text, false, "SetFileAttributes: ", fn, "->", target, nullptr);
    else
      StToStMult(text, sizeof text, false, "SetFileAttributes: dstfn=", fn, nullptr);
    SeMLastErr(text);
  }
  return false;
}

char* ReadLink(const char* fn, char* bf, U4 bfsz) {
  if (ErrSet || !bf) return nullptr;
  if (!FileIsLink(fn)) {
    RedirectLinks off(false);
    if (FileExists(fn, true)) SeMErrMult("\"", fn, "\" is not a link", nullptr);
    return nullptr;
  }
  const char* call = nullptr;
  U4 tag = 0;
  if (PlatformReadLink(fn, bf, bfsz, &call, &tag)) {
    constexpr U4 kAppExecLink = 0x8000001B;
    if (tag == kAppExecLink)
      LogStMult("ReadLink", ":1:ReparseTag=", ReparseTagName(tag),
                " IsReparseTagMicrosoft=", tag >> 31 ? "1" : "0",
                " IsReparseTagNameSurrogate=", (tag >> 29) & 1 ? "1" : "0", nullptr);
    return bf;
  }
  if (!call) {
    SeMErrMult("ReparseTag=", ReparseTagName(tag), " fn=", fn, nullptr);
  } else {
    char text[kFLNameMax + 64];
    const bool opening = std::strcmp(call, "CreateFile") == 0;
    StToStMult(text, sizeof text, false, call, opening ? ": fn=" : " fn=", fn, nullptr);
    SeMLastErr(text);
  }
  return nullptr;
}

bool TimeTToFileTime(const char* fn, I8 t) {
  if (ErrSet) return false;
  if (!fn) {
    SeMErrMult("TimeTToFileTime", ":dstfn=NULL", nullptr);
    return false;
  }
  if (t == kTimeTUndefined) {
    SeMErrMult("mtime is undefined", nullptr);
  } else if (IsMRFName(fn)) {
    if (MRFD* md = FindMRF(fn, true)) md->mtime = t;
  } else if (!PlatformSetFileTime(fn, t)) {
    SeMLastErr("utime");
  }
  if (ErrSet) AddErrMult(" file=", fn, nullptr);
  return !ErrSet;
}

bool UTMToFileTime(const char* fn, const UTM* utm) {
  if (ErrSet) return false;
  if (!utm) {
    SeMErrMult("utmp=NULL", nullptr);
    return false;
  }
  if (utm->timet == kTimeTUndefined) {
    SeMErrMult("timet is undefined", nullptr);
    return false;
  }
  return TimeTToFileTime(fn, utm->timet);
}

bool CopyFileTimes(const char* dst, const char* src) {
  if (ErrSet) return false;
  FsStat st;
  if (FileStat64(src, &st, true) && TimeTToFileTime(dst, st.mtime) && !IsMRFName(dst) &&
      !IsMRFName(src) && !PlatformSetCreationTime(dst, st.ctime) && PlatformLastError() != 0)
    SeMLastErr("SetFileTime: dstfn=", dst);
  if (ErrSet) AddErrMult(" (", src ? src : "NULL", " -> ", dst ? dst : "NULL", ")", nullptr);
  return !ErrSet;
}

U8 FileAge(const char* fn, bool report) {
  if (ErrSet) return 0;
  const I8 t = FileMTime(fn, report);
  const I8 now = I8(ClockSecs());
  return t <= 0 || t > now ? 0 : U8(now - t);
}
