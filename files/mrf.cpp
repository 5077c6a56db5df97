#include "files/mrf.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/logline.h"
#include "mem/tracked.h"
#include "text/match.h"
#include "text/numfmt.h"
#include "text/strbuild.h"
#include "time/clock.h"
#include "time/utm.h"

#include <cstring>

MRFD mrf_tbl[kMRFSlots];

namespace {
bool SameName(const char* a, const char* b) {
  return StLen(a) == StLen(b) && StMatch(a, b, '\0', false);
}

const char* SharedTrm(const char* trm) {
  if (!trm || trm == TRM_CRLF || trm == TRM_LF) return trm;
  if (std::strcmp(trm, TRM_CRLF) == 0) return TRM_CRLF;
  if (std::strcmp(trm, TRM_LF) == 0) return TRM_LF;
  return TRM_CR; // refused by the caller
}

// Capacity for an end of need bytes: the zero byte after the contents must fit too.
bool CapacityFor(U8 need, U4* cap) {
  U8 c = kMRFFirstBfSz;
  while (c <= need)
    c += kMRFGrowth;
  if (c > 0xFFFFFFFFull) return false;
  *cap = U4(c);
  return true;
}

void ClearSlot(MRFD* md) {
  FreeSP(&md->bf);
  *md = MRFD{};
  md->shrink_on_close = 1;
}

MRFD* Descriptor(const char* op, FLDF* fd, const char* null_text) {
  if (!fd) {
    SeMErrMult(op, null_text, nullptr);
    return nullptr;
  }
  if (!fd->mrf) SeMErrMult(op, ":NULL mdp", nullptr);
  return fd->mrf;
}

// The record number a position stands for: the terminators before it.
U4 RecordsBefore(const MRFD* md, U8 pos) {
  U4 n = 0;
  for (U8 i = 0; i < pos && i < md->fl_sz; ++i) {
    const U1 c = md->bf[i];
    if (c == '\n' && i > 0 && md->bf[i - 1] == '\r') continue;
    if (c == '\n' || c == '\r' || c == 0) ++n;
  }
  return n;
}
} // namespace

MRFD* FindMRF(const char* fn, bool report) {
  if (fn)
    for (MRFD& md : mrf_tbl)
      if (md.name[0] && SameName(md.name, fn)) return &md;
  if (report && !ErrSet) SeMErrMult("\"", fn ? fn : "NULL", "\" not found", nullptr);
  return nullptr;
}

bool MRFExists(const char* fn, bool report) {
  if (ErrSet) return false;
  return FindMRF(fn, report) != nullptr;
}

U1 MRFOpenState(const MRFD* md) {
  return md->writer ? md->writer : md->readers ? FL_READ : 0;
}

FLDF* MRFLOpen(const char* fn, U1 ioc, const char* trm) {
  if (ErrSet) return nullptr;
  if (!fn) {
    SeMErrMult("MRFLOpen", ":fn=(null)", nullptr);
    return nullptr;
  }
  if (ioc < FL_READ || ioc > FL_APPEND) {
    SeMErrMult("Open error on \"", fn, "\"", " (invalid ioc)", nullptr);
    return nullptr;
  }
  const char* shared = SharedTrm(trm);
  if (shared == TRM_CR) {
    SeMErrMult("Open error on \"", fn, "\"", "trm=", TrmPrintable(trm), nullptr);
    return nullptr;
  }
  if (StLen(fn) > kFLNameMax) {
    SeMErrMult("MRFLOpen", ":fn too long (", fn, ")", nullptr);
    return nullptr;
  }
  FLDF* fd = FreeFLDFSlot();
  if (!fd) {
    // Nothing is created or marked open for an open that cannot get a handle.
    SeMErrMult("MRFLOpen", ":FLDF slot overflow", nullptr);
    return nullptr;
  }
  MRFD* md = FindMRF(fn, ioc == FL_READ);
  if (ErrSet) return nullptr;
  *fd = FLDF{};
  if (ioc == FL_READ) {
    U4 rec_bfsz = md->fl_sz >= kFLRecBfSz ? kFLRecBfSz : md->fl_sz + 1;
    char* rec_bf = nullptr;
    if (md->fl_sz > 0 && !(rec_bf = static_cast<char*>(AllocTransitoryU1(rec_bfsz))))
      return nullptr;
    if (!rec_bf) rec_bfsz = 0;
    ++md->readers;
    StToStMult(fd->name, sizeof fd->name, false, fn, nullptr);
    fd->ioc = FL_READ;
    fd->fl_sz = md->fl_sz;
    fd->trm = md->trm;
    fd->trm_len = md->trm_len;
    fd->rec_bf = rec_bf;
    fd->rec_bfsz = rec_bfsz;
    fd->mrf = md;
    return fd;
  }
  // A write open would empty the contents under a reader's position.
  if (md && (md->writer || md->readers)) {
    SeMErrMult(fn, " is already open", nullptr);
    return nullptr;
  }
  if (!md) {
    for (MRFD& slot : mrf_tbl)
      if (!slot.name[0]) {
        md = &slot;
        break;
      }
    if (!md) {
      SeMErrMult("MRFLOpen", ":MRF slot overflow", nullptr);
      return nullptr;
    }
    ClearSlot(md);
    StToStMult(md->name, sizeof md->name, false, fn, nullptr);
    md->trm = shared;
    md->trm_len = StLen(shared);
    ioc = FL_WRITE;
  } else if (ioc == FL_WRITE) {
    md->fl_sz = 0;
    if (md->shrink_on_close) {
      FreeSP(&md->bf);
      md->bfsz = 0;
    } else if (md->bf) {
      md->bf[0] = 0;
    }
    md->trm = shared;
    md->trm_len = StLen(shared);
  }
  md->writer = ioc;
  StToStMult(fd->name, sizeof fd->name, false, fn, nullptr);
  fd->ioc = ioc;
  fd->fl_sz = md->fl_sz;
  fd->trm = md->trm;
  fd->trm_len = md->trm_len;
  fd->mrf = md;
  if (ioc == FL_APPEND) {
    fd->io_fp = md->fl_sz;
    fd->rec_no = kFLRecNoUncounted;
  } else {
    md->mtime = md->ctime = I8(ClockSecs());
  }
  return fd;
}

FLDF* MRFLClose(FLDF* fd) {
  if (!fd || !fd->mrf) return nullptr;
  PushErr();
  MRFD* md = fd->mrf;
  if (fd->ioc == FL_READ) {
    if (md->readers > 0) --md->readers;
  } else {
    md->writer = 0;
    if (md->shrink_on_close && md->bf && md->fl_sz + 1 < md->bfsz) {
      if (void* p = ReallocU1(md->bf, md->fl_sz + 1, true)) {
        md->bf = static_cast<U1*>(p);
        md->bfsz = md->fl_sz + 1;
      }
    }
  }
  FreeSP(&fd->rec_bf);
  *fd = FLDF{};
  PopErr(true);
  return nullptr;
}

char* MRFLReadRec(FLDF* fd) {
  if (ErrSet) return nullptr;
  MRFD* md = Descriptor("MRFLReadRec", fd, ":NULL rfp");
  if (!md) return nullptr;
  if (!fd->rec_bf || fd->io_fp >= fd->fl_sz || fd->io_fp >= md->fl_sz) return nullptr;
  if (fd->rec_no == kFLRecNoUncounted) fd->rec_no = RecordsBefore(md, fd->io_fp);
  U8 pos = fd->io_fp;
  const U8 end = md->fl_sz < fd->fl_sz ? md->fl_sz : fd->fl_sz;
  U4 len = 0;
  while (pos < end) {
    const U1 c = md->bf[pos];
    if (c == '\n' || c == 0) {
      ++pos;
      break;
    }
    if (c == '\r') {
      ++pos;
      if (pos < end && md->bf[pos] == '\n') ++pos;
      break;
    }
    if (len >= fd->rec_bfsz - 1) {
      fd->rec_bf[len] = '\0';
      fd->io_fp = pos;
      SeMErrMult("Read error on \"", fd->name, "\": rec overflow: max=", VS10_U8(fd->rec_bfsz).bf,
                 " cnt=", VS10_U8(len).bf, " line=", VS10_U8(fd->rec_no).bf, nullptr);
      return nullptr;
    }
    fd->rec_bf[len++] = char(c);
    ++pos;
  }
  fd->rec_bf[len] = '\0';
  fd->io_fp = pos;
  ++fd->rec_no;
  return fd->rec_bf;
}

U4 MRFLReadBf(FLDF* fd, U4 cnt, void* bf, U4 bfsz, bool underflow_err) {
  if (ErrSet || cnt == 0) return 0;
  if (!fd) {
    SeMErrMult("MRFLReadBf", ":NULL rfp", nullptr);
    return 0;
  }
  if (!bf) {
    SeMErrMult("MRFLReadBf", ":NULL bf", nullptr);
    return 0;
  }
  MRFD* md = Descriptor("MRFLReadBf", fd, ":NULL rfp");
  if (!md) return 0;
  if (cnt == kAllU4) cnt = U4(fd->fl_sz);
  if (cnt > bfsz) {
    SeMErrMult("Buffer overflow: srcfn=", fd->name, " rdcnt=", VS10_U8(cnt).bf,
               " bfsz=", VS10_U8(bfsz).bf, nullptr);
    return 0;
  }
  const U8 end = md->fl_sz < fd->fl_sz ? md->fl_sz : fd->fl_sz;
  const U4 got = fd->io_fp >= end ? 0 : U4(end - fd->io_fp < cnt ? end - fd->io_fp : cnt);
  if (got) std::memcpy(bf, md->bf + fd->io_fp, got);
  fd->io_fp += got;
  if (got < cnt && underflow_err) {
    SeMErrMult("Read underflow", nullptr);
    return 0;
  }
  return got;
}

bool MRFLWriteBf(FLDF* fd, const void* bf, U4 cnt) {
  if (ErrSet) return false;
  if (!bf) return true;
  MRFD* md = Descriptor("MRFLWriteBf", fd, ":NULL wfp");
  if (!md) return false;
  if (fd->ioc == FL_READ) {
    SeMErrMult("Write error on \"", fd->name, "\" (opened for reading)", nullptr);
    return false;
  }
  if (cnt == kAllU4) cnt = StLen(static_cast<const char*>(bf));
  if (cnt == 0) return true;
  const U8 end = fd->io_fp + cnt;
  U4 cap = 0;
  if (end > 0xFFFFFFFEull || !CapacityFor(end, &cap)) {
    SeMErrMult("MRFLWriteBf", ":io_fp overflow:wfp->io_fp=", VS10_U8(fd->io_fp).bf,
               " cnt=", VS10_U8(cnt).bf, " nxt_io_fp=", VS10_U8(end).bf, nullptr);
    AddErrMult(" (file=", fd->name, ")", nullptr);
    return false;
  }
  if (end >= md->bfsz) {
    void* p = md->bf ? ReallocU1(md->bf, cap, false) : AllocMRF(cap);
    if (!p) {
      if (!ErrSet) SeMErrMult("MRFLWriteBf", ":out of memory", nullptr);
      AddErrMult(" (file=", fd->name, ")", nullptr);
      return false;
    }
    md->bf = static_cast<U1*>(p);
    md->bfsz = cap;
    md->bf[cap - 1] = 0;
  }
  std::memcpy(md->bf + fd->io_fp, bf, cnt);
  fd->io_fp = end;
  fd->fl_sz = end;
  md->fl_sz = U4(end);
  md->bf[end] = 0;
  return true;
}

bool MRFLWriteByte(FLDF* fd, U1 c) {
  if (ErrSet) return false;
  if (!fd) {
    SeMErrMult("MRFLWriteByte", ":NULL wfp", nullptr);
    return false;
  }
  return MRFLWriteBf(fd, &c, 1);
}

bool MRFWriteRec(FLDF* fd, const char* st) {
  if (ErrSet) return false;
  MRFD* md = Descriptor("MRFWriteRec", fd, ":NULL wfp");
  if (!md) return false;
  if (!md->trm) {
    const char* trm = fd->trm ? fd->trm : BfTrm(md->bf, md->fl_sz);
    if (!trm) trm = TrmOfName(md->name);
    md->trm = trm;
    md->trm_len = StLen(trm);
    fd->trm = trm;
    fd->trm_len = md->trm_len;
  }
  if (st) MRFLWriteBf(fd, st, kAllU4);
  if (md->trm_len) MRFLWriteBf(fd, md->trm, md->trm_len);
  return !ErrSet;
}

bool DeleteMRF(const char* fn) {
  if (!fn) {
    if (!ErrSet) SeMErrMult("DeleteMRF", ":NULL fn", nullptr);
    return false;
  }
  PushErr();
  if (debug_level >= 2) LogStMult("DeleteMRF", ":", fn, nullptr);
  MRFD* md = FindMRF(fn, false);
  if (md && MRFOpenState(md))
    // Its handles would point at a freed buffer.
    SeMErrMult("DeleteMRF", ":\"", fn, "\" is open", nullptr);
  else if (md)
    ClearSlot(md);
  const bool ok = !ErrSet;
  PopErr(true);
  return ok && !ErrSet;
}

bool RenameMRF(MRFD* md, const char* newfn) {
  if (ErrSet || !md) return false;
  if (StLen(newfn) > kFLNameMax) {
    SeMErrMult("RenameFile", ":name too long (", newfn, ")", nullptr);
    return false;
  }
  StToStMult(md->name, sizeof md->name, false, newfn, nullptr);
  return true;
}

void DumpMRFs(U1 level) {
  if (ErrSet) return;
  LogStMult("MRFs:", nullptr);
  for (MRFD& md : mrf_tbl) {
    if (!md.name[0]) continue;
    char ct[64] = "?", mt[64] = "?";
    UTM utm{};
    if (md.ctime && TIME_TToUTM(&utm, md.ctime)) TimeS_MyBf(&utm, "01/01/2006 12:00:00", ct, 64);
    if (md.mtime && TIME_TToUTM(&utm, md.mtime)) TimeS_MyBf(&utm, "01/01/2006 12:00:00", mt, 64);
    LogStMult("name:", md.name, " fl_sz=", VS10_U8(md.fl_sz).bf, " bfsz=", VS10_U8(md.bfsz).bf,
              " ctime=", ct, " mtime=", mt, " trm=", TrmPrintable(md.trm),
              " shrink_on_close=", md.shrink_on_close ? "True" : "False", nullptr);
    if (level == 1) {
      if (FLDF* fd = MRFLOpen(md.name, FL_READ, nullptr)) {
        while (const char* rec = MRFLReadRec(fd))
          LogStMult("\t\t", rec, nullptr);
        MRFLClose(fd);
      }
    } else if (level >= 2) {
      for (U4 i = 0; i < md.fl_sz; ++i) {
        char ch[8];
        const U1 c = md.bf[i];
        if (c >= 0x20 && c < 0x7F)
          ch[0] = char(c), ch[1] = 0;
        else
          std::snprintf(ch, sizeof ch, "\\x%02X", c);
        LogStMult("\tbf[", VS10_U8(i).bf, "]=", ch, nullptr);
      }
    }
  }
}
