// libFuzzer target: a command file as the driver runs it. The bytes become a real file,
// read record by record and each record carried out by SimCmd on the fake desktop and
// clock. Input: one flag byte (time-out, debug line, key state), then the file.
// Besides the sanitizers, the records must be the file split at its terminators.
#include "app/simcmd.h"
#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "files/fldf.h"
#include "mem/lpm.h"
#include "mem/tracked.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_desktop.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

#define CHECK(cond)                                                                                \
  do {                                                                                             \
    if (!(cond)) __builtin_trap();                                                                 \
  } while (0)

std::string file_name;

// LF, a zero byte, CR and CR LF each end a record; a last record without one still counts.
std::vector<std::string> Records(const std::string& bytes) {
  std::vector<std::string> out;
  std::string cur;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\n' || c == '\0' || c == '\r') {
      out.push_back(cur);
      cur.clear();
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

void Windows(FakeDesktop& d) {
  FakeWindow w;
  w.title = "Notepad";
  w.className = "Notepad";
  w.rect = {100, 200, 740, 680};
  HWND_T top = d.Add(w);
  w.title = "Edit";
  w.className = "Edit";
  w.parent = top;
  d.Add(w);
  w.title = "term~1";
  w.className = "xterm";
  w.parent = 0;
  w.rect = {-50, -20, 30000, 20000};
  d.Add(w);
  w.title = "Later";
  w.className = "Slow";
  d.AddLater(w, 30);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InternalMemInit();
  log_echo = false; // no log is open; debug lines would only flood the console
  char tmpl[] = "/tmp/tapster_fuzz_XXXXXX";
  int fd = mkstemp(tmpl);
  if (fd < 0) std::abort();
  close(fd);
  file_name = tmpl;
  std::atexit([] { std::remove(file_name.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  ClearErr();
  U1 flags = data[0];
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  std::FILE* f = std::fopen(file_name.c_str(), "wb");
  CHECK(f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
  std::fclose(f);

  // Short: each 10 ms of waiting is another round of look-ups, and longer waits add nothing.
  static const U2 kTimeouts[] = {0, 20, 100, 250};
  U2 timeout = kTimeouts[flags & 3];
  debug_level = (flags & 4) ? 1 : 0;
  ScopedFakeClock clock;
  ScopedFakeDesktop desk;
  Windows(desk.desktop);
  // CapsLock and Shift as the user left them.
  if (flags & 8) desk.desktop.keybd_event(kVkCapital, 0, 0, 0);
  if (flags & 16) desk.desktop.keybd_event(kVkShift, 0, 0, 0);

  SettleMemBooks();
  U8 blocks = pgm_alloc_mem_cnt; // the library's own count: its leaks are invisible to LSan
  std::vector<std::string> want = Records(bytes);
  size_t n = 0;
  FLDF* fd = FLOpenRead(file_name.c_str());
  CHECK(fd && !ErrSet);
  while (const char* rec = FLReadRec(fd)) {
    CHECK(n < want.size() && want[n] == rec);
    ++n;
    SimCmd(rec, timeout);
    // The driver stops at the first failure; going on explores the later records too.
    char msg[kErrMsgSize];
    ErrMessage(true, false, msg, sizeof msg);
  }
  CHECK(!ErrSet && n == want.size());

  // The same file backwards, from its end.
  if (PosFL(fd, FLPos(fd))) {
    for (int i = 0; i < 64 && FLReadRecReverse(fd); ++i) {
    }
  }
  ClearErr();
  fd = FLClose(fd);
  SettleMemBooks();
  CHECK(!ErrSet && open_files_cnt == 0 && pgm_alloc_mem_cnt == blocks);
  debug_level = 0;
  return 0;
}
