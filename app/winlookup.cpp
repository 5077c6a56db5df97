#include "app/winlookup.h"

#include "base/settings.h"
#include "errlog/errstack.h"
#include "errlog/pgmlog.h"
#include "platform/process.h"
#include "proc/exec.h"
#include "text/match.h"
#include "time/clock.h"

#include <cstdio>
#include <cstring>

bool activation_guard = false;
void (*activation_click)(HWND_T window) = nullptr;
I4 sm_cxscreen = 0;
I4 sm_cyscreen = 0;

namespace {
// The search state: rewritten by every search, read by the enumeration callback.
struct WindowSearch {
  const char* title = nullptr;
  const char* className = nullptr;
  U4 pid = 0;
  bool includeChildren = false;
  U2 instance = 0;
  U2 matches = 0;
  HWND_T found = 0;
};
WindowSearch search;

bool HasWildCard(const char* pattern) {
  return pattern && std::strchr(pattern, '~');
}

struct MetricName {
  const char* name;
  int index;
};
const MetricName metric_names[] = {
    {"SM_CXSCREEN", 0},
    {"SM_CYSCREEN", 1},
    {"SM_CXVSCROLL", 2},
    {"SM_CYHSCROLL", 3},
    {"SM_CYCAPTION", 4},
    {"SM_CXBORDER", 5},
    {"SM_CYBORDER", 6},
    {"SM_CXDLGFRAME", 7},
    {"SM_CYDLGFRAME", 8},
    {"SM_CYVTHUMB", 9},
    {"SM_CXHTHUMB", 10},
    {"SM_CXICON", 11},
    {"SM_CYICON", 12},
    {"SM_CXCURSOR", 13},
    {"SM_CYCURSOR", 14},
    {"SM_CYMENU", 15},
    {"SM_CXFULLSCREEN", 16},
    {"SM_CYFULLSCREEN", 17},
    {"SM_CYKANJIWINDOW", 18},
    {"SM_MOUSEPRESENT", 19},
    {"SM_CYVSCROLL", 20},
    {"SM_CXHSCROLL", 21},
    {"SM_DEBUG", 22},
    {"SM_SWAPBUTTON", 23},
    {"SM_CXMIN", 28},
    {"SM_CYMIN", 29},
    {"SM_CXSIZE", 30},
    {"SM_CYSIZE", 31},
    {"SM_CXFRAME", 32},
    {"SM_CYFRAME", 33},
    {"SM_CXMINTRACK", 34},
    {"SM_CYMINTRACK", 35},
    {"SM_CXDOUBLECLK", 36},
    {"SM_CYDOUBLECLK", 37},
    {"SM_CXICONSPACING", 38},
    {"SM_CYICONSPACING", 39},
    {"SM_MENUDROPALIGNMENT", 40},
    {"SM_PENWINDOWS", 41},
    {"SM_DBCSENABLED", 42},
    {"SM_CMOUSEBUTTONS", 43},
    {"SM_SECURE", 44},
    {"SM_CXEDGE", 45},
    {"SM_CYEDGE", 46},
    {"SM_CXMINSPACING", 47},
    {"SM_CYMINSPACING", 48},
    {"SM_CXSMICON", 49},
    {"SM_CYSMICON", 50},
    {"SM_CYSMCAPTION", 51},
    {"SM_CXSMSIZE", 52},
    {"SM_CYSMSIZE", 53},
    {"SM_CXMENUSIZE", 54},
    {"SM_CYMENUSIZE", 55},
    {"SM_ARRANGE", 56},
    {"SM_CXMINIMIZED", 57},
    {"SM_CYMINIMIZED", 58},
    {"SM_CXMAXTRACK", 59},
    {"SM_CYMAXTRACK", 60},
    {"SM_CXMAXIMIZED", 61},
    {"SM_CYMAXIMIZED", 62},
    {"SM_NETWORK", 63},
    {"SM_CLEANBOOT", 67},
    {"SM_CXDRAG", 68},
    {"SM_CYDRAG", 69},
    {"SM_SHOWSOUNDS", 70},
    {"SM_CXMENUCHECK", 71},
    {"SM_CYMENUCHECK", 72},
    {"SM_SLOWMACHINE", 73},
    {"SM_MIDEASTENABLED", 74},
    {"SM_MOUSEWHEELPRESENT", 75},
    {"SM_XVIRTUALSCREEN", 76},
    {"SM_YVIRTUALSCREEN", 77},
    {"SM_CXVIRTUALSCREEN", 78},
    {"SM_CYVIRTUALSCREEN", 79},
    {"SM_CMONITORS", 80},
    {"SM_SAMEDISPLAYFORMAT", 81},
};
constexpr int kMetricCount = sizeof(metric_names) / sizeof(metric_names[0]);
I4 system_metrics[kMetricCount];
bool metrics_loaded = false;

// True when window is the foreground window or lies inside it: a child window never
// becomes the foreground window itself.
HWND_T descendant_wanted = 0;
bool descendant_found = false;
int FindDescendant(HWND_T window, std::intptr_t) {
  descendant_found = window == descendant_wanted;
  return descendant_found ? 0 : 1;
}
bool InFront(HWND_T window) {
  Desktop& d = TheDesktop();
  HWND_T front = d.GetForegroundWindow();
  if (!front) return false;
  if (front == window) return true;
  descendant_wanted = window;
  descendant_found = false;
  d.EnumChildWindows(front, FindDescendant, 0);
  return descendant_found;
}
} // namespace

void LoadSystemMetrics() {
  if (metrics_loaded) return;
  metrics_loaded = true;
  Desktop& d = TheDesktop();
  for (int i = 0; i < kMetricCount; ++i) {
    system_metrics[i] = d.GetSystemMetrics(metric_names[i].index);
    if (debug_level >= 3) {
      char value[16];
      std::snprintf(value, sizeof value, "%d", system_metrics[i]);
      LogStMult(metric_names[i].name, "=", value, nullptr);
    }
  }
  sm_cxscreen = system_metrics[0];
  sm_cyscreen = system_metrics[1];
}

void ResetSystemMetrics() {
  metrics_loaded = false;
  sm_cxscreen = 0;
  sm_cyscreen = 0;
}

int EnumWindowsCallback(HWND_T window, std::intptr_t childFlag) {
  if (ErrSet) return 0;
  Desktop& d = TheDesktop();
  bool match = true;
  if (search.title) {
    char text[256];
    if (d.GetWindowTextA(window, text, sizeof text) <= 0) text[0] = 0;
    match = StMatch(text, search.title, '~', false);
  }
  if (match && search.className) {
    char text[256];
    if (d.GetClassNameA(window, text, sizeof text) <= 0) text[0] = 0;
    match = StMatch(text, search.className, '~', false);
  }
  if (match && search.pid) {
    U4 pid = 0;
    d.GetWindowThreadProcessId(window, &pid);
    match = pid == search.pid;
  }
  if (match && ++search.matches < search.instance) match = false;
  if (match) search.found = window;
  if (!search.found && search.includeChildren && childFlag == 0)
    d.EnumChildWindows(window, EnumWindowsCallback, 1);
  return search.found ? 0 : 1;
}

HWND_T WindowTitleHWND(const char* title, const char* className, bool includeChildren, U2 instance,
                       bool report) {
  if (ErrSet) return 0;
  search = WindowSearch{};
  search.instance = instance;
  if (className && !*className) className = nullptr;
  if (title) {
    if (StPrefix(title, "Class:", 6, false)) {
      search.className = title + 6;
    } else {
      search.title = title;
      search.className = className;
    }
  } else {
    if (!className) return 0;
    search.className = className;
  }

  Desktop& d = TheDesktop();
  if (!includeChildren && !HasWildCard(search.title) && !HasWildCard(search.className)) {
    search.found = d.FindWindowA(search.className, search.title);
  } else {
    search.includeChildren = includeChildren;
    LoadSystemMetrics();
    d.EnumWindows(EnumWindowsCallback, 0);
  }

  if (!search.found && report) {
    if (search.title && search.className)
      SeMErrMult("Window \"", search.title, "/", search.className, "\" not found", nullptr);
    else if (search.title)
      SeMErrMult("Window \"", search.title, "\" not found", nullptr);
    else
      SeMErrMult("Window class \"", search.className, "\" not found", nullptr);
  }
  return search.found;
}

void ActivateWindow(HWND_T window, bool setFocus) {
  Desktop& d = TheDesktop();
  if (ErrSet || !window || d.GetForegroundWindow() == window) return;
  if (!d.IsWindow(window)) {
    SeMErrMult("Handle does not refer to an active window", nullptr);
    return;
  }

  if (daemon_pgm) {
    // Without a console user the sibling program beside ours brings the window forward.
    char handle[24];
    std::snprintf(handle, sizeof handle, "%llu", static_cast<unsigned long long>(window));
    char sibling[kPgmTextSz];
    if (!PlatformSiblingProgram("Frontwin", sibling, sizeof sibling))
      std::snprintf(sibling, sizeof sibling, "%s", "Frontwin.exe");
    ExecSystemMult(0, sibling, " ", handle, " ", setFocus ? "True" : "False", nullptr);
    // Its word is not taken for it: keys must not go to whatever window is in front.
    U4 start = ClockMsecs();
    while (!ErrSet && !InFront(window)) {
      if (ElapsedMsecs(start) > 1000) {
        SeMErrMult("ActivateWindow", " failure", nullptr);
        return;
      }
      SleepMsecs(10);
    }
  } else {
    WinPlacement placement;
    placement.length = sizeof(WinPlacement);
    // An unreadable placement must not hide the window (show command 0).
    if (!d.GetWindowPlacement(window, &placement)) placement.showCmd = 5; // SW_SHOW
    d.SetWindowPos(window, kHwndTopmost, 0, 0, 0, 0, kSwpNoSize | kSwpNoMove);
    d.SetWindowPos(window, kHwndNotopmost, 0, 0, 0, 0, kSwpNoSize | kSwpNoMove | kSwpShowWindow);
    int showCmd = static_cast<int>(placement.showCmd);
    d.ShowWindow(window, showCmd == kSwShowMinimized ? kSwRestore : showCmd);
  }

  if (!ErrSet && setFocus && d.GetFocus() != window && !d.SetFocus(window)) {
    // The platform refuses the focus to a window of another thread: click into it.
    activation_guard = true;
    if (activation_click) activation_click(window);
    activation_guard = false;
    U4 start = ClockMsecs();
    while (!ErrSet && !InFront(window)) {
      if (ElapsedMsecs(start) > 1000) {
        SeMErrMult("ActivateWindow", " failure", nullptr);
        return;
      }
      SleepMsecs(10);
    }
  }

  if (ErrSet) {
    char title[256];
    if (d.GetWindowTextA(window, title, sizeof title) <= 0) std::strcpy(title, "?");
    AddErrMult(" (window=", title, ")", nullptr);
  }
}

U4 WindowTitlePID(const char* title, bool report) {
  if (ErrSet) return 0;
  HWND_T window = WindowTitleHWND(title, nullptr, false, 1, false);
  if (!window) {
    if (report) SeMErrMult("Window \"", title ? title : "", "\" not found", nullptr);
    return 0;
  }
  U4 pid = 0;
  TheDesktop().GetWindowThreadProcessId(window, &pid);
  if (!pid && report) SeMErrMult("Window \"", title ? title : "", "\" process not found", nullptr);
  return pid;
}

HWND_T PIDWindowHWND(U4 pid, bool includeChildren, bool report) {
  if (ErrSet) return 0;
  search = WindowSearch{};
  search.pid = pid;
  search.includeChildren = includeChildren;
  search.instance = 1;
  LoadSystemMetrics();
  TheDesktop().EnumWindows(EnumWindowsCallback, 0);
  if (!search.found && report) {
    char id[16];
    std::snprintf(id, sizeof id, "%d", static_cast<I4>(pid));
    SeMErrMult("PID ", id, " not found", nullptr);
  }
  return search.found;
}

void ProcessWindowsMessages() {
  if (!ErrSet) TheDesktop().ProcessMessages();
}

char* WindowStyleText(U4 style, char* buf, std::size_t bufSize) {
  struct StyleBit {
    U4 bits;
    const char* name;
  };
  static const StyleBit styles[] = {
      {0x00800000, "/BORDER"},       {0x00C00000, "/CAPTION"},      {0x40000000, "/CHILD"},
      {0x02000000, "/CLIPCHILDREN"}, {0x04000000, "/CLIPSIBLINGS"}, {0x08000000, "/DISABLED"},
      {0x00400000, "/DLGFRAME"},     {0x00020000, "/GROUP"},        {0x00100000, "/HSCROLL"},
      {0x01000000, "/MAXIMIZE"},     {0x00010000, "/MAXIMIZEBOX"},  {0x20000000, "/MINIMIZE"},
      {0x00020000, "/MINIMIZEBOX"},  {0x80000000, "/POPUP"},        {0x00080000, "/SYSMENU"},
      {0x00010000, "/TABSTOP"},      {0x00040000, "/THICKFRAME"},   {0x10000000, "/VISIBLE"},
      {0x00200000, "/VSCROLL"},
  };
  if (!buf || !bufSize) return buf;
  buf[0] = 0;
  std::size_t len = 0;
  for (const auto& s : styles) {
    if ((style & s.bits) != s.bits) continue;
    std::size_t n = std::strlen(s.name);
    if (len + n >= bufSize) break;
    std::memcpy(buf + len, s.name, n + 1);
    len += n;
  }
  return buf;
}
