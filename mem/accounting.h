// Counters of tracked memory by kind with their peak values, the memory report lines, the
// leak slots and the process's own memory figure.
#pragma once
#include "mem/tracked.h"

// Stored bytes (descriptors not counted) and blocks by kind; _hi are peak values. The
// program-wide pgm_alloc_mem_cnt and pgm_alloc_mem are in mem/tracked.h.
extern U4 pgm_alloc_mem_cnt_hi;
extern U8 pgm_alloc_mem_hi, pgm_alloc_mem_lo;
extern U4 pgm_malloc_persistent_mem_cnt, pgm_malloc_persistent_mem_cnt_hi;
extern U8 pgm_malloc_persistent_mem, pgm_malloc_persistent_mem_hi;
extern U4 pgm_malloc_transitory_mem_cnt, pgm_malloc_transitory_mem_cnt_hi;
extern U8 pgm_malloc_transitory_mem, pgm_malloc_transitory_mem_hi;
extern U4 pgm_mrf_mem_cnt, pgm_mrf_mem_cnt_hi;
extern U8 pgm_mrf_mem, pgm_mrf_mem_hi;
extern U4 pgm_zl_mem_cnt, pgm_zl_mem_cnt_hi;
extern U8 pgm_zl_mem, pgm_zl_mem_hi;
// The process's memory at the last measurement.
extern U8 proc_mem, proc_mem_hi, proc_mem_lo;

// A block of pt's descriptor came into use (oldsz 0) or was resized from oldsz in place.
void UpdateMemDataAlloc(void* pt, U4 oldsz);
// pt's block is about to be released, parked or flagged freed. A counter that would go
// below zero ends the program.
void UpdateMemDataFree(void* pt);

// The process's memory use in bytes (0 after a failed measurement, which is not retried).
// Runs a command and returns its standard output in a tracked buffer (FreeSP), or null with
// the error pending; installed at start-up from the child-process layer. Without it the
// measuring program is not asked.
extern char* (*memgauge_run_hook)(const char* cmd, U4* size);
U8 Memgauge();
U8 MemgaugeKB();
U8 TotalPhysMemory();
U8 TotalPhysMemoryKB();
U8 TotalVirtualMemory();
U8 TotalVirtualMemoryKB();

// One log line with the counters that changed since the last one; with list_lpm the LPM
// block and its live blocks (list_freed: freed ones too).
void LogMemInfo(const char* text, bool list_lpm, bool list_freed);
// The reuse rings into the log; list_blocks names every waiting block.
void DumpUsedMem(const char* text, bool list_blocks);

// Leak checks on a developer machine: save the counters under id, later log what grew.
void SaveMemLeakInfo(const char* id, bool with_proc_mem);
bool LogMemLeakInfo(const char* id, bool proc_growth_only, const char* extra);
void LogMemLeakInfoReset();
