#include "files/filetimes.h"

#include "errlog/errstack.h"
#include "files/fname.h"
#include "files/ftest.h"
#include "files/mrf.h"
#include "platform/fs.h"
#include "text/strbuild.h"

#include <cstring>

namespace {
// call + ": " + label + name, with the system's error.
void CallError(const char* call, const char* sep, const char* fn) {
  char text[kFLNameMax + 64];
  StToStMult(text, sizeof text, false, call, sep, fn, nullptr);
  SeMLastErr(text);
}

bool Opening(const char* call) {
  return std::strcmp(call, PlatformOpenCallName()) == 0;
}
} // namespace

bool GetFileTimes(I8* ctime, I8* wtime, I8* atime, const char* fn) {
  I8* all[] = {ctime, wtime, atime};
  for (I8* t : all)
    if (t) *t = 0;
  if (ErrSet) return false;
  if (!fn || !*fn || IsMRFName(fn)) {
    SeMErrMult("GetFileTimes", ":srcfn=", !fn ? "NULL" : !*fn ? "(empty)" : fn, nullptr);
    return false;
  }
  const char* call = "";
  if (PlatformGetFileTimes(fn, redirect_links, ctime, wtime, atime, &call)) return true;
  if (Opening(call))
    CallError(call, ": srcfn=", fn);
  else
    CallError(call, ":", fn);
  for (I8* t : all)
    if (t) *t = 0;
  return false;
}

bool SetFileTimes(const char* fn, const I8* ctime, const I8* wtime, const I8* atime) {
  if (ErrSet) return false;
  if (!fn || !*fn || IsMRFName(fn)) {
    SeMErrMult("SetFileTimes", ":dstfn=", !fn ? "NULL" : !*fn ? "(empty)" : fn, nullptr);
    return false;
  }
  const U4 att = PlatformAttributes(fn);
  if (att != kAllU4 && (att & kFsAttrReadOnly) &&
      !AttributeToFile(fn, att & ~kFsAttrReadOnly, true))
    return false;
  const char* call = "";
  if (PlatformSetFileTimes(fn, redirect_links, ctime, wtime, atime, &call)) return true;
  CallError(call, ": dstfn=", fn);
  return false;
}

bool RecycleFile(const char* fn) {
  if (ErrSet) return false;
  if (!fn || !*fn) {
    SeMErrMult("RecycleFile", ":fn=", fn ? "(empty)" : "NULL", nullptr);
    return false;
  }
  if (IsMRFName(fn)) {
    SeMErrMult("Can't recycle an MRF", nullptr);
  } else if (FileIsLink(fn)) {
    SeMErrMult("Can't recycle a link", nullptr);
  } else if (FileExists(fn, true)) {
    char full[kFLNameMax + 1];
    if (!PlatformFullPath(fn, full, sizeof full) || !PlatformRecycle(full))
      CallError("RecycleFile", ": fn=", fn);
  }
  if (ErrSet) AddErrMult(" (file=", fn, ")", nullptr);
  return !ErrSet;
}
