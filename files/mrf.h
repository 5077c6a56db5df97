// Memory-resident files: named files ("MRF:..." ) that live in the program's memory and
// are served through the ordinary buffered handles.
#pragma once
#include "files/fltable.h"

inline constexpr U4 kMRFSlots = 200;
inline constexpr U4 kMRFFirstBfSz = 1048544;
inline constexpr U4 kMRFGrowth = 1048576;

struct MRFD {
  char name[kFLNameMax + 1]; // with "MRF:"; empty: free slot
  U4 fl_sz;
  I8 mtime; // seconds since 1970, 0 when never set
  I8 ctime;
  U1* bf; // contents and a closing zero byte
  U4 bfsz;
  const char* trm;
  U4 trm_len;
  U1 shrink_on_close;
  U1 writer;  // open mode of the one writer (2 or 3), 0 when none
  U4 readers; // read handles open now
};

extern MRFD mrf_tbl[kMRFSlots];

FLDF* MRFLOpen(const char* fn, U1 ioc, const char* trm);
FLDF* MRFLClose(FLDF* fd);
char* MRFLReadRec(FLDF* fd);
U4 MRFLReadBf(FLDF* fd, U4 cnt, void* bf, U4 bfsz, bool underflow_err);
bool MRFLWriteBf(FLDF* fd, const void* bf, U4 cnt);
bool MRFLWriteByte(FLDF* fd, U1 c);
bool MRFWriteRec(FLDF* fd, const char* st);

// The MRF of that name (letter case ignored), or null; with report a missing one fails.
MRFD* FindMRF(const char* fn, bool report);
bool MRFExists(const char* fn, bool report);
// 0 while closed, else the writer's mode or 1 for readers only.
U1 MRFOpenState(const MRFD* md);
bool DeleteMRF(const char* fn);
// Gives an MRF a new "MRF:" name.
bool RenameMRF(MRFD* md, const char* newfn);
void DumpMRFs(U1 level);
