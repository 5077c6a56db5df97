#include "platform/fs.h"

#include "platform/syserr.h"

#include <cstring>
#include <direct.h>
#include <io.h>
#include <string>
#include <windows.h>
#include <winioctl.h>

// Needs windows.h first.
#include <shellapi.h>

namespace {
constexpr U8 kEpochDiff = 116444736000000000ull; // 1601 to 1970 in 100 ns steps

I8 Seconds(const FILETIME& ft) {
  const I8 v = I8((U8(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) - I8(kEpochDiff);
  return v >= 0 ? v / 10000000 : -((-v + 9999999) / 10000000);
}

FILETIME FileTimeOf(I8 secs) {
  const U8 v = U8(secs * 10000000 + I8(kEpochDiff));
  FILETIME ft;
  ft.dwLowDateTime = DWORD(v);
  ft.dwHighDateTime = DWORD(v >> 32);
  return ft;
}

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

HANDLE OpenForAttributes(const char* fn, DWORD access, bool follow) {
  return CreateFileA(
      fn, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
}

bool Copy(const std::string& s, char* bf, U4 bfsz) {
  if (!bf || bfsz == 0 || s.size() >= bfsz) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(bf, s.c_str(), s.size() + 1);
  return true;
}

std::string Narrow(const wchar_t* w, int len) {
  const int n = WideCharToMultiByte(CP_ACP, 0, w, len, nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, w, len, out.data(), n, nullptr, nullptr);
  return out;
}

bool SetTimes(const char* fn, const FILETIME* ctime, const FILETIME* mtime) {
  HANDLE h = CreateFileA(fn, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = SetFileTime(h, ctime, mtime, mtime) != 0;
  const DWORD err = GetLastError();
  CloseHandle(h);
  SetLastError(err);
  return ok;
}
} // namespace

char PlatformDirSep() {
  return '\\';
}
bool PlatformHasDrives() {
  return true;
}

bool PlatformStat(const char* fn, bool follow, FsStat* st) {
  HANDLE h = OpenForAttributes(fn, FILE_READ_ATTRIBUTES, follow);
  if (h == INVALID_HANDLE_VALUE) return false;
  *st = FsStat{};
  BY_HANDLE_FILE_INFORMATION info{};
  bool ok = true;
  if (GetFileType(h) == FILE_TYPE_CHAR) {
    st->kind = FsKind::kCharDevice;
  } else if (GetFileInformationByHandle(h, &info)) {
    const DWORD att = info.dwFileAttributes;
    st->kind = (!follow && (att & FILE_ATTRIBUTE_REPARSE_POINT)) ? FsKind::kLink
               : (att & FILE_ATTRIBUTE_DIRECTORY)                ? FsKind::kDirectory
                                                                 : FsKind::kRegular;
    st->size = (U8(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    st->mtime = Seconds(info.ftLastWriteTime);
    st->ctime = Seconds(info.ftCreationTime);
    st->volume = info.dwVolumeSerialNumber;
    st->index = (U8(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  } else {
    ok = false;
  }
  const DWORD err = GetLastError();
  CloseHandle(h);
  if (!ok) SetLastError(err);
  return ok;
}

U4 PlatformAttributes(const char* fn) {
  const DWORD att = GetFileAttributesA(fn);
  return att == INVALID_FILE_ATTRIBUTES ? kAllU4 : U4(att);
}

bool PlatformSetAttributes(const char* fn, U4 att) {
  return SetFileAttributesA(fn, att) != 0;
}

bool PlatformAccessOf(const char* fn, FsAccess* access) {
  HANDLE h = OpenForAttributes(fn, FILE_READ_ATTRIBUTES, true);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  const DWORD err = GetLastError();
  CloseHandle(h);
  if (!ok) return Fail(err);
  *access = FsAccess{};
  access->attributes = info.dwFileAttributes;
  return true;
}

bool PlatformSetAccess(const char* fn, const FsAccess& access) {
  constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD att = access.attributes & kSettable;
  return SetFileAttributesA(fn, att ? att : FILE_ATTRIBUTE_NORMAL) != 0;
}

bool PlatformLastErrorIsNotFound() {
  const DWORD e = GetLastError();
  return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME;
}
bool PlatformLastErrorIsCrossDevice() {
  return GetLastError() == ERROR_NOT_SAME_DEVICE;
}
bool PlatformLastErrorIsAccessDenied() {
  return GetLastError() == ERROR_ACCESS_DENIED;
}

// The layout of the reparse data of symbolic links, mount points and app-execution links.
struct ReparseData {
  DWORD tag;
  WORD data_len;
  WORD reserved;
  union {
    struct {
      WORD sub_off, sub_len, print_off, print_len;
      ULONG flags;
      WCHAR path[1];
    } symlink;
    struct {
      WORD sub_off, sub_len, print_off, print_len;
      WCHAR path[1];
    } mount;
    struct {
      ULONG version;
      WCHAR texts[1];
    } appexec;
  };
};

bool PlatformReadLink(const char* fn, char* bf, U4 bfsz, const char** failed_call, U4* tag) {
  const char* unused_call = nullptr;
  U4 unused_tag = 0;
  if (!failed_call) failed_call = &unused_call;
  if (!tag) tag = &unused_tag;
  *failed_call = "CreateFile";
  HANDLE h = CreateFileA(fn, 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  alignas(8) static char raw[16384];
  DWORD got = 0;
  const bool ok =
      DeviceIoControl(h, FSCTL_GET_REPARSE_POINT, nullptr, 0, raw, sizeof raw, &got, nullptr) != 0;
  const DWORD err = GetLastError();
  CloseHandle(h);
  *failed_call = "DeviceIoControl";
  if (!ok) return Fail(err);
  const auto* rd = reinterpret_cast<const ReparseData*>(raw);
  *tag = rd->tag;
  std::string target;
  if (rd->tag == IO_REPARSE_TAG_SYMLINK) {
    const auto& s = rd->symlink;
    target = Narrow(s.path + s.print_off / 2, s.print_len / 2);
    if (target.empty()) target = Narrow(s.path + s.sub_off / 2, s.sub_len / 2);
  } else if (rd->tag == IO_REPARSE_TAG_MOUNT_POINT) {
    const auto& m = rd->mount;
    target = Narrow(m.path + m.print_off / 2, m.print_len / 2);
  } else if (rd->tag == 0x8000001Bu) { // IO_REPARSE_TAG_APPEXECLINK
    target = Narrow(rd->appexec.texts, -1);
    if (!target.empty() && target.back() == '\0') target.pop_back();
  } else {
    *failed_call = nullptr;
    return Fail(ERROR_REPARSE_TAG_INVALID);
  }
  return Copy(target, bf, bfsz);
}

bool PlatformCreateLink(const char* linkfn, const char* target, bool dir) {
  const DWORD flags = dir ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
  if (CreateSymbolicLinkA(linkfn, target, flags | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
    return true;
  // Systems before developer mode refuse the unprivileged flag itself.
  if (GetLastError() != ERROR_INVALID_PARAMETER) return false;
  return CreateSymbolicLinkA(linkfn, target, flags) != 0;
}

bool PlatformRemoveFile(const char* fn) {
  const DWORD att = GetFileAttributesA(fn);
  if (att != INVALID_FILE_ATTRIBUTES && (att & FILE_ATTRIBUTE_REPARSE_POINT) &&
      (att & FILE_ATTRIBUTE_DIRECTORY))
    return RemoveDirectoryA(fn) != 0;
  return DeleteFileA(fn) != 0;
}

bool PlatformRemoveDir(const char* dir) {
  return RemoveDirectoryA(dir) != 0;
}

bool PlatformMakeDir(const char* dir) {
  return CreateDirectoryA(dir, nullptr) != 0;
}

bool PlatformRename(const char* src, const char* dst, bool replace) {
  return MoveFileExA(src, dst, replace ? MOVEFILE_REPLACE_EXISTING : 0) != 0;
}

bool PlatformListDir(const char* dir, void (*each)(const char*, void*), void* ctx) {
  std::string pattern = dir;
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if (std::strcmp(fd.cFileName, ".") != 0 && std::strcmp(fd.cFileName, "..") != 0)
      each(fd.cFileName, ctx);
  } while (FindNextFileA(h, &fd));
  const DWORD err = GetLastError();
  FindClose(h);
  return err == ERROR_NO_MORE_FILES || Fail(err);
}

bool PlatformSetFileTime(const char* fn, I8 mtime) {
  const FILETIME ft = FileTimeOf(mtime);
  return SetTimes(fn, nullptr, &ft);
}

bool PlatformSetCreationTime(const char* fn, I8 ctime) {
  const FILETIME ft = FileTimeOf(ctime);
  return SetTimes(fn, &ft, nullptr);
}

bool PlatformFullPath(const char* fn, char* bf, U4 bfsz) {
  const DWORD n = GetFullPathNameA(fn, bfsz, bf, nullptr);
  if (n == 0) return false;
  if (n >= bfsz) return Fail(ERROR_INSUFFICIENT_BUFFER);
  return true;
}

bool PlatformChDrive(char letter) {
  const char root[3] = {letter, ':', '\0'};
  return SetCurrentDirectoryA(root) != 0;
}

bool PlatformSeek(std::FILE* fp, U8 off) {
  if (off > U8(INT64_MAX)) return Fail(ERROR_NEGATIVE_SEEK);
  if (_fseeki64(fp, static_cast<__int64>(off), SEEK_SET) == 0) return true;
  return Fail(ERROR_SEEK);
}

bool PlatformTell(std::FILE* fp, U8* off) {
  const __int64 at = _ftelli64(fp);
  if (at < 0) return Fail(ERROR_SEEK);
  *off = U8(at);
  return true;
}

bool PlatformTruncate(const char* fn, U8 len) {
  HANDLE h = CreateFileA(fn, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &got, nullptr); // best effort
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(len);
  const bool ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  const DWORD err = GetLastError();
  CloseHandle(h);
  return ok || Fail(err);
}

const char* PlatformOpenCallName() {
  return "CreateFile";
}

bool PlatformGetFileTimes(const char* fn, bool follow, I8* ctime, I8* wtime, I8* atime,
                          const char** failed_call) {
  *failed_call = "CreateFile";
  HANDLE h = OpenForAttributes(fn, FILE_READ_ATTRIBUTES, follow);
  if (h == INVALID_HANDLE_VALUE) return false;
  *failed_call = "GetFileTime";
  FILETIME c{}, a{}, w{};
  const bool ok = GetFileTime(h, &c, &a, &w) != 0;
  const DWORD err = GetLastError();
  CloseHandle(h);
  if (!ok) return Fail(err);
  if (ctime) *ctime = Seconds(c);
  if (wtime) *wtime = Seconds(w);
  if (atime) *atime = Seconds(a);
  return true;
}

bool PlatformSetFileTimes(const char* fn, bool follow, const I8* ctime, const I8* wtime,
                          const I8* atime, const char** failed_call) {
  *failed_call = "CreateFile";
  HANDLE h = CreateFileA(fn, FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  *failed_call = "SetFileTime";
  FILETIME c{}, a{}, w{};
  if (ctime) c = FileTimeOf(*ctime);
  if (atime) a = FileTimeOf(*atime);
  if (wtime) w = FileTimeOf(*wtime);
  const bool ok =
      SetFileTime(h, ctime ? &c : nullptr, atime ? &a : nullptr, wtime ? &w : nullptr) != 0;
  const DWORD err = GetLastError();
  CloseHandle(h);
  return ok || Fail(err);
}

bool PlatformRecycle(const char* fn) {
  // The shell wants a list of names, each ended by a zero, the list by a second one.
  std::string from(fn);
  from.push_back('\0');
  SHFILEOPSTRUCTA op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  const int rc = SHFileOperationA(&op);
  if (rc == 0 && !op.fAnyOperationsAborted) return true;
  return Fail(rc ? DWORD(rc) : ERROR_CANCELLED);
}
