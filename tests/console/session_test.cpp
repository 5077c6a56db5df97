// Real terminal sessions of the probe program: a pseudo-terminal on POSIX.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kProbe = KBPROBE_EXE;

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool WaitFor(const std::function<bool()>& cond, int limit_ms = 30000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (std::chrono::steady_clock::now() < end) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return cond();
}

// The probe on a pseudo-terminal of its own, in a fresh directory.
class Session {
public:
  explicit Session(const std::vector<std::string>& args) {
    dir = fs::temp_directory_path() /
          ("tapster_console_" + std::to_string(getpid()) + "_" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    // The terminal's modes are fixed before the probe starts, so they can be compared
    // afterwards without racing the probe's own changes.
    termios modes{};
    int m = -1, slave = -1;
    if (openpty(&m, &slave, nullptr, nullptr, nullptr) == 0) {
      tcgetattr(slave, &modes);
      close(m);
      close(slave);
    }
    initialModes = modes.c_lflag;
    pid = forkpty(&master, nullptr, &modes, nullptr);
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(99);
      std::vector<char*> argv{const_cast<char*>(kProbe.c_str())};
      for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(kProbe.c_str(), argv.data());
      _exit(98);
    }
  }
  ~Session() {
    if (pid > 0 && !ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    if (master >= 0) close(master);
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  void Pump() {
    pollfd p{master, POLLIN, 0};
    while (poll(&p, 1, 10) > 0) {
      char bf[512];
      const ssize_t n = read(master, bf, sizeof bf);
      if (n <= 0) break;
      seen.append(bf, size_t(n));
    }
  }
  bool Saw(const std::string& text) {
    return WaitFor([&] {
      Pump();
      return seen.find(text) != std::string::npos;
    });
  }
  void Type(const std::string& bytes) {
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
  // The exit status, -1 when it did not end in time.
  int Ended() {
    ended = WaitFor([&] {
      Pump();
      return waitpid(pid, &status, WNOHANG) == pid;
    });
    // What the probe wrote after the last look and before it ended is still on the
    // terminal: its last line would be lost without this.
    Pump();
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  tcflag_t LocalModes() const {
    termios t{};
    tcgetattr(master, &t);
    return t.c_lflag;
  }

  fs::path dir;
  tcflag_t initialModes = 0;
  pid_t pid = -1;
  int master = -1;
  int status = 0;
  bool ended = false;
  std::string seen;
};

} // namespace

TEST(ConsoleSession, KeysThenCtrlCEndsInOrder) {
  Session s({"keys", "-DEBUG"});
  ASSERT_GT(s.pid, 0);
  const tcflag_t before = s.initialModes;
  ASSERT_TRUE(before & ICANON);
  ASSERT_TRUE(s.Saw("ready")) << s.seen;
  EXPECT_FALSE(s.LocalModes() & (ICANON | ECHO)); // keys come one by one, unechoed
  EXPECT_TRUE(s.LocalModes() & ISIG);
  s.Type("x\x1b[1;2A\x1bOP");
  EXPECT_TRUE(s.Saw("key=x\r\nkey=<Shft-Up>\r\nkey=<F1>")) << s.seen;
  s.Type("\x1b[<0;2;2M\x1b[<0;2;2m");
  EXPECT_TRUE(s.Saw("key=<PageUp>")) << s.seen;
  s.Type("\x03"); // the terminal turns it into SIGINT
  EXPECT_EQ(s.Ended(), 1) << s.seen;
  EXPECT_EQ(s.LocalModes(), before); // the terminal as it was
  const std::string log = ReadFile(s.dir / "kbprobe.log");
  EXPECT_NE(log.find("Process aborted by user"), std::string::npos) << log;
  EXPECT_EQ(log.back(), '\n');
  EXPECT_NE(ReadFile(s.dir / "kbprobe.err").find("Process aborted by user"), std::string::npos);
}

TEST(ConsoleSession, EndSignalsDuringAWindowWait) {
  // Ctrl-C on the terminal, SIGTERM and SIGHUP from outside: each ends the wait with the
  // error, through the orderly end, with the log closed whole.
  struct Case {
    int sig;
    bool typed;
  };
  for (const Case c : {Case{SIGINT, true}, Case{SIGTERM, false}, Case{SIGHUP, false}}) {
    SCOPED_TRACE(c.sig);
    Session s({"wait", "-DEBUG", "/TMO=60000", "NoSuchWindow/a"});
    ASSERT_GT(s.pid, 0);
    ASSERT_TRUE(s.Saw("NoSuchWindow/a")) << s.seen;
    ASSERT_TRUE(WaitFor([&] { return fs::exists(s.dir / "kbprobe.log"); }));
    if (c.typed)
      s.Type("\x03");
    else
      kill(s.pid, c.sig);
    EXPECT_EQ(s.Ended(), 1) << s.seen;
    EXPECT_NE(s.seen.find("ERROR: Process aborted"), std::string::npos) << s.seen;
    const std::string log = ReadFile(s.dir / "kbprobe.log");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n') << log;
  }
}

namespace {

// The processes whose ids the file lists are all gone.
bool AllGone(const fs::path& pids) {
  std::ifstream in(pids);
  int count = 0;
  for (pid_t pid; in >> pid; ++count)
    if (kill(pid, 0) == 0) return false;
  return count == 2;
}

} // namespace

TEST(ConsoleSession, InterruptsEndChildWaitsAndPipeReads) {
  // The child's shell notes its own id and that of a grandchild, then waits for ever.
  const std::string tree = "sh -c 'echo $$ > tree.pids; sleep 100 & echo $! >> tree.pids; wait'";
  struct Case {
    const char* mode;
    int sig;
    bool typed;
  };
  for (const Case c : {Case{"child", SIGINT, true}, Case{"child", SIGTERM, false},
                       Case{"pipe", SIGINT, true}, Case{"pipe", SIGTERM, false}}) {
    SCOPED_TRACE(std::string(c.mode) + " " + std::to_string(c.sig));
    Session s({c.mode, tree});
    ASSERT_GT(s.pid, 0);
    ASSERT_TRUE(s.Saw("running")) << s.seen;
    ASSERT_TRUE(WaitFor([&] {
      std::ifstream in(s.dir / "tree.pids");
      std::string a, b;
      return bool(in >> a >> b);
    })) << s.seen
        << ReadFile(s.dir / "kbprobe.log");
    const auto start = std::chrono::steady_clock::now();
    if (c.typed)
      s.Type("\x03");
    else
      kill(s.pid, c.sig);
    EXPECT_EQ(s.Ended(), 1) << s.seen;
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    // The child sleeps 100 s: an interrupt that waited for it would take that long.
    EXPECT_LT(took.count(), 20000);
    std::printf("%s signal %d: ended after %lld ms\n", c.mode, c.sig,
                static_cast<long long>(took.count()));
    EXPECT_NE(s.seen.find("ERROR: Process aborted"), std::string::npos) << s.seen;
    EXPECT_TRUE(WaitFor([&] { return AllGone(s.dir / "tree.pids"); }))
        << ReadFile(s.dir / "tree.pids");
    const std::string log = ReadFile(s.dir / "kbprobe.log");
    EXPECT_NE(log.find("ERROR: Process aborted"), std::string::npos) << log;
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n') << log;
  }
}

TEST(ConsoleSession, CtrlCByteEndsACharacterRead) {
  Session s({"getch"});
  ASSERT_GT(s.pid, 0);
  ASSERT_TRUE(s.Saw("ready")) << s.seen;
  s.Type("a");
  ASSERT_TRUE(s.Saw("char=97")) << s.seen;
  s.Type("\x03"); // read as a character here, not turned into a signal
  EXPECT_EQ(s.Ended(), 1) << s.seen;
  EXPECT_NE(s.seen.find("Ctrl-C abort\r\n"), std::string::npos) << s.seen;
  EXPECT_EQ(s.seen.find("char=3"), std::string::npos) << s.seen;
}

#else // _WIN32
#include "tests/runtime/procrun.h"

#include <windows.h>

#include <string>

namespace {

// The probe in a process group of its own on this console, its output in a file.
struct GroupProbe {
  explicit GroupProbe(const std::vector<std::string>& args) {
    dir = procrun::FreshDir("console_group");
    std::string cmd = "\"" + procrun::NativePath(KBPROBE_EXE) + "\"";
    for (const auto& a : args)
      cmd += " " + a;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    out = CreateFileA((dir / "out.txt").string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa,
                      CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = out;
    started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                             nullptr, dir.string().c_str(), &si, &pi) != 0;
  }
  ~GroupProbe() {
    if (started) {
      TerminateProcess(pi.hProcess, 9);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
    CloseHandle(out);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string Out() const { return procrun::ReadFile(dir / "out.txt"); }
  // The exit status, -1 when it did not end in time.
  int Ended() {
    if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    return static_cast<int>(code);
  }
  std::filesystem::path dir;
  HANDLE out = INVALID_HANDLE_VALUE;
  PROCESS_INFORMATION pi{};
  bool started = false;
};

} // namespace

// A real console control event for the probe's process group ends its window wait in order.
TEST(ConsoleSession, CtrlBreakEventEndsAWindowWait) {
  // The events go to the processes of a console: the test needs one to share (it fails
  // when there is one already).
  AllocConsole();
  GroupProbe p({"wait", "/TMO=60000", "NoSuchWindow/a"});
  ASSERT_TRUE(p.started);
  ASSERT_TRUE(procrun::WaitFor([&] { return p.Out().find("NoSuchWindow/a") != std::string::npos; }))
      << p.Out();
  // Wine 8 refuses events for a console it keeps on a Unix terminal or none (error 12);
  // there wine_signals.sh sends the SIGINT that Wine turns into a Ctrl-C event.
  if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, p.pi.dwProcessId))
    GTEST_SKIP() << "GenerateConsoleCtrlEvent: error " << GetLastError();
  EXPECT_EQ(p.Ended(), 1) << p.Out();
  EXPECT_NE(p.Out().find("ERROR: Process aborted"), std::string::npos) << p.Out();
  const std::string log = procrun::ReadFile(p.dir / "kbprobe.log");
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), '\n') << log;
}

#endif
