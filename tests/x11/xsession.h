// A private X server (and, if asked, a window manager) for one test, test windows that
// write down their input, and runs of the tapster executable against them.
#pragma once
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace x11test {

inline bool WaitUntil(const std::function<bool()>& done, int ms = 20000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Start argv with the environment changed by env ("NAME=value" sets, "NAME" removes).
inline pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& dir, int outFd = -1, int keepFd = -1) {
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const std::string& change : env) {
      std::string name = change.substr(0, change.find('='));
      if (entry.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
    }
    if (!replaced) envText.push_back(entry);
  }
  for (const std::string& change : env)
    if (change.find('=') != std::string::npos) envText.push_back(change);
  std::vector<char*> args, envp;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (std::string& e : envText)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    // A test that dies must not leave its X server or windows behind.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(outFd >= 0 ? outFd : null, 1);
    dup2(outFd >= 0 ? outFd : null, 2);
    for (int fd = 3; fd < 256; ++fd)
      if (fd != keepFd) close(fd);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  return pid;
}

// A child's exit status, 128 + the signal for one that was killed.
inline int ExitStatus(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Appends what fd gives to out until every writer has closed it; false at the limit.
inline bool ReadUntilClosed(int fd, int limitMs, std::string* out) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  char buf[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000))) <= 0) continue;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return true;
    out->append(buf, static_cast<std::size_t>(n));
  }
}

// pid and the processes below it, parents first.
inline std::vector<pid_t> ProcessTree(pid_t pid) {
  std::vector<std::pair<pid_t, pid_t>> parentOf; // (pid, parent)
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    char state;
    pid_t parent;
    if (rest >> state >> parent) parentOf.emplace_back(std::stoi(line), parent);
  }
  std::vector<pid_t> tree{pid};
  for (std::size_t i = 0; i < tree.size(); ++i)
    for (const auto& [child, parent] : parentOf)
      if (parent == tree[i]) tree.push_back(child);
  return tree;
}

inline std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Each process of the tree: its command, what it waits in and, where gdb is there, its stack.
inline std::string DescribeTree(pid_t pid) {
  std::string text;
  for (pid_t p : ProcessTree(pid)) {
    std::string dir = "/proc/" + std::to_string(p);
    std::string cmd = FileText(dir + "/cmdline");
    std::replace(cmd.begin(), cmd.end(), '\0', ' ');
    text += std::to_string(p) + ": " + cmd + " wchan=" + FileText(dir + "/wchan") + "\n";
    std::string gdb = "timeout 20 gdb -p " + std::to_string(p) +
                      " -batch -ex 'thread apply all bt' 2>/dev/null | grep '^#'";
    if (FILE* f = popen(gdb.c_str(), "r")) {
      char line[512];
      while (std::fgets(line, sizeof line, f))
        text += line;
      pclose(f);
    }
  }
  return text;
}

inline void KillTree(pid_t pid) {
  for (pid_t p : ProcessTree(pid))
    kill(p, SIGKILL);
}

// Ends pid. One that outlives the request by ten seconds (a window manager stuck in its
// exit) is described on the test's error output and killed.
inline void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  if (WaitUntil([&] { return waitpid(pid, nullptr, WNOHANG) != 0; }, 10000)) return;
  std::fprintf(stderr, "[still running ten seconds after SIGTERM]\n%s", DescribeTree(pid).c_str());
  KillTree(pid);
  waitpid(pid, nullptr, 0);
}

struct RunResult {
  int status = -1;
  std::string out;
};

// One test window and the lines it wrote.
class TestWin {
public:
  TestWin(pid_t pid, std::string file) : pid_(pid), file_(std::move(file)) {}
  ~TestWin() { Stop(pid_); }
  TestWin(const TestWin&) = delete;
  TestWin& operator=(const TestWin&) = delete;

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::ifstream in(file_);
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
    return lines;
  }
  // The lines that begin with prefix.
  std::vector<std::string> Lines(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& l : Lines())
      if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
    return out;
  }
  // The text the key presses produced, optionally only those of window "top" or "child".
  std::string Typed(const std::string& win = "") const {
    std::string text;
    for (const std::string& l : Lines("KeyPress ")) {
      if (!win.empty() && l.find(" win=" + win + " ") == std::string::npos) continue;
      std::size_t at = l.find(" text=");
      std::string hex = l.substr(at + 6, l.find(' ', at + 6) - at - 6);
      for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        text.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return text;
  }
  bool WaitTyped(const std::string& text, const std::string& win = "") const {
    return WaitUntil([&] { return Typed(win).size() >= text.size(); }) && Typed(win) == text;
  }
  pid_t pid() const { return pid_; }
  bool WaitLine(const std::string& prefix) const {
    return WaitUntil([&] { return !Lines(prefix).empty(); });
  }

private:
  pid_t pid_;
  std::string file_;
};

class XSession {
public:
  explicit XSession(bool withWm) {
    char dirTemplate[] = "/tmp/tapster-x11-XXXXXX";
    if (!mkdtemp(dirTemplate)) return;
    dir_ = dirTemplate;
    if (!StartServer()) return;
    // Windows of other processes come and go; asking after a gone one is no failure here.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    if (withWm) {
      wm_ = Spawn({"openbox", "--sm-disable"}, {"DISPLAY=" + display_, "HOME=" + dir_}, dir_);
      if (!WaitUntil([&] { return WmReady(); }) || !WmManages()) return;
    }
    ready_ = true;
  }
  ~XSession() {
    StopServer();
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  bool ready() const { return ready_; }
  // End the X server before the session ends (a display that goes away mid-run).
  void StopServer() {
    // Our last round trip must not wait on a grab of the window manager's or on a server
    // that a failed test left stopped.
    if (xvfb_ > 0) kill(xvfb_, SIGCONT);
    Stop(wm_);
    if (dpy_) XCloseDisplay(dpy_);
    dpy_ = nullptr;
    Stop(xvfb_);
    wm_ = xvfb_ = -1;
  }
  const std::string& display() const { return display_; }
  pid_t server() const { return xvfb_; }
  // Run a tool of the X server's own (setxkbmap ...) against this display; its exit status.
  int Run(const std::vector<std::string>& argv) {
    int status = 0;
    waitpid(Spawn(argv, {"DISPLAY=" + display_}, dir_), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  Display* dpy() const { return dpy_; }
  const std::string& dir() const { return dir_; }

  // A test window (testwin_x11 arguments besides --out), waited for until mapped unless
  // it was asked to appear late.
  std::unique_ptr<TestWin> Open(std::vector<std::string> args, bool waitReady = true) {
    std::string file = dir_ + "/win" + std::to_string(++windows_) + ".txt";
    args.insert(args.begin(), {TESTWIN_EXE, "--out", file});
    auto win = std::make_unique<TestWin>(Spawn(args, {"DISPLAY=" + display_}, dir_), file);
    if (waitReady && !win->WaitLine("ready")) return nullptr;
    return win;
  }

  // Run tapster with args; env changes as for Spawn (the display is set unless changed).
  RunResult Tapster(const std::vector<std::string>& args, std::vector<std::string> env = {}) {
    std::vector<std::string> argv{TAPSTER_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    env.push_back("WAYLAND_DISPLAY"); // a Wayland session around the tests would win otherwise
    return RunProgram(argv, std::move(env));
  }

  // Run argv on this display with its output collected. A run that has not ended within
  // limitMs is described and killed, so a hang fails the test with its whereabouts.
  RunResult RunProgram(const std::vector<std::string>& argv, std::vector<std::string> env,
                       int limitMs = 60000) {
    int fds[2];
    RunResult r;
    if (pipe(fds) != 0) return r;
    if (std::none_of(env.begin(), env.end(),
                     [](const std::string& e) { return e.compare(0, 7, "DISPLAY") == 0; }))
      env.push_back("DISPLAY=" + display_);
    pid_t pid = Spawn(argv, env, dir_, fds[1]);
    close(fds[1]);
    bool ended = ReadUntilClosed(fds[0], limitMs, &r.out);
    close(fds[0]);
    if (!ended) {
      r.out += "\n[still running after " + std::to_string(limitMs / 1000) + " s]\n" +
               DescribeTree(pid) + "[the X server and the window manager]\n" + DescribeTree(xvfb_) +
               (wm_ > 0 ? DescribeTree(wm_) : "");
      KillTree(pid);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = ended ? ExitStatus(status) : -1;
    return r;
  }

  // The outer top-left corner of a top-level window's frame (the window itself without a
  // window manager), in screen pixels.
  void OuterCorner(Window w, int* x, int* y) {
    for (;;) {
      Window root, parent, *kids = nullptr;
      unsigned n = 0;
      XQueryTree(dpy_, w, &root, &parent, &kids, &n);
      if (kids) XFree(kids);
      if (parent == root) break;
      w = parent;
    }
    XWindowAttributes a;
    XGetWindowAttributes(dpy_, w, &a);
    *x = a.x;
    *y = a.y;
  }

private:
  // The server picks a free display itself and names it through a pipe: with many servers
  // starting side by side no number is guessed.
  bool StartServer() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    xvfb_ = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-noreset", "-screen", "0",
                   "1024x768x24", "-nolisten", "tcp"},
                  {}, dir_, -1, fds[1]);
    close(fds[1]);
    std::string number;
    WaitUntil([&]() -> bool {
      pollfd p{fds[0], POLLIN, 0};
      char c = 0;
      if (poll(&p, 1, 10) <= 0 || read(fds[0], &c, 1) != 1) return (p.revents & POLLHUP) != 0;
      if (c == '\n') return true;
      number.push_back(c);
      return false;
    });
    close(fds[0]);
    if (number.empty()) return false;
    display_ = ":" + number;
    WaitUntil([&] { return (dpy_ = XOpenDisplay(display_.c_str())) != nullptr; });
    return dpy_ != nullptr;
  }

  // Openbox names its check window before it takes windows in hand, and a window mapped in
  // between is never managed: wait until a window of our own is.
  bool WmManages() {
    Window probe = XCreateSimpleWindow(dpy_, DefaultRootWindow(dpy_), 0, 0, 10, 10, 0, 0, 0);
    Atom clients = XInternAtom(dpy_, "_NET_CLIENT_LIST", False);
    int tries = 0;
    bool managed = WaitUntil([&] {
      if (tries++ % 50 == 0) XMapWindow(dpy_, probe);
      Atom type;
      int format;
      unsigned long n = 0, after;
      unsigned char* data = nullptr;
      XGetWindowProperty(dpy_, DefaultRootWindow(dpy_), clients, 0, 1024, False, XA_WINDOW, &type,
                         &format, &n, &after, &data);
      bool found = false;
      for (unsigned long i = 0; data && i < n; ++i)
        found = found || reinterpret_cast<Window*>(data)[i] == probe;
      if (data) XFree(data);
      return found;
    });
    XDestroyWindow(dpy_, probe);
    XSync(dpy_, False);
    return managed;
  }

  bool WmReady() {
    Atom check = XInternAtom(dpy_, "_NET_SUPPORTING_WM_CHECK", False);
    auto read = [&](Window w) -> Window {
      Atom type;
      int format;
      unsigned long n, after;
      unsigned char* data = nullptr;
      Window result = 0;
      if (XGetWindowProperty(dpy_, w, check, 0, 1, False, XA_WINDOW, &type, &format, &n, &after,
                             &data) == Success &&
          data && n == 1)
        result = *reinterpret_cast<Window*>(data);
      if (data) XFree(data);
      return result;
    };
    Window w = read(DefaultRootWindow(dpy_));
    return w && read(w) == w;
  }

  std::string dir_, display_;
  pid_t xvfb_ = -1, wm_ = -1;
  Display* dpy_ = nullptr;
  bool ready_ = false;
  int windows_ = 0;
};

} // namespace x11test
