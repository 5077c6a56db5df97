// Runs that end early (a failing command, a closed window, a signal, a reader that went
// away, a lost display) hand back every key, button and key code they took, and their
// error reaches the error file. The server runs with -noreset, so nothing undoes a fault.
// GoogleTest before Xlib, whose macros (None, Bool...) collide with its names.
#include <gtest/gtest.h>

#include "xsession.h"

using x11test::FileText;
using x11test::RunResult;
using x11test::Spawn;
using x11test::TestWin;
using x11test::WaitUntil;
using x11test::XSession;

namespace {

// Keys and pointer buttons down on the server.
std::string Held(Display* dpy) {
  char keys[32];
  XQueryKeymap(dpy, keys);
  std::string held;
  for (int code = 0; code < 256; ++code)
    if (keys[code / 8] & (1 << (code % 8))) held += " key" + std::to_string(code);
  Window r, c;
  int rx, ry, wx, wy;
  unsigned mask = 0;
  XQueryPointer(dpy, DefaultRootWindow(dpy), &r, &c, &rx, &ry, &wx, &wy, &mask);
  for (int b = 0; b < 5; ++b)
    if (mask & (Button1Mask << b)) held += " button" + std::to_string(b + 1);
  return held;
}

std::vector<KeySym> Mapping(Display* dpy) {
  int min = 0, max = 0, per = 0;
  XDisplayKeycodes(dpy, &min, &max);
  KeySym* syms = XGetKeyboardMapping(dpy, static_cast<KeyCode>(min), max - min + 1, &per);
  std::vector<KeySym> out(syms, syms + static_cast<std::size_t>(max - min + 1) * per);
  XFree(syms);
  return out;
}

class Release : public ::testing::Test {
protected:
  void SetUp() override {
    x = std::make_unique<XSession>(false);
    if (!x->ready()) GTEST_SKIP() << "no Xvfb";
    win = x->Open({"--title", "Target"});
    ASSERT_TRUE(win);
    before = Mapping(x->dpy());
  }

  // tapster in the background, its output into the file out; env as Spawn's.
  pid_t Start(const std::vector<std::string>& args, const std::string& out = "out.txt",
              std::vector<std::string> env = {}, const char* exe = TAPSTER_EXE) {
    std::vector<std::string> argv{exe};
    argv.insert(argv.end(), args.begin(), args.end());
    int fd = open((x->dir() + "/" + out).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    env.push_back("DISPLAY=" + x->display());
    pid_t pid = Spawn(argv, env, x->dir(), fd);
    close(fd);
    return pid;
  }
  // Exit status (128 + signal when killed); -1 when the run did not end in time.
  static int Wait(pid_t pid) {
    int status = 0;
    if (!WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 60000)) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      return -1;
    }
    return x11test::ExitStatus(status);
  }
  std::string Out(const std::string& out = "out.txt") { return FileText(x->dir() + "/" + out); }
  std::string ErrFile(const std::string& name = "tapster") {
    return FileText(x->dir() + "/" + name + ".err");
  }
  // Nothing down and no key code lent, once the server has carried out what it was sent.
  void ExpectCleanSoon(const std::string& what) {
    WaitUntil([&] { return Held(x->dpy()).empty() && Mapping(x->dpy()) == before; });
    ExpectClean(what);
  }
  void ExpectClean(const std::string& what) {
    EXPECT_EQ(Held(x->dpy()), "") << what;
    std::vector<KeySym> now = Mapping(x->dpy());
    std::string lent;
    for (std::size_t i = 0; i < now.size() && i < before.size(); ++i)
      if (now[i] != before[i]) lent += " " + std::to_string(i) + ":" + std::to_string(now[i]);
    EXPECT_TRUE(now == before) << what << ": a key code is still lent:" << lent;
  }

  std::unique_ptr<XSession> x;
  std::unique_ptr<TestWin> win;
  std::vector<KeySym> before;
};

TEST_F(Release, FailuresReleaseWhatTheRunHoldsAndSuccessesDoNot) {
  // A key pressed in one run stays down until a later run releases it.
  RunResult r = x->Tapster({"Target/Shift/D"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(Held(x->dpy()), "");
  r = x->Tapster({"Target/Shift/U"});
  ExpectClean("released by a later run");

  r = x->Tapster({"Target/Ctrl/D", "Target/Mouse:L/D/5/5", "Target/Attention/D", "Target/CrSel/D",
                  "/TMO=0", "Nope/A"});
  EXPECT_EQ(r.status, 1) << r.out;
  ExpectClean("failing command");
  EXPECT_NE(r.out.find("ERROR: Window \"Nope\" not found"), std::string::npos) << r.out;
  EXPECT_NE(ErrFile().find("ERROR: Window \"Nope\" not found"), std::string::npos) << ErrFile();
}

TEST_F(Release, AWindowClosedMidTextLeavesNoShiftDown) {
  std::string text(3000, '_');
  for (int i = 0; i < 3; ++i) {
    auto closing = x->Open({"--title", "Closing"});
    ASSERT_TRUE(closing);
    pid_t pid = Start({"Closing/'" + text + "'"});
    ASSERT_TRUE(closing->WaitLine("KeyPress "));
    closing.reset();
    // A text goes out in one batch, so it may have been sent whole before the window went.
    const int status = Wait(pid);
    EXPECT_TRUE(status == 0 || status == 1) << status << Out();
    ExpectClean("window closed mid-text, run " + std::to_string(i));
  }
}

TEST_F(Release, SignalsEndTheRunInOrder) {
  // Long enough that the run is still typing when the signal comes.
  std::string text(100000, '_');
  for (int sig : {SIGINT, SIGTERM, SIGQUIT, SIGALRM}) {
    std::string name = sigabbrev_np(sig);
    std::size_t typed = win->Typed().size();
    pid_t pid = Start({"Target/'" + text + "'"});
    ASSERT_TRUE(WaitUntil([&] { return win->Typed().size() > typed + 5; }));
    kill(pid, sig);
    EXPECT_EQ(Wait(pid), 1) << name << Out();
    ExpectClean(name + " mid-text");

    // In the window wait, with key codes lent to keys held down.
    pid = Start({"Target/Attention/D", "Target/CrSel/D", "/TMO=60000", "Nope/A"});
    ASSERT_TRUE(WaitUntil([&] { return Out().find("Nope/A\n") != std::string::npos; }));
    kill(pid, sig);
    EXPECT_EQ(Wait(pid), 1) << name << Out();
    ExpectClean(name + " in a wait");
    EXPECT_NE(ErrFile().find("ERROR: Process aborted"), std::string::npos) << ErrFile();
    EXPECT_NE(FileText(x->dir() + "/tapster.log").find("ERROR: Process aborted"), std::string::npos)
        << name;
  }
}

TEST_F(Release, FaultsMidTextLeaveNoKeyDownAndNoKeyCodeLent) {
  // Shift held, F20 and Zoom on key codes lent for them (Zoom held), then a long text.
  const std::vector<std::string> args{"Target/Shift/D", "Target/F20", "Target/Zoom/D",
                                      "Target/'" + std::string(100000, '_') + "'"};
  for (int sig : {SIGSEGV, SIGABRT}) {
    std::size_t typed = win->Typed().size();
    pid_t pid = Start(args);
    ASSERT_TRUE(WaitUntil([&] { return win->Typed().size() > typed + 5; }));
    kill(pid, sig);
    EXPECT_EQ(Wait(pid), 1) << sig << Out();
    ExpectCleanSoon(std::string(sigabbrev_np(sig)) + " mid-text");
    EXPECT_NE(ErrFile().find(sig == SIGSEGV ? "Invalid memory segment access" : "Abort ("),
              std::string::npos)
        << ErrFile();
  }
  // Faults of its own, inside the desktop while it types (the 2000th key event).
  const char* says[] = {"Floating point exception", "Invalid parameter fault",
                        "Invalid memory segment access"};
  int i = 0;
  for (const char* fault : {"crash0", "crash1", "segv"}) {
    pid_t pid = Start(args, "out.txt",
                      {std::string("INPUTFAULT=") + fault, "INPUTFAULT_AFTER=2000"}, PROBE_EXE);
    EXPECT_EQ(Wait(pid), 1) << fault << Out();
    ExpectCleanSoon(fault);
    EXPECT_NE(ErrFile("inputfaultprobe").find(says[i++]), std::string::npos)
        << fault << ErrFile("inputfaultprobe");
  }
}

TEST_F(Release, AServerFrozenMidTextWakesWithNoKeyDown) {
  std::size_t typed = win->Typed().size();
  pid_t pid = Start({"Target/Shift/D", "Target/F20", "Target/'" + std::string(100000, '_') + "'"});
  ASSERT_TRUE(WaitUntil([&] { return win->Typed().size() > typed + 5; }));
  kill(x->server(), SIGSTOP);
  const int status = Wait(pid);
  kill(x->server(), SIGCONT);
  EXPECT_EQ(status, 1) << Out();
  EXPECT_NE(Out().find("did not answer within 5 seconds"), std::string::npos) << Out();
  ExpectCleanSoon("server frozen mid-text");
}

TEST_F(Release, AReaderThatGoesAwayEndsTheRunInOrder) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::vector<std::string> argv{TAPSTER_EXE, "Target/Shift/D", "Target/A", "Target/Shift/U"};
  pid_t pid = Spawn(argv, {"DISPLAY=" + x->display()}, x->dir(), fds[1]);
  close(fds[1]);
  std::string first;
  char c = 0;
  while (first.find('\n') == std::string::npos && read(fds[0], &c, 1) == 1)
    first += c;
  close(fds[0]); // as "| head -1" does
  EXPECT_EQ(first, "Target/Shift/D\n");
  EXPECT_EQ(Wait(pid), 1);
  ExpectClean("reader gone");
  EXPECT_NE(ErrFile().find("ERROR: Write error on standard output"), std::string::npos)
      << ErrFile();
}

TEST_F(Release, NamesFromOutsideCannotForgeLogLines) {
  RunResult r = x->Tapster({"-DEBUG", "/TMO=0", "a\r\nFORGED\x1b[0m/A"});
  EXPECT_EQ(r.status, 1) << r.out;
  std::string log = FileText(x->dir() + "/tapster.log");
  EXPECT_NE(log.find("SimCmd:wnd=a<CR><LF>FORGED<ESC>[0m keyt=A"), std::string::npos) << log;
  EXPECT_NE(log.find("ERROR: Window \"a<CR><LF>FORGED<ESC>[0m\" not found"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("\nFORGED"), std::string::npos) << log;
  EXPECT_EQ(ErrFile().find("\nFORGED"), std::string::npos) << ErrFile();
}

TEST_F(Release, ALostDisplayEndsTheRunWithItsError) {
  // Under the leak checker, a resource left behind on the lost connection shows in the output.
  pid_t pid = Start({"Target/'" + std::string(3000, 'x') + "'"});
  ASSERT_TRUE(win->WaitLine("KeyPress "));
  x->StopServer();
  EXPECT_EQ(Wait(pid), 1) << Out();
  EXPECT_NE(ErrFile().find("was lost"), std::string::npos) << ErrFile() << Out();
  EXPECT_EQ(Out().find("LeakSanitizer"), std::string::npos) << Out();
}

} // namespace
