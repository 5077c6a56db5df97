// Buffered file handles: record-by-record reading with any line terminator, buffered
// writing, positioning. The descriptor table is files/fltable.h, included here.
#pragma once
#include "files/fltable.h"

#include <cstdarg>
#include <cstdio>

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

// The terminator a file uses, or null. With dflt, a file without one gets the terminator
// its name suggests.
const char* FileTrm(const char* fn, bool dflt);
