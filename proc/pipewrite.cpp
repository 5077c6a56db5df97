// Writing a text or a file to a command's standard input.
#include "platform/pipewrite.h"
#include "errlog/errstack.h"
#include "files/fileops.h"
#include "mem/tracked.h"
#include "proc/exec.h"

#include <cstring>

namespace {
constexpr U4 kPipeMsecs = 5000; // the command's whole run, as for reading its output

bool WriteToCommand(const char* cmd, const char* bf, U4 len, bool report) {
  const char* call = "popen";
  U4 code = 0;
  if (PlatformWriteToCommand(cmd, bf, len, kPipeMsecs, &call, &code)) return true;
  const bool started = std::strcmp(call, "popen") != 0;
  if (report || started) SeMLastErr(call, nullptr, code ? code : 1);
  if (report)
    AddErrMult(" (dstcmd=", cmd, ")", nullptr);
  else
    ClearErr();
  return false;
}
} // namespace

bool BfToPipe(const char* cmd, const char* st, bool report) {
  if (ErrSet) return false;
  if (!cmd || !*cmd) {
    if (report) SeMErrMult("BfToPipe", ":dstcmd=", cmd ? "(empty)" : "NULL", nullptr);
    return false;
  }
  return WriteToCommand(cmd, st ? st : "", st ? static_cast<U4>(std::strlen(st)) : 0, report);
}

bool FileToPipe(const char* cmd, const char* fn) {
  if (ErrSet) return false;
  if (!cmd || !*cmd) {
    SeMErrMult("FileToPipe", ":dstcmd=", cmd ? "(empty)" : "NULL", nullptr);
    return false;
  }
  U4 len = 0;
  char* bf = FileReadBf(fn, &len);
  const bool ok = bf && WriteToCommand(cmd, bf, len, true);
  FreeSP(&bf);
  return ok;
}
