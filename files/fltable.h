// The table of file descriptors that buffered and memory-resident files share, and the
// record terminators.
#pragma once
#include "base/types.h"

#include <cstdio>

// The record terminators. Handles hold one of these pointers (or null) and never own it.
extern const char TRM_CRLF[]; // "\r\n"
extern const char TRM_LF[];   // "\n"
extern const char TRM_CR[];   // "\r"

inline constexpr U4 kFLNameMax = 300;     // characters of a file name
inline constexpr U4 kFLDFSlots = 100;     // simultaneously open handles
inline constexpr U4 kFLIOBfSz = 65504;    // write buffer, largest read cache
inline constexpr U4 kFLRecBfSz = 1048544; // largest record buffer
inline constexpr U2 kFLEof = 0xFFFF;      // FLReadByte at the end or on failure
inline constexpr U4 kFLRecNoUncounted = 0xFFFFFFFFu;

inline constexpr U1 FL_READ = 1;
inline constexpr U1 FL_WRITE = 2; // created or emptied
inline constexpr U1 FL_APPEND = 3;

struct MRFD; // a memory-resident file's descriptor

struct FLDF {
  char name[kFLNameMax + 1]; // empty: free slot
  std::FILE* stream;
  U1 ioc;          // FL_READ, FL_WRITE, FL_APPEND
  const char* trm; // record terminator, or null
  U4 trm_len;
  U8 fl_sz;    // size at open (read, append); bytes written so far (write)
  U4 rec_bfsz; // read handles
  char* rec_bf;
  U1* io_bf; // read cache or pending output
  U4 io_bfsz;
  U4 bf_cnt; // bytes in the cache / bytes pending
  U4 bf_idx; // next cached byte to deliver
  U8 io_fp;  // stream position under the buffer
  U4 rec_no; // records read since position 0, or kFLRecNoUncounted
  MRFD* mrf; // set for "MRF:" names; stream stays null then
};

extern FLDF fldf_tbl[kFLDFSlots];

// The terminator a buffer uses, or null.
const char* BfTrm(const void* bf, U4 cnt);
// True for names of memory-resident files ("MRF:", letter case ignored).
bool IsMRFName(const char* fn);
// The terminator a name suggests: LF for shell scripts, none for media, else CR LF.
const char* TrmOfName(const char* fn);
// A terminator as readable text ("\\r\\n", "none").
const char* TrmPrintable(const char* trm);
// The first free descriptor slot, or null when all are in use.
FLDF* FreeFLDFSlot();
