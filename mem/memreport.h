// The memory reports of the program log.
#pragma once
#include "base/types.h"

// One log line with the counters that changed since the last one; with list_lpm the LPM
// block and its live blocks (list_freed: freed ones too).
void LogMemInfo(const char* text, bool list_lpm, bool list_freed);
// The reuse rings into the log; list_blocks names every waiting block.
void DumpUsedMem(const char* text, bool list_blocks);

// Leak checks on a developer machine: save the counters under id, later log what grew.
void SaveMemLeakInfo(const char* id, bool with_proc_mem);
bool LogMemLeakInfo(const char* id, bool proc_growth_only, const char* extra);
void LogMemLeakInfoReset();
