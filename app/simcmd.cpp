#include "app/simcmd.h"

#include "app/heldinput.h"
#include "app/inject.h"
#include "app/keytable.h"
#include "app/typetext.h"
#include "app/winlookup.h"
#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "mem/tracked.h"
#include "runtime/interrupt.h"
#include "text/match.h"
#include "text/numbers.h"
#include "text/numfmt.h"
#include "text/strbuild.h"
#include "time/clock.h"

#include <cstdio>
#include <cstring>

namespace {
constexpr U1 kVkEnter = 0x0D;
constexpr U1 kVkSpace = 0x20;
constexpr U1 kVkTab = 0x09;

// The five fields of a command, cut out of a private copy; null for a field that the
// command does not reach.
struct Fields {
  char* win = nullptr;
  char* key = nullptr;
  char* ud = nullptr;
  char* y = nullptr;
  char* x = nullptr;
  int separators = 0;
};

Fields Split(char* copy) {
  Fields f;
  f.win = copy;
  char** next[4] = {&f.key, &f.ud, &f.y, &f.x};
  for (char* p = copy; *p; ++p) {
    if (*p != '/') continue;
    *p = 0;
    if (f.separators == 4) break; // a fifth "/" cuts the rest off
    *next[f.separators++] = p + 1;
    // "win//" names the key "/" itself.
    if (f.separators == 1 && std::strcmp(p + 1, "/") == 0) break;
  }
  return f;
}

bool Empty(const char* field) {
  return !field || !*field;
}

void LogCommand(const Fields& f, U1 ud, I2 y, I2 x) {
  char win[1024], key[256], yText[256];
  // Window names come from the command line or a file: control characters in them must
  // not start log lines of their own.
  PrintableText_MyBf(f.win, kAllU4, sizeof win - 1, win, sizeof win);
  PrintableText_MyBf(f.key, kAllU4, sizeof key - 1, key, sizeof key);
  PrintableText_MyBf(f.y, kAllU4, sizeof yText - 1, yText, sizeof yText);
  LogStMult("SimCmd", ":wnd=", win, " keyt=", key, " myt=", yText, " ud=", HexDigits(ud, 2).bf,
            " gy=", VS10_U8(static_cast<U2>(y)).bf, " gx=", VS10_U8(static_cast<U2>(x)).bf,
            nullptr);
}
} // namespace

U1 UpDownCode(const char* ud) {
  if (Empty(ud)) return kUdPress | kUdRelease;
  if (StMatch(ud, "D", 0, false)) return kUdPress;
  if (StMatch(ud, "U", 0, false)) return kUdRelease;
  if (StMatch(ud, "DU", 0, false)) return kUdPress | kUdRelease;
  return 0;
}

void SimCmd(const char* cmd, U2 timeoutMsecs) {
  if (ErrSet) return;
  char* copy = SPCopyMult(true, cmd ? cmd : "", nullptr);
  if (!copy) return;
  Fields f = Split(copy);
  U1 ud = UpDownCode(f.ud);
  I2 y = Empty(f.y) ? 0 : St10I2(f.y, 1, 1, nullptr, true);
  I2 x = Empty(f.x) ? 0 : St10I2(f.x, 1, 1, nullptr, true);
  if (debug_level) LogCommand(f, ud, y, x);

  HWND_T target = 0;
  if (!ErrSet && !Empty(f.win)) target = SimCmdWindow(f.win, timeoutMsecs);

  // Runs on one desktop take turns, from the first key (or activation) to the last release.
  Desktop& d = TheDesktop();
  if (ErrSet) {
    // A bad coordinate or no window: nothing is sent.
  } else if (!Empty(f.key) && f.key[0] != '\'') {
    int i = KeyNameIndex(f.key);
    if (i < 0) {
      SeMErrMult("Bad key name \"", f.key, "\"", nullptr);
    } else if (!d.AcquireInputLock(timeoutMsecs)) {
      // Another run kept the desktop: its error is pending, nothing is sent.
    } else if (IsMouseButtonCode(key_names[i].code)) {
      SimMouse(key_names[i].code, ud, target, y, x, false);
    } else {
      Tapster(key_names[i].code, ud, target);
    }
  } else if (!Empty(f.key)) {
    if (d.AcquireInputLock(timeoutMsecs)) SimCmdText(f.key, target);
  } else if (f.separators >= 3) {
    if (d.AcquireInputLock(timeoutMsecs)) SimMouse(0, ud, target, y, x, false);
  } else if (!target || d.AcquireInputLock(timeoutMsecs)) {
    Tapster(0, 0, target);
  }
  if (HeldInputCount() == 0) d.ReleaseInputLock();
  FreeSP(&copy);
}

HWND_T SimCmdWindow(const char* win, U2 timeoutMsecs) {
  U4 start = ClockMsecs();
  for (;;) {
    if (ErrSet) return 0;
    HWND_T window = WindowTitleHWND(win, nullptr, false, 1, false);
    if (!window) window = WindowTitleHWND(win, nullptr, true, 1, false);
    if (window) return window;
    if (timeoutMsecs == 0 || ElapsedMsecs(start) > timeoutMsecs) {
      SeMErrMult("Window \"", win, "\" not found", nullptr);
      return 0;
    }
    SleepMsecs(10);
  }
}

void SimCmdText(char* field, HWND_T target) {
  RemoveTrailingSpacesTabs(field, kAllU4);
  TypedText text(target);
  const char* p = field + 1;
  // A stop request ends the text between characters, never between a Shift and its key.
  while (*p && *p != '\'' && !ErrSet && !CheckInterrupt()) {
    if (StPrefix(p, "<Enter>", 7, false)) {
      text.Press(kVkEnter);
      p += 7;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(*p++);
    if (c == ' ') {
      text.Press(kVkSpace);
      continue;
    }
    if (c == '\t') {
      text.Press(kVkTab);
      continue;
    }
    const int i = CharKeyIndex(c);
    if (i < 0) {
      SeMErrMult("Bad key name \"", field, "\"", nullptr);
      return;
    }
    text.Type(c, key_names[i].code, field);
  }
}
