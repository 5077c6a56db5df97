// The X11 window tree: top-level windows, their descendants, titles and class names.
#include "platform/x11/x11desktop.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <cstring>

namespace {

bool EqualNoCase(const std::string& a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Copies text into a caller's buffer of maxCount bytes (> 0); returns the length copied.
// A cut never splits a UTF-8 sequence.
int CopyOut(const std::string& text, char* buffer, int maxCount) {
  std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(maxCount - 1));
  if (n < text.size())
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
      --n;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

} // namespace

bool X11Desktop::WindowListProperty(Window w, Atom property, std::vector<Window>* out) {
  std::vector<unsigned char> data;
  int format = 0;
  unsigned long items = 0;
  out->clear();
  if (!Property(w, property, XA_WINDOW, &data, &format, &items) || format != 32) return false;
  const long* ids = reinterpret_cast<const long*>(data.data());
  for (unsigned long i = 0; i < items; ++i)
    out->push_back(static_cast<Window>(ids[i]));
  return true;
}

bool X11Desktop::Title(Window w, std::string* title) {
  if (enumDepth_ > 0) {
    auto it = titleCache_.find(w);
    if (it == titleCache_.end() && batch_ && !lost_) {
      FetchBatch(*batch_, nullptr);
      it = titleCache_.find(w);
    }
    if (it != titleCache_.end()) {
      *title = it->second;
      return !title->empty();
    }
  }
  std::vector<unsigned char> data;
  int format = 0;
  unsigned long items = 0;
  Atom actual = None;
  title->clear();
  if (Property(w, atoms_[kNetWmName], atoms_[kUtf8String], &data, &format, &items) && format == 8) {
    title->assign(data.begin(), data.end());
  } else if (Property(w, XA_WM_NAME, AnyPropertyType, &data, &format, &items, &actual) &&
             format == 8) {
    if (actual == XA_STRING)
      Latin1ToUtf8(data.data(), items, title);
    else
      title->assign(data.begin(), data.end());
  }
  if (std::size_t nul = title->find('\0'); nul != std::string::npos) title->resize(nul);
  if (enumDepth_ > 0) titleCache_[w] = *title;
  return !title->empty();
}

bool X11Desktop::ClassName(Window w, std::string* name) {
  if (enumDepth_ > 0 && batch_ && !lost_) {
    if (!classCache_.count(w)) FetchClasses(*batch_);
    if (auto it = classCache_.find(w); it != classCache_.end()) {
      *name = it->second;
      return !name->empty();
    }
  }
  std::vector<unsigned char> data;
  int format = 0;
  unsigned long items = 0;
  name->clear();
  if (!Property(w, XA_WM_CLASS, XA_STRING, &data, &format, &items) || format != 8) return false;
  // WM_CLASS holds the instance name and then the class name, each ended by a NUL.
  auto end = std::find(data.begin(), data.end(), '\0');
  if (end == data.end()) return false;
  auto classEnd = std::find(end + 1, data.end(), '\0');
  name->assign(end + 1, classEnd);
  return !name->empty();
}

bool X11Desktop::Parent(Window w, Window* parent) {
  Window rootReturn = 0, parentReturn = 0, *kids = nullptr;
  unsigned int n = 0;
  unsigned long mark = Mark();
  Status ok = XQueryTree(dpy_, w, &rootReturn, &parentReturn, &kids, &n);
  if (kids) XFree(kids);
  bool failed = Lost() || !ok;
  for (auto it = errors_.begin(); it != errors_.end();)
    if (it->serial >= mark)
      failed = true, it = errors_.erase(it);
    else
      ++it;
  *parent = failed ? 0 : parentReturn;
  return !failed;
}

bool X11Desktop::Children(Window w, std::vector<Window>* children) {
  Window rootReturn = 0, parentReturn = 0, *kids = nullptr;
  unsigned int n = 0;
  unsigned long mark = Mark();
  Status ok = XQueryTree(dpy_, w, &rootReturn, &parentReturn, &kids, &n);
  bool failed = Lost() || !ok;
  for (auto it = errors_.begin(); it != errors_.end();)
    if (it->serial >= mark)
      failed = true, it = errors_.erase(it);
    else
      ++it;
  children->clear();
  // Stacking order is bottom to top; the front window comes first, as on Windows.
  if (!failed && kids)
    for (unsigned int i = n; i-- > 0;)
      children->push_back(kids[i]);
  if (kids) XFree(kids);
  return !failed;
}

bool X11Desktop::WmRunning() {
  SteadyClock::time_point now = SteadyClock::now();
  if (wmCheckedAt_ != SteadyClock::time_point{} &&
      now - wmCheckedAt_ < std::chrono::milliseconds(250))
    return wmRunning_;
  wmCheckedAt_ = now;
  std::vector<Window> check;
  wmRunning_ = false;
  if (WindowListProperty(root_, atoms_[kNetSupportingWmCheck], &check) && !check.empty()) {
    // A window manager that went away leaves its root property behind: the check window
    // must exist and name itself.
    std::vector<Window> self;
    if (check[0] == wmCheck_ ||
        (WindowListProperty(check[0], atoms_[kNetSupportingWmCheck], &self) && !self.empty() &&
         self[0] == check[0])) {
      wmCheck_ = check[0];
      wmRunning_ = true;
    }
  }
  return wmRunning_;
}

std::vector<Window> X11Desktop::TopLevels() {
  std::vector<Window> list;
  if (WmRunning()) {
    if (WindowListProperty(root_, atoms_[kNetClientListStacking], &list) ||
        WindowListProperty(root_, atoms_[kNetClientList], &list)) {
      std::reverse(list.begin(), list.end());
      return list;
    }
  }
  std::vector<Window> children;
  Children(root_, &children);
  if (!lost_) FetchBatch(children, nullptr);
  std::string title;
  for (Window w : children)
    if (Title(w, &title)) list.push_back(w);
  return list;
}

bool X11Desktop::IsTopLevel(Window w) {
  if (WmRunning()) {
    std::vector<Window> clients;
    if (WindowListProperty(root_, atoms_[kNetClientList], &clients))
      return std::find(clients.begin(), clients.end(), w) != clients.end();
  }
  Window parent = 0;
  return Parent(w, &parent) && parent == root_;
}

Window X11Desktop::TopLevelOf(Window w) {
  if (!w || w == root_) return 0;
  std::vector<Window> clients;
  bool wm = WmRunning() && WindowListProperty(root_, atoms_[kNetClientList], &clients);
  for (int depth = 0; w && w != root_ && depth < 64; ++depth) {
    if (wm && std::find(clients.begin(), clients.end(), w) != clients.end()) return w;
    Window parent = 0;
    if (!Parent(w, &parent)) return 0;
    if (!wm && parent == root_) return w;
    w = parent;
  }
  return 0;
}

void X11Desktop::EndEnumeration() {
  if (--enumDepth_ > 0) return;
  titleCache_.clear();
  classCache_.clear();
  batch_ = nullptr;
}

HWND_T X11Desktop::FindWindowA(const char* className, const char* title) {
  XCall call(this);
  if (!Ready()) return 0;
  BeginEnumeration();
  HWND_T found = 0;
  std::string text;
  std::vector<Window> tops = TopLevels();
  batch_ = &tops;
  for (Window w : tops) {
    if (title && !(Title(w, &text), EqualNoCase(text, title))) continue;
    if (className && !(ClassName(w, &text), EqualNoCase(text, className))) continue;
    found = w;
    break;
  }
  batch_ = nullptr;
  EndEnumeration();
  return found;
}

bool X11Desktop::EnumWindows(WinEnumProc proc, std::intptr_t param) {
  XCall call(this);
  if (!Ready()) return false;
  BeginEnumeration();
  std::vector<Window> tops = TopLevels();
  for (Window w : tops) {
    batch_ = &tops;
    if (proc(w, param) == 0) break;
  }
  batch_ = nullptr;
  EndEnumeration();
  return true;
}

// Each window before its subwindows, front first, as EnumChildWindows goes. The walk keeps
// its own stack, so no depth of nesting can exhaust the program's; each list of siblings
// costs one round trip for their titles and their own subwindows together.
bool X11Desktop::EnumChildren(Window parent, WinEnumProc proc, std::intptr_t param) {
  struct Siblings {
    std::vector<Window> windows;
    std::vector<std::vector<Window>> kids;
    std::size_t next = 0;
  };
  std::vector<Siblings> stack(1);
  if (!Children(parent, &stack[0].windows)) return false;
  const std::vector<Window>* outer = batch_;
  FetchBatch(stack[0].windows, &stack[0].kids);
  bool stopped = false;
  while (!stack.empty() && !stopped && !lost_) {
    Siblings& level = stack.back();
    if (level.next == level.windows.size()) {
      stack.pop_back();
      continue;
    }
    std::size_t i = level.next++;
    batch_ = &level.windows;
    stopped = proc(level.windows[i], param) == 0;
    std::vector<Window> kids = std::move(level.kids[i]);
    // A finished list leaves the stack before its last window's subwindows go on it.
    if (level.next == level.windows.size()) stack.pop_back();
    if (stopped || kids.empty()) continue;
    Siblings next;
    next.windows = std::move(kids);
    FetchBatch(next.windows, &next.kids);
    stack.push_back(std::move(next));
  }
  batch_ = outer;
  return !Lost();
}

bool X11Desktop::EnumChildWindows(HWND_T parent, WinEnumProc proc, std::intptr_t param) {
  XCall call(this);
  if (!Ready() || !parent) return false;
  BeginEnumeration();
  bool ok = EnumChildren(parent, proc, param);
  EndEnumeration();
  return ok;
}

int X11Desktop::GetWindowTextA(HWND_T window, char* buffer, int maxCount) {
  XCall call(this);
  if (!buffer || maxCount <= 0) return 0;
  buffer[0] = 0;
  if (!window || !Ready()) return 0;
  std::string title;
  if (!Title(window, &title)) return 0;
  return CopyOut(title, buffer, maxCount);
}

int X11Desktop::GetClassNameA(HWND_T window, char* buffer, int maxCount) {
  XCall call(this);
  if (!buffer || maxCount <= 0) return 0;
  buffer[0] = 0;
  if (!window || !Ready()) return 0;
  std::string name;
  if (!ClassName(window, &name)) return 0;
  return CopyOut(name, buffer, maxCount);
}

U4 X11Desktop::GetWindowThreadProcessId(HWND_T window, U4* pid) {
  XCall call(this);
  if (pid) *pid = 0;
  if (!window || !Ready()) return 0;
  std::vector<unsigned char> data;
  int format = 0;
  unsigned long items = 0;
  if (Property(window, atoms_[kNetWmPid], XA_CARDINAL, &data, &format, &items) && format == 32 &&
      items >= 1) {
    U4 id = static_cast<U4>(*reinterpret_cast<const long*>(data.data()));
    if (pid) *pid = id;
    return id;
  }
  // No owner is published; X has no threads to name, so any existing window has thread 1.
  return IsWindow(window) ? 1 : 0;
}

bool X11Desktop::IsWindow(HWND_T window) {
  XCall call(this);
  if (!window || !Ready()) return false;
  XWindowAttributes attrs;
  unsigned long mark = Mark();
  Status ok = XGetWindowAttributes(dpy_, window, &attrs);
  return !Failed(mark) && ok;
}
