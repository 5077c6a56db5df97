#include "platform/memquery.h"
#include "platform/syserr.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// A "Name:   value kB" line of /proc/self/status, in bytes.
bool StatusField(const char* name, U8* bytes) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) {
    SetPlatformLastError(static_cast<U4>(errno));
    return false;
  }
  const std::size_t n = std::strlen(name);
  char line[256];
  bool found = false;
  while (!found && std::fgets(line, sizeof line, f)) {
    unsigned long long kb = 0;
    if (std::strncmp(line, name, n) == 0 && line[n] == ':' &&
        std::sscanf(line + n + 1, "%llu", &kb) == 1) {
      *bytes = U8{kb} * 1024;
      found = true;
    }
  }
  std::fclose(f);
  if (!found) SetPlatformLastError(ENOENT);
  return found;
}

// Top of the user address space: the end of the highest mapping rounded up to a power of
// two (47 bits on x86-64, 32 on i386), unless a resource limit says less.
U8 AddressSpaceTop(U8 highest_end) {
  U8 top = U8{1} << 32;
  while (top < highest_end && top < (U8{1} << 63))
    top <<= 1;
  rlimit lim{};
  if (getrlimit(RLIMIT_AS, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur < top)
    top = lim.rlim_cur;
  return top;
}

// Walks /proc/self/maps: the mapped total, the highest end and the largest gap.
bool WalkMaps(U8* mapped, U8* highest_end, U8* largest_gap) {
  std::FILE* f = std::fopen("/proc/self/maps", "r");
  if (!f) {
    SetPlatformLastError(static_cast<U4>(errno));
    return false;
  }
  U8 prev_end = 0;
  *mapped = *highest_end = *largest_gap = 0;
  char line[512];
  while (std::fgets(line, sizeof line, f)) {
    unsigned long long lo = 0, hi = 0;
    if (std::sscanf(line, "%llx-%llx", &lo, &hi) != 2 || hi < lo) continue;
    if (lo > prev_end && lo - prev_end > *largest_gap) *largest_gap = lo - prev_end;
    *mapped += hi - lo;
    if (hi > prev_end) prev_end = hi;
    // Skip the rest of a line longer than the buffer.
    while (!std::strchr(line, '\n') && std::fgets(line, sizeof line, f)) {
    }
  }
  std::fclose(f);
  *highest_end = prev_end;
  return true;
}

} // namespace

bool PlatformProcessMemory(U8* bytes, const char** failed_call) {
  // RssAnon is missing before Linux 4.5; the whole resident set is the next best figure.
  if (StatusField("RssAnon", bytes) || StatusField("VmRSS", bytes)) return true;
  if (failed_call) *failed_call = "/proc/self/status";
  return false;
}

bool PlatformMemoryStatusOf(PlatformMemoryStatus* status) {
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  U8 mapped = 0, highest = 0, gap = 0;
  if (pages <= 0 || page <= 0 || !WalkMaps(&mapped, &highest, &gap)) return false;
  status->total_phys = U8(pages) * U8(page);
  // Only the lowest 64 KiB stay unusable, as on Windows.
  status->total_virtual = AddressSpaceTop(highest) - 0x10000;
  status->avail_virtual = status->total_virtual > mapped ? status->total_virtual - mapped : 0;
  return true;
}

U8 PlatformLargestFreeRun() {
  U8 mapped = 0, highest = 0, gap = 0;
  if (!WalkMaps(&mapped, &highest, &gap)) return 0;
  const U8 top = AddressSpaceTop(highest);
  return top > highest && top - highest > gap ? top - highest : gap;
}
