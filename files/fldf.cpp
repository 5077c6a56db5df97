#include "files/fldf.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/logline.h"
#include "files/ftest.h"
#include "files/mediafn.h"
#include "files/mrf.h"
#include "mem/tracked.h"
#include "platform/fs.h"
#include "text/numfmt.h"
#include "text/strbuild.h"
#include "time/clock.h"

#include <bit>
#include <cerrno>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

I4 open_files_cnt = 0;
I4 open_files_cnt_hi = 0;

namespace {
constexpr const char kNoFile[] = "Read error (no file opened)";
constexpr const char kNoFileW[] = "Write error (no file opened)";

// op + ":" + text; texts that begin with ":" already carry their separator.
void Fail(const char* op, const char* text, const char* more = nullptr) {
  if (text[0] == ':')
    SeMErrMult(op, text, more, nullptr);
  else
    SeMErrMult(op, ":", text, more, nullptr);
}

void OpenError(const char* fn, const char* tail1, const char* tail2 = nullptr,
               const char* tail3 = nullptr) {
  SeMErrMult("Open error on \"", fn, "\"", tail1, tail2, tail3, nullptr);
}

bool IsReadHandle(const FLDF* fd) {
  return fd->ioc == FL_READ;
}

// The size of a file being opened; false with the message taken off the error stack.
bool SizeOf(const char* fn, U8* size, char* msg, U4 msgsz) {
  *size = FileSize8(fn, true);
  if (!ErrSet) return true;
  ErrMessage(false, false, msg, msgsz);
  *size = 0;
  return false;
}

// Index of the first line-feed, carriage return or zero byte in p[0..n), or n. Two blocks
// of sixteen bytes at a time where the compiler targets SSE2 (every x86-64), else eight
// bytes: the lowest byte below 14 that a word holds is found exactly from its mask (borrows
// only mark bytes above it), and most words hold none.
U4 ScanTerm(const U1* p, U4 n) {
  auto is_term = [](U1 c) { return c == '\n' || c == '\r' || c == 0; };
  U4 i = 0;
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r'), zero = _mm_setzero_si128();
  auto hits = [&](U4 at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)),
                                     _mm_cmpeq_epi8(v, zero));
    return U4(_mm_movemask_epi8(hit));
  };
  // Two blocks a turn: a typical record ends within the first or second turn.
  for (; i + 32 <= n; i += 32)
    if (const U4 mask = hits(i) | hits(i + 16) << 16) return i + U4(std::countr_zero(mask));
  for (; i + 16 <= n; i += 16)
    if (const U4 mask = hits(i)) return i + U4(std::countr_zero(mask));
#endif
  constexpr U8 kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  while (i + 8 <= n) {
    U8 w;
    std::memcpy(&w, p + i, 8);
    U8 low = (w - kOnes * 14) & ~w & kHigh;
    if (low == 0) {
      i += 8;
      continue;
    }
    const U4 at = i + U4(std::countr_zero(low) >> 3);
    if (is_term(p[at])) return at;
    i = at + 1; // a tab or another control byte: look on after it
  }
  for (; i < n; ++i)
    if (is_term(p[i])) return i;
  return n;
}

// File size of a write handle: the furthest byte written.
void GrowSize(FLDF* fd) {
  const U8 end = fd->io_fp + fd->bf_cnt;
  if (end > fd->fl_sz) fd->fl_sz = end;
}

bool CheckWrite(const char* op, FLDF* fd) {
  if (ErrSet) return false;
  if (!fd) {
    Fail(op, ":NULL wfp");
    return false;
  }
  if (!fd->stream && !fd->mrf) {
    Fail(op, kNoFileW);
    return false;
  }
  if (IsReadHandle(fd)) {
    SeMErrMult("Write error on \"", fd->name, "\" (opened for reading)", nullptr);
    return false;
  }
  return true;
}
} // namespace

std::FILE* MyFOpen(const char* fn, const char* mode) {
  std::FILE* fp = std::fopen(fn, mode);
  if (fp && ++open_files_cnt > open_files_cnt_hi) open_files_cnt_hi = open_files_cnt;
  return fp;
}

int MyFClose(std::FILE* fp) {
  if (!fp) return 0;
  const int rc = std::fclose(fp);
  if (rc == 0) --open_files_cnt;
  return rc;
}

FLDF* FLOpen(const char* fn, U1 ioc, const char* trm) {
  if (ErrSet) return nullptr;
  if (!fn) {
    Fail("FLOpen", ":fn=NULL");
    return nullptr;
  }
  if (!*fn) {
    Fail("FLOpen", ":fn is empty");
    return nullptr;
  }
  if (IsMRFName(fn)) return MRFLOpen(fn, ioc, trm);
  const U4 fn_len = StLen(fn);
  if (fn_len > kFLNameMax) {
    SeMErrMult("FLOpen", ":fn too long (", VS10_U8(fn_len).bf, " > ", VS10_U8(kFLNameMax).bf,
               " characters)", nullptr);
    return nullptr;
  }
  if (ioc < FL_READ || ioc > FL_APPEND) {
    OpenError(fn, " (invalid IOC)");
    return nullptr;
  }
  // The slot first: a write open empties the file, which must not happen for nothing.
  FLDF* fd = FreeFLDFSlot();
  if (!fd) {
    Fail("FLOpen", ":FLDF slot overflow");
    return nullptr;
  }

  const char* mode = ioc == FL_READ ? "rb" : ioc == FL_WRITE ? "wb" : "ab";
  errno = 0;
  std::FILE* fp = MyFOpen(fn, mode);
  if (!fp && ioc != FL_READ) {
    SleepMsecs(10); // another program may hold it for a moment
    errno = 0;
    fp = MyFOpen(fn, mode);
  }
  if (!fp) {
    OpenError(fn, " (", std::strerror(errno), ")");
    return nullptr;
  }

  U8 fl_sz = 0;
  char msg[kErrMsgSize];
  if (ioc != FL_WRITE && !SizeOf(fn, &fl_sz, msg, sizeof msg)) {
    if (ioc == FL_APPEND) {
      MyFClose(fp);
      SeMErrMult(msg, nullptr);
      return nullptr;
    }
    if (debug_level || pgm_log_dbg) LogSt("FLOpen", ":", msg, " (IGNORED)");
    fl_sz = 0;
  }

  U4 rec_bfsz = 0, io_bfsz = kFLIOBfSz;
  if (ioc == FL_READ) {
    rec_bfsz = fl_sz > 0 && fl_sz < kFLRecBfSz ? U4(fl_sz) + 1 : kFLRecBfSz;
    io_bfsz = fl_sz > 0 && fl_sz < kFLIOBfSz ? U4(fl_sz) : kFLIOBfSz;
  }
  char* rec_bf = rec_bfsz ? static_cast<char*>(AllocTransitoryU1(rec_bfsz)) : nullptr;
  U1* io_bf = ErrSet ? nullptr : static_cast<U1*>(AllocTransitoryU1(io_bfsz));
  if (ErrSet || !io_bf || (rec_bfsz && !rec_bf)) {
    MyFClose(fp);
    FreeSP(&rec_bf);
    FreeSP(&io_bf);
    msg[0] = '\0';
    ErrMessage(false, false, msg, sizeof msg);
    OpenError(fn, "(", msg[0] ? msg : "out of memory", ")");
    return nullptr;
  }

  *fd = FLDF{};
  StToStMult(fd->name, sizeof fd->name, false, fn, nullptr);
  fd->stream = fp;
  fd->ioc = ioc;
  fd->trm = trm;
  fd->trm_len = StLen(trm);
  fd->fl_sz = fl_sz;
  fd->rec_bfsz = rec_bfsz;
  fd->rec_bf = rec_bf;
  fd->io_bf = io_bf;
  fd->io_bfsz = io_bfsz;
  fd->io_fp = ioc == FL_APPEND ? fl_sz : 0;
  // A read handle has a cache of its own: each fill is then one read of the whole cache
  // instead of a copy through the stream's small buffer.
  if (ioc == FL_READ) std::setvbuf(fp, nullptr, _IONBF, 0);
  return fd;
}

FLDF* FLOpenRead(const char* fn, const char* trm) {
  return FLOpen(fn, FL_READ, trm);
}
FLDF* FLOpenWrite(const char* fn, const char* trm) {
  return FLOpen(fn, FL_WRITE, trm);
}
FLDF* FLOpenApp(const char* fn, const char* trm) {
  return FLOpen(fn, FL_APPEND, trm);
}

FLDF* FLClose(FLDF* fd) {
  if (!fd || !fd->name[0]) return nullptr;
  if (fd->mrf) return MRFLClose(fd);
  // The slot and the pending output must not be lost to an error that is already pending.
  const bool nested = ErrSet;
  if (nested) PushErr();
  if (!IsReadHandle(fd) && fd->stream) FLFlush(fd, false);
  if (MyFClose(fd->stream) != 0 && !IsReadHandle(fd))
    SeMErrMult("Write error on \"", fd->name, "\" (", std::strerror(errno), ")", nullptr);
  fd->stream = nullptr;
  fd->name[0] = '\0';
  FreeSP(&fd->rec_bf);
  FreeSP(&fd->io_bf);
  *fd = FLDF{};
  if (nested) PopErr(true);
  return nullptr;
}

U4 ReadIntoCache(FLDF* fd) {
  if (ErrSet || !fd) return 0;
  if (fd->mrf) {
    SeMErrMult("ReadIntoCache:Function not supported for MRF (file=", fd->name, ")", nullptr);
    return 0;
  }
  if (!fd->stream) {
    Fail("ReadIntoCache", kNoFile);
    return 0;
  }
  if (!fd->io_bf || fd->io_bfsz == 0) return 0;
  const U4 got = U4(std::fread(fd->io_bf, 1, fd->io_bfsz, fd->stream));
  if (got < fd->io_bfsz && !std::feof(fd->stream)) {
    if (std::ferror(fd->stream))
      SeMErrMult("fread failure on ", fd->name, nullptr);
    else
      SeMErrMult("fread failure on ", fd->name, " (cnt=", VS10_U8(got).bf,
                 " exp=", VS10_U8(fd->io_bfsz).bf, nullptr);
    return fd->bf_cnt;
  }
  fd->bf_idx = 0;
  fd->bf_cnt = got;
  fd->io_fp += got;
  return got;
}

U2 FLReadByte(FLDF* fd) {
  if (ErrSet) return kFLEof;
  if (!fd) {
    Fail("FLReadByte", ":NULL rfp");
    return kFLEof;
  }
  if (fd->mrf) {
    if (fd->io_fp >= fd->fl_sz || fd->io_fp >= fd->mrf->fl_sz) return kFLEof;
    return fd->mrf->bf[fd->io_fp++];
  }
  if (!fd->stream) {
    Fail("FLReadByte", kNoFile);
    return kFLEof;
  }
  if (!IsReadHandle(fd)) {
    SeMErrMult("Read error on \"", fd->name, "\" (opened for writing)", nullptr);
    return kFLEof;
  }
  if (fd->fl_sz > 0 && FLPos(fd) >= fd->fl_sz) return kFLEof;
  if (!fd->io_bf) {
    U1 c = 0;
    if (std::fread(&c, 1, 1, fd->stream) != 1) {
      if (std::ferror(fd->stream)) SeMErrMult("fread failure on ", fd->name, nullptr);
      return kFLEof;
    }
    ++fd->io_fp;
    return c;
  }
  if (fd->bf_idx >= fd->bf_cnt && (ReadIntoCache(fd) == 0 || ErrSet)) return kFLEof;
  return fd->io_bf[fd->bf_idx++];
}

U2 FLReadByteReverse(FLDF* fd) {
  if (ErrSet) return kFLEof;
  if (!fd) {
    Fail("FLReadByteReverse", ":NULL rfp");
    return kFLEof;
  }
  if (fd->mrf) {
    if (fd->io_fp == 0 || fd->io_fp > fd->mrf->fl_sz) return kFLEof;
    return fd->mrf->bf[--fd->io_fp];
  }
  if (!fd->stream) {
    Fail("FLReadByteReverse", kNoFile);
    return kFLEof;
  }
  if (!fd->io_bf) {
    if (fd->io_fp == 0 || !FSKEEK_(fd, fd->io_fp - 1)) return kFLEof;
    const U2 c = FLReadByte(fd);
    if (c == kFLEof || !FSKEEK_(fd, fd->io_fp - 1)) return kFLEof;
    return c;
  }
  const U8 pos = FLPos(fd);
  if (pos == 0) return kFLEof;
  if (fd->bf_idx > 0) return fd->io_bf[--fd->bf_idx];
  // Load the block that ends at the position and stand on its last byte.
  const U8 start = pos > fd->io_bfsz ? pos - fd->io_bfsz : 0;
  if (!FSKEEK_(fd, start)) return kFLEof;
  fd->bf_cnt = fd->bf_idx = 0;
  const U4 got = ReadIntoCache(fd);
  if (ErrSet || got < pos - start) return kFLEof;
  fd->bf_idx = U4(pos - 1 - start);
  return fd->io_bf[fd->bf_idx];
}

char* FLReadRec(FLDF* fd) {
  if (ErrSet) return nullptr;
  if (!fd) {
    Fail("FLReadRec", ":NULL rfp");
    return nullptr;
  }
  if (fd->mrf) return MRFLReadRec(fd);
  if (!fd->rec_bf) return nullptr;
  if (!fd->stream) {
    Fail("FLReadRec", kNoFile);
    return nullptr;
  }
  const U4 max = fd->rec_bfsz - 1;
  char* rec = fd->rec_bf;
  U4 len = 0;
  bool taken = false; // any byte, terminators included
  auto overflow = [&]() {
    rec[len] = '\0';
    SeMErrMult("Read error on \"", fd->name, "\": rec overflow: max=", VS10_U8(max).bf,
               " cnt=", VS10_U8(len).bf, " line=", VS10_U8(fd->rec_no).bf, nullptr);
    return nullptr;
  };
  auto after_cr = [&]() {
    const U2 next = FLReadByte(fd);
    if (next != kFLEof && next != '\n') FLReadByteReverse(fd);
  };

  if (!fd->io_bf) {
    for (;;) {
      const U2 c = FLReadByte(fd);
      if (ErrSet) return nullptr;
      if (c == kFLEof) {
        if (!taken) return nullptr;
        break;
      }
      taken = true;
      if (c == '\n' || c == 0) break;
      if (c == '\r') {
        after_cr();
        break;
      }
      if (len >= max) {
        FLReadByteReverse(fd); // the byte that did not fit stays unread
        return overflow();
      }
      rec[len++] = char(c);
    }
  } else {
    for (;;) {
      // The cached bytes within the size found at open: bytes added later are not read.
      U4 avail = fd->bf_cnt - fd->bf_idx;
      if (fd->fl_sz > 0) {
        const U8 left = fd->fl_sz - (fd->io_fp - fd->bf_cnt + fd->bf_idx);
        if (left == 0) {
          if (!taken) return nullptr;
          break;
        }
        if (left < avail) avail = U4(left);
      }
      if (avail == 0) {
        if (ReadIntoCache(fd) == 0 || ErrSet) {
          if (ErrSet || !taken) return nullptr;
          break;
        }
        continue;
      }
      const U1* p = fd->io_bf + fd->bf_idx;
      const U4 k = ScanTerm(p, avail);
      if (k > max - len) {
        std::memcpy(rec + len, p, max - len);
        fd->bf_idx += max - len;
        len = max;
        return overflow();
      }
      std::memcpy(rec + len, p, k);
      len += k;
      if (k == avail) { // the record goes on in the next fill
        fd->bf_idx += k;
        if (k > 0) taken = true;
        continue;
      }
      fd->bf_idx += k + 1;
      taken = true;
      if (p[k] == '\r') {
        // A line-feed after it belongs to this terminator; at the edge of the cache the
        // next byte is fetched (and given back) the general way.
        if (k + 1 < avail) {
          if (p[k + 1] == '\n') ++fd->bf_idx;
        } else {
          after_cr();
          if (ErrSet) return nullptr;
        }
      }
      break;
    }
  }
  rec[len] = '\0';
  if (fd->rec_no != kFLRecNoUncounted) ++fd->rec_no;
  return rec;
}

char* FLReadRecReverse(FLDF* fd) {
  if (ErrSet) return nullptr;
  if (!fd) {
    Fail("FLReadRecReverse", ":NULL rfp");
    return nullptr;
  }
  if (fd->fl_sz == 0 || FLPos(fd) == 0) return nullptr;
  const U4 noted = fd->rec_no;
  // Step back over the terminator that ends the wanted record.
  const U2 c = FLReadByteReverse(fd);
  if (c == kFLEof) return nullptr;
  if (c == '\n') {
    const U2 d = FLReadByteReverse(fd);
    if (d != kFLEof && d != '\r') FLReadByte(fd);
  } else if (c != 0 && c != '\r') {
    FLReadByte(fd);
  }
  // Back to the terminator of the record before it, or the start of the file.
  for (;;) {
    const U2 b = FLReadByteReverse(fd);
    if (b == kFLEof) break;
    if (b == '\n' || b == 0 || b == '\r') {
      FLReadByte(fd);
      break;
    }
  }
  if (ErrSet) return nullptr;
  const U8 start = FLPos(fd);
  char* rec = FLReadRec(fd);
  PosFL(fd, start);
  if (noted != kFLRecNoUncounted) fd->rec_no = noted == 0 ? 0 : noted - 1;
  return rec;
}

U4 FLReadBf(FLDF* fd, U4 cnt, void* bf, U4 bfsz, bool underflow_err) {
  if (ErrSet || cnt == 0) return 0;
  if (!fd) {
    Fail("FLReadBf", ":NULL rfp");
    return 0;
  }
  if (!bf) {
    Fail("FLReadBf", ":NULL bf");
    return 0;
  }
  if (fd->mrf) return MRFLReadBf(fd, cnt, bf, bfsz, underflow_err);
  if (cnt > bfsz) {
    SeMErrMult("Buffer overflow: srcfn=", fd->name, " rdcnt0=", VS10_U8(cnt).bf,
               " bfsz=", VS10_U8(bfsz).bf, nullptr);
    return 0;
  }
  U1* out = static_cast<U1*>(bf);
  out[0] = 0;
  U4 got = 0;
  while (got < cnt && !ErrSet) {
    if (fd->io_bf && fd->bf_idx < fd->bf_cnt && IsReadHandle(fd) && fd->stream) {
      // Whole runs out of the cache, within the size found at open.
      U4 run = fd->bf_cnt - fd->bf_idx;
      if (fd->fl_sz > 0) {
        const U8 left = fd->fl_sz - FLPos(fd);
        if (left < run) run = U4(left);
        if (run == 0) break;
      }
      if (run > cnt - got) run = cnt - got;
      std::memcpy(out + got, fd->io_bf + fd->bf_idx, run);
      fd->bf_idx += run;
      got += run;
      continue;
    }
    const U2 c = FLReadByte(fd);
    if (c == kFLEof) break;
    out[got++] = U1(c);
  }
  if (ErrSet) return got;
  if (got < cnt && underflow_err) SeMErrMult("Read underflow", nullptr);
  return got;
}

U8 FLPos(FLDF* fd) {
  if (ErrSet) return 0;
  if (!fd) {
    Fail("FLPos", ":NULL fdp");
    return 0;
  }
  if (fd->mrf) return fd->io_fp;
  if (!fd->stream) {
    Fail("FLPos", kNoFileW);
    return 0;
  }
  if (!fd->io_bf) return fd->io_fp;
  if (IsReadHandle(fd)) return fd->io_fp - fd->bf_cnt + fd->bf_idx;
  return fd->io_fp + fd->bf_cnt;
}

bool PosFL(FLDF* fd, U8 pos) {
  if (ErrSet) return false;
  if (!fd) {
    Fail("PosFL", ":NULL fdp");
    return false;
  }
  if (fd->mrf) {
    if (pos > fd->fl_sz) {
      SeMErrMult("PosFL", ": Pointer (", VS10_U8(pos).bf, ") > file size (", VS10_U8(fd->fl_sz).bf,
                 ", ", fd->name, ")", nullptr);
      return false;
    }
    fd->io_fp = pos;
  } else if (!fd->stream) {
    Fail("PosFL", kNoFileW);
    return false;
  } else if (!fd->io_bf) {
    if (!FSKEEK_(fd, pos)) return false;
  } else if (IsReadHandle(fd) && pos >= fd->io_fp - fd->bf_cnt && pos < fd->io_fp) {
    fd->bf_idx = U4(pos - (fd->io_fp - fd->bf_cnt));
  } else if (!IsReadHandle(fd) && pos >= fd->io_fp && pos < fd->io_fp + fd->bf_cnt) {
    // The pending bytes from pos on are dropped; the next write goes there.
    if (fd->fl_sz == fd->io_fp + fd->bf_cnt) fd->fl_sz = pos;
    fd->bf_cnt = U4(pos - fd->io_fp);
  } else {
    if (!IsReadHandle(fd) && !FLFlush(fd, false)) return false;
    if (!FSKEEK_(fd, pos)) return false;
    fd->bf_cnt = fd->bf_idx = 0;
  }
  fd->rec_no = pos == 0 ? 0 : kFLRecNoUncounted;
  return true;
}

bool FSKEEK_(FLDF* fd, U8 off) {
  if (ErrSet) return false;
  if (!fd) {
    Fail("FSKEEK_", ":NULL wfp");
    return false;
  }
  if (fd->mrf) return PosFL(fd, off);
  if (!fd->stream) {
    Fail("FSKEEK_", kNoFile);
    return false;
  }
  if (off <= fd->fl_sz && PlatformSeek(fd->stream, off)) {
    fd->io_fp = off;
    return true;
  }
  if (off <= fd->fl_sz) {
    U8 now = 0;
    if (PlatformTell(fd->stream, &now)) fd->io_fp = now;
  }
  SeMErrMult("fseek failure:", VS10_U8(off).bf, "/", VS10_U8(fd->fl_sz).bf, nullptr);
  return false;
}

bool FLFlush(FLDF* fd, bool hard) {
  if (ErrSet) return false;
  if (!fd) {
    Fail("FLFlush", ":NULL wfp");
    return false;
  }
  if (fd->mrf) return true;
  if (!fd->stream) {
    Fail("FLFlush", kNoFileW);
    return false;
  }
  if (IsReadHandle(fd)) return true; // a read cache is never written back
  if (fd->io_bf && fd->bf_cnt > 0) {
    const U4 done = U4(std::fwrite(fd->io_bf, 1, fd->bf_cnt, fd->stream));
    if (done < fd->bf_cnt) {
      U8 now = 0;
      if (PlatformTell(fd->stream, &now)) fd->io_fp = now;
      SeMErrMult("Write error on \"", fd->name, "\"", nullptr);
      return false;
    }
    fd->io_fp += done;
    fd->bf_cnt = 0;
  }
  if (hard) std::fflush(fd->stream);
  return true;
}

bool FLWriteBf(FLDF* fd, const void* bf, U4 cnt) {
  if (ErrSet) return false;
  if (!bf) return true;
  if (!CheckWrite("FLWriteBf", fd)) return false;
  if (fd->mrf) return MRFLWriteBf(fd, bf, cnt);
  if (cnt == kAllU4) cnt = StLen(static_cast<const char*>(bf));
  if (cnt == 0) return true;
  const U1* src = static_cast<const U1*>(bf);
  if (!fd->io_bf) {
    const U4 done = U4(std::fwrite(src, 1, cnt, fd->stream));
    if (done < cnt) {
      SeMErrMult("Write error on \"", fd->name, "\"", " cnt=", VS10_U8(cnt).bf,
                 " wcnt=", VS10_U8(done).bf, nullptr);
      return false;
    }
    fd->io_fp += cnt;
    GrowSize(fd);
    return true;
  }
  if (fd->bf_cnt >= fd->io_bfsz && !FLFlush(fd, false)) return false;
  while (cnt > fd->io_bfsz - fd->bf_cnt) {
    const U4 room = fd->io_bfsz - fd->bf_cnt;
    std::memcpy(fd->io_bf + fd->bf_cnt, src, room);
    fd->bf_cnt += room;
    GrowSize(fd);
    if (!FLFlush(fd, false)) return false;
    src += room;
    cnt -= room;
  }
  std::memcpy(fd->io_bf + fd->bf_cnt, src, cnt);
  fd->bf_cnt += cnt;
  GrowSize(fd);
  return true;
}

bool FLWriteByte(FLDF* fd, U1 c) {
  if (!CheckWrite("FLWriteByte", fd)) return false;
  if (fd->mrf) return MRFLWriteByte(fd, c);
  if (!fd->io_bf) {
    const U4 done = U4(std::fwrite(&c, 1, 1, fd->stream));
    if (done != 1) {
      SeMErrMult("Write error on \"", fd->name, "\"", " cnt=1 wcnt=", VS10_U8(done).bf, nullptr);
      return false;
    }
    ++fd->io_fp;
    GrowSize(fd);
    return true;
  }
  if (fd->bf_cnt >= fd->io_bfsz && !FLFlush(fd, false)) return false;
  fd->io_bf[fd->bf_cnt++] = c;
  GrowSize(fd); // counted like FLWriteBf, so positions past single bytes stay right
  return true;
}

bool FLWriteBfMult(FLDF* fd, const char* first, ...) {
  va_list rest;
  va_start(rest, first);
  U4 n = 0;
  for (const char* st = first; st && n < kMultMax && !ErrSet; st = va_arg(rest, const char*), ++n)
    FLWriteBf(fd, st, kAllU4);
  va_end(rest);
  return !ErrSet;
}

bool FLWriteStMultV(FLDF* fd, const char* first, va_list rest) {
  if (!CheckWrite("FLWriteStMult", fd)) return false;
  U4 n = 0;
  for (const char* st = first; st && n < kMultMax && !ErrSet; ++n) {
    FLWriteBf(fd, st, kAllU4);
    st = va_arg(rest, const char*);
  }
  if (ErrSet) return false;
  if (!fd->trm) {
    fd->trm = FileTrm(fd->name, true);
    fd->trm_len = StLen(fd->trm);
  }
  if (fd->trm_len == 1)
    FLWriteByte(fd, U1(fd->trm[0]));
  else if (fd->trm_len > 1)
    FLWriteBf(fd, fd->trm, fd->trm_len);
  return !ErrSet;
}

bool FLWriteStMult(FLDF* fd, const char* first, ...) {
  va_list rest;
  va_start(rest, first);
  const bool ok = FLWriteStMultV(fd, first, rest);
  va_end(rest);
  return ok;
}

bool FileWriteStMult(const char* fn, U1 ioc, const char* first, ...) {
  if (ErrSet) return false;
  FLDF* fd = FLOpen(fn, ioc, nullptr);
  if (!fd) return false;
  va_list rest;
  va_start(rest, first);
  FLWriteStMultV(fd, first, rest);
  va_end(rest);
  FLClose(fd);
  return !ErrSet;
}

const char* FileTrm(const char* fn, bool dflt) {
  if (!fn) return nullptr;
  const char* found = nullptr;
  if (IsMRFName(fn)) {
    if (MRFD* md = FindMRF(fn, false)) {
      if (!md->trm && (md->trm = BfTrm(md->bf, md->fl_sz)) != nullptr) md->trm_len = StLen(md->trm);
      found = md->trm;
    }
  } else if (std::FILE* fp = MyFOpen(fn, "rb")) {
    static U1 block[kFLIOBfSz];
    bool cr = false; // the byte before was a carriage return
    U4 got = 0;
    while (!found && (got = U4(std::fread(block, 1, sizeof block, fp))) > 0) {
      for (U4 i = 0; i < got && !found; ++i) {
        const U1 b = block[i];
        if (cr) {
          cr = false;
          if (b == '\n') found = TRM_CRLF;
          continue; // a lone CR: the scan goes on after the byte that follows it
        }
        if (b == '\n')
          found = TRM_LF;
        else if (b == '\r')
          cr = true;
      }
    }
    MyFClose(fp);
  }
  if (!found && dflt) found = TrmOfName(fn);
  return found;
}
