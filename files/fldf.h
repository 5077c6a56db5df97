// Buffered file handles: one fixed table of descriptors, record-by-record reading with
// any line terminator, buffered writing, positioning.
#pragma once
#include "base/types.h"

#include <cstdarg>
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
extern I4 open_files_cnt;    // streams open now
extern I4 open_files_cnt_hi; // the most ever open at once

// Counted stream open and close; every stream of the file layer goes through them.
std::FILE* MyFOpen(const char* fn, const char* mode);
int MyFClose(std::FILE* fp);

// Opening and closing. trm null: settled from the file when first needed.
FLDF* FLOpen(const char* fn, U1 ioc, const char* trm);
FLDF* FLOpenRead(const char* fn, const char* trm = nullptr);
FLDF* FLOpenWrite(const char* fn, const char* trm = nullptr);
FLDF* FLOpenApp(const char* fn, const char* trm = nullptr);
// Always returns null, for "fd = FLClose(fd);".
FLDF* FLClose(FLDF* fd);

// Reading. Records come without their terminator, valid until the next read or close;
// null at the end of the file or on failure.
char* FLReadRec(FLDF* fd);
char* FLReadRecReverse(FLDF* fd);
U2 FLReadByte(FLDF* fd);
U2 FLReadByteReverse(FLDF* fd);
U4 FLReadBf(FLDF* fd, U4 cnt, void* bf, U4 bfsz, bool underflow_err);
U4 ReadIntoCache(FLDF* fd);

// Positioning: logical position as callers see it, and the stream below the buffers.
U8 FLPos(FLDF* fd);
bool PosFL(FLDF* fd, U8 pos);
bool FSKEEK_(FLDF* fd, U8 off);

// Writing. cnt kAllU4: the text of bf up to its zero byte.
bool FLWriteBf(FLDF* fd, const void* bf, U4 cnt);
bool FLWriteByte(FLDF* fd, U1 c);
bool FLWriteBfMult(FLDF* fd, const char* first, ...) TAP_SENTINEL;
// The texts, then the handle's record terminator.
bool FLWriteStMult(FLDF* fd, const char* first, ...) TAP_SENTINEL;
bool FLWriteStMultV(FLDF* fd, const char* first, va_list rest);
bool FLFlush(FLDF* fd, bool hard);

// One record into a named file: ioc FL_WRITE replaces the file, FL_APPEND adds to it.
bool FileWriteStMult(const char* fn, U1 ioc, const char* first, ...) TAP_SENTINEL;

template <class... T> bool FLWriteSt(FLDF* fd, T... st) {
  static_assert(sizeof...(T) >= 1 && sizeof...(T) <= 60);
  return FLWriteStMult(fd, static_cast<const char*>(st)..., static_cast<const char*>(nullptr));
}
template <class... T> bool FileWriteSt(const char* fn, T... st) {
  static_assert(sizeof...(T) >= 1 && sizeof...(T) <= 60);
  return FileWriteStMult(fn, FL_WRITE, static_cast<const char*>(st)...,
                         static_cast<const char*>(nullptr));
}
template <class... T> bool FileAppendSt(const char* fn, T... st) {
  static_assert(sizeof...(T) >= 1 && sizeof...(T) <= 60);
  return FileWriteStMult(fn, FL_APPEND, static_cast<const char*>(st)...,
                         static_cast<const char*>(nullptr));
}

// The terminator a file or buffer uses, or null. With dflt, a file without one gets the
// terminator its name suggests.
const char* FileTrm(const char* fn, bool dflt);
const char* BfTrm(const void* bf, U4 cnt);

// True for names of memory-resident files ("MRF:", letter case ignored).
bool IsMRFName(const char* fn);
// The terminator a name suggests: LF for shell scripts, none for media, else CR LF.
const char* TrmOfName(const char* fn);
// A terminator as readable text ("\\r\\n", "none").
const char* TrmPrintable(const char* trm);
// The first free descriptor slot, or null when all are in use.
FLDF* FreeFLDFSlot();
