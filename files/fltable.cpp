#include "files/fltable.h"

#include "files/mediafn.h"
#include "text/strbuild.h"

#include <cstring>

const char TRM_CRLF[] = "\r\n";
const char TRM_LF[] = "\n";
const char TRM_CR[] = "\r";

FLDF fldf_tbl[kFLDFSlots];

const char* TrmOfName(const char* fn) {
  const U4 len = StLen(fn);
  if (len >= 3 && fn[len - 3] == '.' && (fn[len - 2] | 0x20) == 's' && (fn[len - 1] | 0x20) == 'h')
    return TRM_LF;
  if (IsImageFN(fn) || IsAudioFN(fn) || IsVideoFN(fn)) return nullptr;
  return TRM_CRLF;
}

FLDF* FreeFLDFSlot() {
  for (FLDF& slot : fldf_tbl)
    if (!slot.name[0]) return &slot;
  return nullptr;
}

bool IsMRFName(const char* fn) {
  return fn && (fn[0] | 0x20) == 'm' && (fn[1] | 0x20) == 'r' && (fn[2] | 0x20) == 'f' &&
         fn[3] == ':';
}

const char* TrmPrintable(const char* trm) {
  if (!trm) return "none";
  if (std::strcmp(trm, "\r\n") == 0) return "\\r\\n";
  if (std::strcmp(trm, "\n") == 0) return "\\n";
  if (std::strcmp(trm, "\r") == 0) return "\\r";
  return trm;
}

const char* BfTrm(const void* bf, U4 cnt) {
  if (!bf || cnt == 0) return nullptr;
  const U1* p = static_cast<const U1*>(bf);
  if (cnt == kAllU4) {
    for (; *p; ++p) {
      if (*p == '\n') return TRM_LF;
      if (*p == '\r' && p[1] == '\n') return TRM_CRLF;
    }
    return nullptr;
  }
  if (p[cnt - 1] == '\n') return cnt >= 2 && p[cnt - 2] == '\r' ? TRM_CRLF : TRM_LF;
  for (U4 i = 0; i < cnt; ++i) {
    if (p[i] == '\n') return TRM_LF;
    if (p[i] == '\r' && i + 1 < cnt && p[i + 1] == '\n') return TRM_CRLF;
  }
  return nullptr;
}
