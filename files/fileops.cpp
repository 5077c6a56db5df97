#include "files/fileops.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/logline.h"
#include "files/fldf.h"
#include "files/fname.h"
#include "files/ftest.h"
#include "files/mrf.h"
#include "mem/tracked.h"
#include "platform/clipboard.h"
#include "platform/fs.h"
#include "platform/syserr.h"
#include "text/match.h"
#include "text/strbuild.h"

#include <cstring>
#include <string>

namespace {
constexpr U4 kCopyBlock = 1048544;

bool SameText(const char* a, const char* b) {
  return StLen(a) == StLen(b) && StMatch(a, b, '\0', false);
}

bool IsClipboard(const char* fn) {
  return (fn[0] | 0x20) == 'c' && (fn[1] | 0x20) == 'b' && fn[2] == '\0';
}

// The usual checks of a pair of names; false with the message pushed.
bool CheckPair(const char* op, const char* dst, const char* src, const char* dname,
               const char* sname) {
  const char* what = !src ? sname : !dst ? dname : nullptr;
  const char* tail = "=NULL";
  if (!what) {
    what = !*src ? sname : !*dst ? dname : nullptr;
    tail = "=(empty)";
  }
  if (what) SeMErrMult(op, ":", what, tail, nullptr);
  return !what;
}

void AddPair(const char* src, const char* dst) {
  AddErrMult(" (", src ? src : "NULL", " -> ", dst ? dst : "NULL", ")", nullptr);
}

// Whether two names stand for one file: the same text, or the same file by identity.
bool SameTarget(const char* a, const char* b) {
  if (SameText(a, b)) return true;
  RedirectLinks on(true);
  return SameFile(a, b);
}

void LinkTargetPath(const char* linkfn, const char* target, char* bf, U4 bfsz);

constexpr U4 kMaxLinkHops = 40;

// The name that a write to fn reaches: fn with every link on the way followed, so that a
// link stays a link and its target takes the data. The last name may not exist yet.
bool ResolveLinks(const char* op, const char* fn, char* bf, U4 bfsz) {
  StToStMult(bf, bfsz, false, fn, nullptr);
  for (U4 hops = 0; hops < kMaxLinkHops; ++hops) {
    FsStat st;
    if (!PlatformStat(bf, false, &st) || st.kind != FsKind::kLink) return true;
    char target[kFLNameMax + 1];
    if (!PlatformReadLink(bf, target, sizeof target)) {
      SeMLastErr(op, ":ReadLink");
      return false;
    }
    char next[2 * kFLNameMax + 2];
    LinkTargetPath(bf, target, next, sizeof next);
    if (StLen(next) >= bfsz) {
      SeMErrMult(op, ":name too long (", next, ")", nullptr);
      return false;
    }
    StToStMult(bf, bfsz, false, next, nullptr);
  }
  SeMErrMult(op, ":too many links (", fn, ")", nullptr);
  return false;
}

// A name next to fn for a copy that replaces fn only once it is whole.
bool SideName(const char* fn, char* bf, U4 bfsz) {
  StToStMult(bf, bfsz, false, fn, ".tapcopy~", nullptr);
  if (StLen(bf) <= kFLNameMax) return true;
  SeMErrMult("MyCopyFile", ":name too long (", fn, ")", nullptr);
  return false;
}

bool CopyData(const char* dst, const char* src);

void RemoveSide(const char* side) {
  PushErr();
  PlatformRemoveFile(side);
  PopErr(true);
}

// A copy onto dst written through it: a link is followed and the file it reaches keeps its
// mode and owner. The data go to a side file first, so that a copy that fails half way
// leaves the old contents whole.
bool CopyThrough(const char* dst, const char* src) {
  char target[kFLNameMax + 1], side[kFLNameMax + 16];
  if (!ResolveLinks("MyCopyFile", dst, target, sizeof target)) return false;
  FsStat st;
  const bool present = PlatformStat(target, false, &st);
  // A device or a pipe cannot be replaced by a file: it takes the bytes itself.
  if (present && st.kind != FsKind::kRegular) return CopyData(target, src);
  FsAccess access;
  if (present && !PlatformAccessOf(target, &access)) {
    SeMLastErr("MyCopyFile:", target);
    return false;
  }
  if (!SideName(target, side, sizeof side)) return false;
  if (!CopyData(side, src)) {
    RemoveSide(side);
    return false;
  }
  if (present && !PlatformSetAccess(side, access))
    SeMLastErr("MyCopyFile:", target);
  else if (!PlatformRename(side, target, true))
    SeMLastErr("MyCopyFile");
  if (ErrSet) RemoveSide(side);
  return !ErrSet;
}

// A move onto an existing file keeps that file's kind, mode and owner, as a copy would.
bool MoveThrough(const char* dst, const char* src) {
  char target[kFLNameMax + 1];
  if (!ResolveLinks("MyMoveFile", dst, target, sizeof target)) return false;
  FsStat st;
  const bool present = PlatformStat(target, false, &st);
  // A device takes the bytes; a folder is the platform's business as before.
  const bool device = present && st.kind != FsKind::kRegular && st.kind != FsKind::kDirectory;
  if (device) return MyCopyFile(target, src, true) && DelFile(src);
  FsAccess access;
  const bool keep = present && st.kind == FsKind::kRegular;
  if (keep && !PlatformAccessOf(target, &access)) {
    SeMLastErr("MyMoveFile:", target);
    return false;
  }
  if (!PlatformRename(src, target, true)) {
    // Another volume: a copy, and the source goes only once the copy is whole.
    if (!PlatformLastErrorIsCrossDevice()) {
      SeMLastErr("MyMoveFile");
      return false;
    }
    return MyCopyFile(target, src, true) && DelFile(src);
  }
  if (keep && !PlatformSetAccess(target, access)) SeMLastErr("MyMoveFile:", target);
  return !ErrSet && FileOrDirectoryExists(dst, true);
}

bool CopyData(const char* dst, const char* src) {
  if (const MRFD* md = FindMRF(src, false)) return FileWriteBf(dst, md->bf, md->fl_sz, FL_WRITE);
  FLDF* in = FLOpenRead(src);
  FLDF* out = FLOpenWrite(dst);
  char* block = in && out ? static_cast<char*>(AllocTransitoryU1(kCopyBlock)) : nullptr;
  while (block && !ErrSet) {
    const U4 got = FLReadBf(in, kCopyBlock, block, kCopyBlock, false);
    if (got == 0) break;
    FLWriteBf(out, block, got);
  }
  FreeSP(&block);
  PushErr();
  FLClose(in);
  FLClose(out);
  PopErr(true);
  return !ErrSet;
}

bool FromClipboard(const char* dstfn) {
  std::string text;
  const char* why = "";
  if (!PlatformClipboardGet(&text, &why)) {
    SeMLastErr(why);
    return false;
  }
  FileWriteBf(dstfn, text.data(), U4(text.size()), FL_WRITE);
  const char* trm = TrmOfName(dstfn);
  const U4 n = StLen(trm);
  if (trm && (text.size() < n || text.compare(text.size() - n, n, trm) != 0))
    FileWriteBf(dstfn, trm, n, FL_APPEND);
  return !ErrSet;
}

bool ToClipboard(const char* srcfn) {
  U4 len = 0;
  char* text = FileReadBf(srcfn, &len);
  if (!text) return false;
  const char* trm = FileTrm(srcfn, false);
  const U4 n = StLen(trm);
  if (n && len >= n && std::memcmp(text + len - n, trm, n) == 0) len -= n;
  const char* why = "";
  if (!PlatformClipboardSet(text, len, &why)) SeMLastErr(why);
  FreeSP(&text);
  return !ErrSet;
}

// The target of a link resolved against the link's own folder.
void LinkTargetPath(const char* linkfn, const char* target, char* bf, U4 bfsz) {
  char dir[kFLNameMax + 1];
  const bool absolute = target[0] == '/' || target[0] == '\\' || (target[0] && target[1] == ':');
  if (absolute || !FileDirPart(linkfn, dir, sizeof dir)) {
    StToStMult(bf, bfsz, false, target, nullptr);
    return;
  }
  const char sep[2] = {PlatformDirSep(), '\0'};
  StToStMult(bf, bfsz, false, dir, sep, target, nullptr);
}

// The link src made again at dst, pointing where src points.
bool CopyLink(const char* dst, const char* src) {
  char target[kFLNameMax + 1];
  if (!ReadLink(src, target, sizeof target)) return false;
  char resolved[2 * kFLNameMax + 2];
  LinkTargetPath(src, target, resolved, sizeof resolved);
  RedirectLinks on(true);
  return CreateLink(dst, target, DirectoryExists(resolved, false) ? 1 : 0);
}

void DeleteError(const char* fn) {
  SeMErrMult("Delete error on \"", fn, "\"", nullptr);
}

bool RemoveOne(const char* fn) {
  if (PlatformRemoveFile(fn)) return true;
  // A read-only file gives way once the attribute is gone.
  if (!PlatformLastErrorIsAccessDenied()) return false;
  const U4 att = PlatformAttributes(fn);
  if (att == kAllU4 || !(att & kFsAttrReadOnly)) return false;
  PlatformSetAttributes(fn, att & ~kFsAttrReadOnly);
  return PlatformRemoveFile(fn);
}

struct TreeWalk {
  std::string dir;
  bool ok = true;
};

bool RemoveTree(const std::string& dir);

void RemoveEntry(const char* name, void* ctx) {
  auto* walk = static_cast<TreeWalk*>(ctx);
  const std::string path = walk->dir + PlatformDirSep() + name;
  FsStat st;
  if (!PlatformStat(path.c_str(), false, &st)) {
    walk->ok = false;
    return;
  }
  // A link is removed as a link: nothing outside the tree is touched through it.
  if (st.kind == FsKind::kDirectory)
    walk->ok = RemoveTree(path) && walk->ok;
  else if (st.kind == FsKind::kLink)
    walk->ok = PlatformRemoveFile(path.c_str()) && walk->ok;
  else
    walk->ok = RemoveOne(path.c_str()) && walk->ok;
}

bool RemoveTree(const std::string& dir) {
  TreeWalk walk{dir};
  if (!PlatformListDir(dir.c_str(), RemoveEntry, &walk)) return false;
  return walk.ok && PlatformRemoveDir(dir.c_str());
}
} // namespace

bool CreateLink(const char* linkfn, const char* linkdst, I1 dirf) {
  if (ErrSet) return false;
  if (!linkfn || !linkdst) {
    SeMErrMult("CreateLink", !linkfn ? ":linkfn=NULL" : ":linkdst=NULL", nullptr);
    return false;
  }
  RedirectLinks off(false);
  if ((linkfn[0] == '\\' || linkfn[0] == '/') && linkfn[1] == linkfn[0]) {
    SeMErrMult("Links can't created on a networked drive", nullptr);
  } else {
    bool dir = dirf > 0;
    if (dirf < 0) {
      char resolved[2 * kFLNameMax + 2];
      LinkTargetPath(linkfn, linkdst, resolved, sizeof resolved);
      RedirectLinks on(true);
      dir = DirectoryExists(resolved, false);
    }
    FsStat st;
    const bool exists = PlatformStat(linkfn, false, &st);
    char old[kFLNameMax + 1] = "";
    if (exists && st.kind != FsKind::kLink) {
      // Only a link is ever replaced; a file of that name stays.
      SeMErrMult("CreateLink", ":\"", linkfn, "\" exists and is not a link", nullptr);
    } else if (exists && PlatformReadLink(linkfn, old, sizeof old) && SameText(old, linkdst)) {
      return true;
    } else if (exists && !DelFile(linkfn)) {
    } else if (!PlatformCreateLink(linkfn, linkdst, dir)) {
      SeMLastErr(PlatformHasDrives() ? "CreateSymbolicLinkA" : "symlink");
    }
  }
  if (ErrSet) AddErrMult(" dstfn=", linkfn, " linkdst=", linkdst, nullptr);
  return !ErrSet;
}

bool MyCopyFile(const char* dstfn, const char* srcfn, bool copy_ctime) {
  if (ErrSet) return false;
  if (!CheckPair("MyCopyFile", dstfn, srcfn, "dstfn", "srcfn")) return false;
  if (IsClipboard(srcfn)) {
    FromClipboard(dstfn);
  } else if (IsClipboard(dstfn)) {
    ToClipboard(srcfn);
  } else if (!redirect_links && FileIsLink(srcfn)) {
    if (!SameText(dstfn, srcfn)) CopyLink(dstfn, srcfn);
  } else if (SameTarget(dstfn, srcfn)) {
    return true; // a copy onto itself would empty it
  } else {
    bool exists;
    {
      RedirectLinks on(true);
      exists = FileExists(srcfn, true);
    }
    FsStat st;
    if (exists && FileStat64(srcfn, &st, true)) {
      if (IsMRFName(dstfn))
        CopyData(dstfn, srcfn);
      else
        CopyThrough(dstfn, srcfn);
      TimeTToFileTime(dstfn, st.mtime);
      if (copy_ctime) CopyFileTimes(dstfn, srcfn);
    }
  }
  if (ErrSet) AddPair(srcfn, dstfn);
  return !ErrSet;
}

bool MyMoveFile(const char* dstfn, const char* srcfn) {
  if (ErrSet) return false;
  if (debug_level >= 2)
    LogStMult("MyMoveFile", ":", srcfn ? srcfn : "NULL", " -> ", dstfn ? dstfn : "NULL", nullptr);
  if (!CheckPair("MyMoveFile", dstfn, srcfn, "dstfn", "srcfn")) return false;
  const bool src_mrf = IsMRFName(srcfn), dst_mrf = IsMRFName(dstfn);
  if (!redirect_links && FileIsLink(srcfn)) {
    if (!SameText(dstfn, srcfn) && CopyLink(dstfn, srcfn)) DelFile(srcfn);
  } else if (SameTarget(dstfn, srcfn)) {
    return true;
  } else if (src_mrf && dst_mrf) {
    // The source is checked before the destination is touched.
    if (MRFD* md = FindMRF(srcfn, true); md && DelFile(dstfn)) RenameMRF(md, dstfn);
  } else if (src_mrf || dst_mrf) {
    if (MyCopyFile(dstfn, srcfn, false)) DelFile(srcfn);
  } else {
    MoveThrough(dstfn, srcfn);
  }
  if (ErrSet) AddPair(srcfn, dstfn);
  return !ErrSet;
}

bool RenameFile(const char* newfn, const char* oldfn) {
  if (ErrSet) return false;
  if (!CheckPair("RenameFile", newfn, oldfn, "newfn", "oldfn")) return false;
  if (FileOrDirectoryExists(oldfn, true) && std::strcmp(newfn, oldfn) != 0) {
    // A change of letter case alone names the same file where the system ignores case.
    const bool exists = FileOrDirectoryExists(newfn, false) || FileIsLink(newfn);
    const bool itself = exists && SameFile(newfn, oldfn);
    if (exists && !itself) {
      SeMErrMult("\"", newfn, "\" already exists", nullptr);
    } else if (IsMRFName(oldfn)) {
      if (IsMRFName(newfn))
        RenameMRF(FindMRF(oldfn, true), newfn);
      else
        SeMErrMult("rename failure", nullptr);
    } else if (!PlatformRename(oldfn, newfn, itself)) {
      SeMLastErr("rename failure");
    }
  }
  if (ErrSet) AddPair(oldfn, newfn);
  return !ErrSet;
}

bool DelFile(const char* fn) {
  if (!fn || !*fn) return false;
  PushErr();
  if (IsMRFName(fn)) {
    DeleteMRF(fn);
  } else {
    FsStat own;
    const bool present = PlatformStat(fn, false, &own);
    FsStat st;
    const bool target = present && PlatformStat(fn, true, &st);
    if (!present) {
      // Nothing there: deleted already.
    } else if (own.kind == FsKind::kLink) {
      if (redirect_links && target && st.kind == FsKind::kDirectory) {
        char to[kFLNameMax + 1] = "?";
        PlatformReadLink(fn, to, sizeof to);
        SeMErrMult("Delete error on \"", fn, "->", to, "\" (is a directory)", nullptr);
      } else if (!PlatformRemoveFile(fn)) {
        DeleteError(fn);
      }
    } else if (own.kind == FsKind::kDirectory) {
      SeMErrMult("Delete error on \"", fn, "\" (is a directory)", nullptr);
    } else if (!RemoveOne(fn)) {
      DeleteError(fn);
    }
  }
  const bool ok = !ErrSet;
  PopErr(true);
  return ok;
}

bool DelDirectory(const char* dir, bool recursive) {
  if (ErrSet || !dir || !*dir) return false;
  FsStat st;
  if (!PlatformStat(dir, false, &st)) return true;
  const bool ok = st.kind == FsKind::kLink ? PlatformRemoveDir(dir)
                  : recursive              ? RemoveTree(dir)
                                           : PlatformRemoveDir(dir);
  if (!ok) DeleteError(dir);
  return ok;
}

char* FileReadBf(const char* fn, U4* len) {
  if (ErrSet) return nullptr;
  if (len) *len = 0;
  const U4 size = FileSize(fn, true);
  if (ErrSet) return nullptr;
  if (size == kAllU4) {
    SeMErrMult("FileReadBf", ":file too large (", fn, ")", nullptr);
    return nullptr;
  }
  char* bf = static_cast<char*>(AllocTransitoryU1(size + 1));
  FLDF* fd = bf ? FLOpenRead(fn) : nullptr;
  const U4 got = size ? FLReadBf(fd, size, bf, size, false) : 0;
  FLClose(fd);
  if (ErrSet) {
    FreeSP(&bf);
    return nullptr;
  }
  bf[got] = '\0';
  if (len) *len = got;
  return bf;
}

bool FileWriteBf(const char* fn, const void* bf, U4 cnt, U1 ioc) {
  if (ErrSet) return false;
  FLDF* fd = FLOpen(fn, ioc, nullptr);
  if (!fd) return false;
  FLWriteBf(fd, bf, cnt);
  FLClose(fd);
  return !ErrSet;
}

void CopyMRFsToHD() {
  if (ErrSet) return;
  LogStMult("Copy MRFs to HD:", nullptr);
  for (MRFD& md : mrf_tbl) {
    if (!md.name[0]) continue;
    char disk[kFLNameMax + 1];
    StToStMult(disk, sizeof disk, false, "MRF_", md.name + 4, nullptr);
    LogStMult("\t", md.name, " -> ", disk, nullptr);
    MyCopyFile(disk, md.name, false);
    // An error nobody reports stays pending, and the next names would not be made.
    if (ErrSet && !ReportPendingErr()) return;
  }
}
