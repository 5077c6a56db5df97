// The process's memory: a measuring program's figure, or the system's count.
#include "mem/memgauge.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "mem/accounting.h"
#include "mem/tracked.h"
#include "platform/fs.h"
#include "platform/memquery.h"
#include "text/numbers.h"

#include <cstdio>
#include <cstring>

char* (*memgauge_run_hook)(const char* cmd, U4* size) = nullptr;

namespace {

bool memgauge_failed = false;

// The figure that a measuring program printed after its first "=".
bool MeasuringProgram(U8* bytes) {
  // The command interpreter of Windows looks in the current folder first; a shell does not.
  char cmd[kPgmTextSz + 32];
  std::snprintf(cmd, sizeof cmd, "%s%s%s%s", PlatformDirSep() == '/' ? "./" : "", "Memgauge.exe",
                " ", pgm_image_fn);
  U4 size = 0;
  char* out = memgauge_run_hook(cmd, &size);
  if (!out) return false;
  const char* eq = std::strchr(out, '=');
  if (!eq) {
    char shown[128];
    SeMErrMult("Memgauge", ":output=", PrintableText_MyBf(out, kAllU4, 100, shown, sizeof shown),
               nullptr);
  } else {
    *bytes = St10U8(eq + 1, 1, 1, nullptr, true);
  }
  FreeSP(&out);
  return !ErrSet;
}

bool MeasuringProgramPresent() {
  FsStat st;
  return memgauge_run_hook && PlatformStat("Memgauge.exe", true, &st) &&
         st.kind == FsKind::kRegular;
}

} // namespace

U8 Memgauge() {
  if (ErrSet || memgauge_failed) return 0;
  U8 bytes = 0;
  bool ok;
  if (MeasuringProgramPresent()) {
    ok = MeasuringProgram(&bytes);
  } else {
    const char* call = "GetProcessMemoryInfo";
    ok = PlatformProcessMemory(&bytes, &call);
    if (!ok) SeMLastErr(call);
  }
  if (!ok) {
    memgauge_failed = true;
    return 0;
  }
  proc_mem = bytes;
  if (bytes < proc_mem_lo) proc_mem_lo = bytes;
  if (bytes > proc_mem_hi) proc_mem_hi = bytes;
  return bytes;
}

U8 MemgaugeKB() {
  return Memgauge() / 1024;
}
