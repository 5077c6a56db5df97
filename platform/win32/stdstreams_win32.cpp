#include "platform/stdstreams.h"

#include <windows.h>
// psapi needs the types of windows.h; version 2 names the kernel32 entry points.
#define PSAPI_VERSION 2
#include <psapi.h>

#include <conio.h>
#include <cstdio>
#include <direct.h>
#include <fcntl.h>
#include <io.h>

int PlatformStreamFileNo(int which) {
  std::FILE* st = which == 0 ? stdin : which == 1 ? stdout : stderr;
  if (!st) return -1;
  int fd = _fileno(st);
  if (fd < 0 || _get_osfhandle(fd) == -1) return -1;
  return fd;
}

bool PlatformStreamIsTerminal(int fd) {
  return _isatty(fd) != 0;
}

void* PlatformStdHandle(int which) {
  DWORD id = which == 0 ? STD_INPUT_HANDLE : which == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  return GetStdHandle(id);
}

void PlatformSetBinary(int fd) {
  _setmode(fd, _O_BINARY);
}

// Missing streams keep negative file numbers on Windows; files never take their place.
void PlatformFillMissingStreams() {}

// Windows has no such signal: the write fails by itself.
void PlatformIgnoreBrokenPipe() {}

bool PlatformImagePath(char* bf, U4 size) {
  if (!bf || size == 0) return false;
  DWORD n = K32GetProcessImageFileNameA(GetCurrentProcess(), bf, size);
  if (n == 0) n = GetModuleFileNameA(nullptr, bf, size);
  if (n == 0 || n >= size) {
    bf[0] = 0;
    return false;
  }
  return true;
}

bool PlatformGetCwd(char* bf, U4 size) {
  return _getcwd(bf, static_cast<int>(size)) != nullptr;
}

bool PlatformChDir(const char* dir) {
  return _chdir(dir) == 0;
}

U4 PlatformPid() {
  return GetCurrentProcessId();
}

int PlatformProcessorCount() {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  return si.dwNumberOfProcessors > 0 ? static_cast<int>(si.dwNumberOfProcessors) : 1;
}

void* PlatformProcessHandle() {
  return GetCurrentProcess();
}
void* PlatformModuleInstance() {
  return GetModuleHandleA(nullptr);
}

bool PlatformWaitKey() {
  DWORD mode = 0;
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  // Without a console to read from, _getch would never return.
  if (in == nullptr || in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) return false;
  int c = _getch();
  if (c == 0 || c == 0xE0) _getch(); // extended keys come in two parts
  return true;
}
