#include "platform/memquery.h"
#include "platform/syserr.h"

#include <cstdio>
#include <windows.h>

// After windows.h, whose types it needs.
#include <psapi.h>

bool PlatformProcessMemory(U8* bytes, const char** failed_call) {
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)) {
    SetPlatformLastError(GetLastError());
    if (failed_call) *failed_call = "GetProcessMemoryInfo";
    return false;
  }
  *bytes = pmc.PagefileUsage;
  return true;
}

bool PlatformMemoryStatusOf(PlatformMemoryStatus* status) {
  MEMORYSTATUSEX ms{};
  ms.dwLength = sizeof ms;
  if (!GlobalMemoryStatusEx(&ms)) {
    SetPlatformLastError(GetLastError());
    return false;
  }
  status->total_phys = ms.ullTotalPhys;
  status->total_virtual = ms.ullTotalVirtual;
  status->avail_virtual = ms.ullAvailVirtual;
  return true;
}

U8 PlatformLargestFreeRun() {
  U8 largest = 0, run = 0;
  MEMORY_BASIC_INFORMATION mbi{};
  const char* addr = nullptr;
  while (VirtualQuery(addr, &mbi, sizeof mbi) == sizeof mbi) {
    if (mbi.State == MEM_FREE) {
      run += mbi.RegionSize;
      if (run > largest) largest = run;
    } else {
      run = 0;
    }
    const char* next = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize;
    if (next <= addr) break; // the top of the address space
    addr = next;
  }
  return largest;
}
