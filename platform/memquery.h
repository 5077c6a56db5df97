// What the system says about the process's memory: its use, the machine's totals and the
// free runs of the address space; and the output of a measuring program.
#pragma once
#include "base/types.h"

// Private bytes of this process (the pagefile usage on Windows, resident anonymous memory
// on Linux). False with the platform's last error set when the system does not answer;
// *failed_call names the call.
bool PlatformProcessMemory(U8* bytes, const char** failed_call);

struct PlatformMemoryStatus {
  U8 total_phys = 0;    // physical memory of the machine
  U8 total_virtual = 0; // user address space of the process
  U8 avail_virtual = 0; // the part of it not reserved or committed
};
bool PlatformMemoryStatusOf(PlatformMemoryStatus* status);

// The largest run of adjacent free regions in the address space, walked region by region;
// 0 when the walk is not possible.
U8 PlatformLargestFreeRun();
