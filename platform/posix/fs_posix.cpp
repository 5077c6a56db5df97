#include "platform/fs.h"

#include "platform/syserr.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {
bool Fail() {
  SetPlatformLastError(U4(errno));
  return false;
}

FsKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return FsKind::kRegular;
  if (S_ISDIR(mode)) return FsKind::kDirectory;
  if (S_ISCHR(mode)) return FsKind::kCharDevice;
  if (S_ISLNK(mode)) return FsKind::kLink;
  return FsKind::kOther;
}

bool Copy(const std::string& s, char* bf, U4 bfsz) {
  if (!bf || bfsz == 0 || s.size() >= bfsz) {
    errno = ENAMETOOLONG;
    return Fail();
  }
  std::memcpy(bf, s.c_str(), s.size() + 1);
  return true;
}
} // namespace

char PlatformDirSep() {
  return '/';
}
bool PlatformHasDrives() {
  return false;
}

bool PlatformStat(const char* fn, bool follow, FsStat* st) {
  struct stat s {};
  if ((follow ? stat(fn, &s) : lstat(fn, &s)) != 0) return Fail();
  st->kind = KindOf(s.st_mode);
  st->size = U8(s.st_size);
  st->mtime = I8(s.st_mtime);
  st->ctime = I8(s.st_ctime);
  st->volume = U8(s.st_dev);
  st->index = U8(s.st_ino);
  return true;
}

// The Windows attribute word as far as POSIX has its parts: no write permission is
// read-only, a leading dot hides.
U4 PlatformAttributes(const char* fn) {
  struct stat s {};
  if (lstat(fn, &s) != 0) {
    Fail();
    return kAllU4;
  }
  U4 att = 0;
  if ((s.st_mode & S_IWUSR) == 0) att |= kFsAttrReadOnly;
  const char* base = std::strrchr(fn, '/');
  base = base ? base + 1 : fn;
  if (base[0] == '.' && base[1] && std::strcmp(base, "..") != 0) att |= kFsAttrHidden;
  if (S_ISDIR(s.st_mode)) att |= kFsAttrDirectory;
  if (S_ISLNK(s.st_mode)) att |= kFsAttrLink;
  return att ? att : 0x80; // "normal"
}

bool PlatformSetAttributes(const char* fn, U4 att) {
  struct stat s {};
  if (stat(fn, &s) != 0) return Fail();
  mode_t mode = s.st_mode & 07777;
  mode = (att & kFsAttrReadOnly) ? mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
  return chmod(fn, mode) == 0 || Fail();
}

bool PlatformAccessOf(const char* fn, FsAccess* access) {
  struct stat s {};
  if (stat(fn, &s) != 0) return Fail();
  access->mode = U4(s.st_mode & 07777);
  access->uid = U4(s.st_uid);
  access->gid = U4(s.st_gid);
  access->attributes = 0;
  return true;
}

bool PlatformSetAccess(const char* fn, const FsAccess& access) {
  struct stat s {};
  if (stat(fn, &s) != 0) return Fail();
  // The owner first: a change of owner clears the set-id bits that chmod then restores.
  if ((s.st_uid != uid_t(access.uid) || s.st_gid != gid_t(access.gid)) &&
      chown(fn, uid_t(access.uid), gid_t(access.gid)) != 0 && errno != EPERM)
    return Fail();
  return chmod(fn, mode_t(access.mode)) == 0 || Fail();
}

bool PlatformLastErrorIsNotFound() {
  const U4 e = PlatformLastError();
  return e == ENOENT || e == ENOTDIR;
}
bool PlatformLastErrorIsCrossDevice() {
  return PlatformLastError() == EXDEV;
}
bool PlatformLastErrorIsAccessDenied() {
  return PlatformLastError() == EACCES || PlatformLastError() == EPERM;
}

bool PlatformReadLink(const char* fn, char* bf, U4 bfsz, const char** failed_call, U4*) {
  if (failed_call) *failed_call = "readlink";
  char tmp[4096];
  const ssize_t n = readlink(fn, tmp, sizeof tmp - 1);
  if (n < 0) return Fail();
  tmp[n] = '\0';
  return Copy(tmp, bf, bfsz);
}

bool PlatformCreateLink(const char* linkfn, const char* target, bool) {
  return symlink(target, linkfn) == 0 || Fail();
}

bool PlatformRemoveFile(const char* fn) {
  return unlink(fn) == 0 || Fail();
}

bool PlatformRemoveDir(const char* dir) {
  struct stat s {};
  if (lstat(dir, &s) == 0 && S_ISLNK(s.st_mode)) return unlink(dir) == 0 || Fail();
  return rmdir(dir) == 0 || Fail();
}

bool PlatformMakeDir(const char* dir) {
  return mkdir(dir, 0777) == 0 || Fail();
}

bool PlatformRename(const char* src, const char* dst, bool replace) {
  if (!replace) {
    // link() fails on an existing name without the window of a separate test; folders
    // cannot be hard-linked, so they fall back to that test.
    if (link(src, dst) == 0) return unlink(src) == 0 || Fail();
    if (errno == EEXIST) return Fail();
    struct stat s {};
    if (lstat(dst, &s) == 0) {
      errno = EEXIST;
      return Fail();
    }
  }
  return rename(src, dst) == 0 || Fail();
}

bool PlatformListDir(const char* dir, void (*each)(const char*, void*), void* ctx) {
  DIR* d = opendir(dir);
  if (!d) return Fail();
  errno = 0;
  while (const dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) each(e->d_name, ctx);
    errno = 0;
  }
  const int err = errno;
  closedir(d);
  errno = err;
  return err == 0 || Fail();
}

bool PlatformSetFileTime(const char* fn, I8 mtime) {
  timespec ts[2];
  ts[0].tv_sec = ts[1].tv_sec = time_t(mtime);
  ts[0].tv_nsec = ts[1].tv_nsec = 0;
  return utimensat(AT_FDCWD, fn, ts, 0) == 0 || Fail();
}

bool PlatformSetCreationTime(const char*, I8) {
  SetPlatformLastError(0);
  return false;
}

bool PlatformFullPath(const char* fn, char* bf, U4 bfsz) {
  char in[8192];
  if (fn[0] == '/') {
    std::snprintf(in, sizeof in, "%s", fn);
  } else {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return Fail();
    std::snprintf(in, sizeof in, "%s/%s", cwd, fn);
  }
  // Fold "." and ".." and repeated separators; links stay as they are.
  char out[8192];
  size_t len = 0;
  for (const char* p = in; *p;) {
    while (*p == '/')
      ++p;
    const char* end = std::strchr(p, '/');
    const size_t n = end ? size_t(end - p) : std::strlen(p);
    if (n == 0 || (n == 1 && p[0] == '.')) {
    } else if (n == 2 && p[0] == '.' && p[1] == '.') {
      while (len > 0 && out[len - 1] != '/')
        --len;
      if (len > 0) --len;
    } else if (len + n + 2 < sizeof out) {
      out[len++] = '/';
      std::memcpy(out + len, p, n);
      len += n;
    }
    p += n;
  }
  if (len == 0) out[len++] = '/';
  out[len] = '\0';
  return Copy(out, bf, bfsz);
}

bool PlatformChDrive(char) {
  errno = EINVAL;
  return Fail();
}

bool PlatformSeek(std::FILE* fp, U8 off) {
  static_assert(sizeof(off_t) == 8, "file positions need a 64-bit off_t");
  if (off > U8(INT64_MAX)) {
    errno = EINVAL;
    return Fail();
  }
  return fseeko(fp, off_t(off), SEEK_SET) == 0 || Fail();
}

bool PlatformTell(std::FILE* fp, U8* off) {
  const off_t at = ftello(fp);
  if (at < 0) return Fail();
  *off = U8(at);
  return true;
}

bool PlatformTruncate(const char* fn, U8 len) {
  return truncate(fn, off_t(len)) == 0 || Fail();
}

const char* PlatformOpenCallName() {
  return "stat";
}

bool PlatformGetFileTimes(const char* fn, bool follow, I8* ctime, I8* wtime, I8* atime,
                          const char** failed_call) {
  *failed_call = "stat";
  struct statx sx {};
  const int flags = follow ? 0 : AT_SYMLINK_NOFOLLOW;
  if (statx(AT_FDCWD, fn, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return Fail();
  if (ctime) *ctime = I8((sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_ctime.tv_sec);
  if (wtime) *wtime = I8(sx.stx_mtime.tv_sec);
  if (atime) *atime = I8(sx.stx_atime.tv_sec);
  return true;
}

bool PlatformSetFileTimes(const char* fn, bool follow, const I8*, const I8* wtime, const I8* atime,
                          const char** failed_call) {
  *failed_call = "stat";
  struct stat s {};
  if ((follow ? stat(fn, &s) : lstat(fn, &s)) != 0) return Fail();
  *failed_call = "utimensat";
  timespec ts[2];
  ts[0].tv_sec = atime ? time_t(*atime) : 0;
  ts[0].tv_nsec = atime ? 0 : UTIME_OMIT;
  ts[1].tv_sec = wtime ? time_t(*wtime) : 0;
  ts[1].tv_nsec = wtime ? 0 : UTIME_OMIT;
  return utimensat(AT_FDCWD, fn, ts, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0 || Fail();
}

namespace {
// The freedesktop.org trash of the user: $XDG_DATA_HOME/Trash or ~/.local/share/Trash.
std::string TrashDir() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && *data) return std::string(data) + "/Trash";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/Trash";
}

std::string UrlPath(const char* fn) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(fn); *p; ++p) {
    const bool plain = std::isalnum(*p) || std::strchr("/-_.~", *p);
    if (plain) {
      out += char(*p);
    } else {
      out += '%';
      out += kHex[*p >> 4];
      out += kHex[*p & 15];
    }
  }
  return out;
}

// Makes the folder and any missing folder above it.
void MakeDirs(const std::string& dir) {
  for (size_t at = dir.find('/', 1); at != std::string::npos; at = dir.find('/', at + 1))
    mkdir(dir.substr(0, at).c_str(), 0700);
  mkdir(dir.c_str(), 0700);
}
} // namespace

bool PlatformRecycle(const char* fn) {
  const std::string trash = TrashDir();
  MakeDirs(trash);
  const std::string files = trash + "/files", info = trash + "/info";
  mkdir(files.c_str(), 0700);
  mkdir(info.c_str(), 0700);
  const char* base = std::strrchr(fn, '/');
  base = base ? base + 1 : fn;
  // The info file is made first and exclusively: it reserves the name in the trash.
  for (int n = 1; n < 1000; ++n) {
    const std::string name =
        n == 1 ? std::string(base) : std::string(base) + "." + std::to_string(n);
    const std::string info_fn = info + "/" + name + ".trashinfo";
    const int fd = open(info_fn.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return Fail();
    char when[32];
    const time_t now = time(nullptr);
    struct tm tm {};
    localtime_r(&now, &tm);
    strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &tm);
    const std::string text = "[Trash Info]\nPath=" + UrlPath(fn) + "\nDeletionDate=" + when + "\n";
    const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
    const bool closed = close(fd) == 0;
    if (written && closed && rename(fn, (files + "/" + name).c_str()) == 0) return true;
    const int err = written && closed ? errno : EIO;
    unlink(info_fn.c_str());
    errno = err;
    return Fail();
  }
  errno = EEXIST;
  return Fail();
}
