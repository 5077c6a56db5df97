// Keys only where they were sent: a target that closes mid-text, two runs at once,
// CapsLock as the user left it, and a point outside the screen. A bystander window
// behind the target writes down whatever reaches it.
#include <gtest/gtest.h>

#include "xsession.h"

#include <X11/XKBlib.h>

#include <algorithm>
#include <future>

using x11test::RunResult;
using x11test::Spawn;
using x11test::WaitUntil;
using x11test::XSession;

namespace {

class Turns : public ::testing::TestWithParam<bool> {
protected:
  void SetUp() override {
    x = std::make_unique<XSession>(GetParam());
    if (!x->ready()) GTEST_SKIP() << "no Xvfb" << (GetParam() ? " or openbox" : "");
  }
  bool CapsOn() {
    XkbStateRec state;
    XkbGetState(x->dpy(), XkbUseCoreKbd, &state);
    return state.locked_mods & LockMask;
  }
  // tapster in the background, its output into a file of the session.
  pid_t Start(const std::vector<std::string>& args, const std::string& out) {
    std::vector<std::string> argv{TAPSTER_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    int fd = open((x->dir() + "/" + out).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = Spawn(argv, {"DISPLAY=" + x->display()}, x->dir(), fd);
    close(fd);
    return pid;
  }
  std::unique_ptr<XSession> x;
};

std::string Name(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "WithWindowManager" : "NoWindowManager";
}

std::string Repeat(const std::string& unit, int n) {
  std::string s;
  while (n-- > 0)
    s += unit;
  return s;
}

TEST_P(Turns, AClosingTargetLetsNoMoreThanOneChunkThrough) {
  auto bystander = x->Open({"--title", "Bystander", "--geometry", "600x400+0+0"});
  ASSERT_TRUE(bystander);
  // The pointer over the bystander: without a window manager keys follow it once the
  // focus falls back to the root.
  XWarpPointer(x->dpy(), 0, DefaultRootWindow(x->dpy()), 0, 0, 0, 0, 50, 50);
  XSync(x->dpy(), False);
  std::string text = Repeat("touch pwned<Enter>", 200);
  for (const char* closeAfter : {"5", "60", "300"}) {
    for (bool capsBefore : {false, true}) {
      if (CapsOn() != capsBefore) x->Tapster({"Bystander/CapsLock"});
      std::size_t before = bystander->Typed().size();
      auto target = x->Open({"--title", "Target", "--close-after", closeAfter});
      ASSERT_TRUE(target);
      RunResult r = x->Tapster({"Target/'A" + text + "'"});
      EXPECT_EQ(r.status, 1) << r.out;
      EXPECT_TRUE(r.out.find("ERROR: Handle does not refer to an active window") !=
                      std::string::npos ||
                  r.out.find("ERROR: ActivateWindow failure") != std::string::npos)
          << r.out;
      EXPECT_TRUE(target->WaitLine("closed"));
      XSync(x->dpy(), False);
      EXPECT_LE(bystander->Typed().size() - before, 16u) << closeAfter;
      EXPECT_EQ(CapsOn(), capsBefore) << closeAfter;
    }
  }
}

TEST_P(Turns, TwoRunsAtOnceEachTypeIntoTheirOwnWindow) {
  auto alpha = x->Open({"--title", "Alpha", "--geometry", "300x200+100+50"});
  auto beta = x->Open({"--title", "Beta", "--geometry", "300x200+500+50"});
  ASSERT_TRUE(alpha && beta);
  std::string a = Repeat("Mixed Case_Text: One+Two? ", 20), b = Repeat("lower case only ", 30);
  auto ra = std::async(std::launch::async, [&] { return x->Tapster({"Alpha/'" + a + "'"}); });
  auto rb = std::async(std::launch::async, [&] { return x->Tapster({"Beta/'" + b + "'"}); });
  RunResult first = ra.get(), second = rb.get();
  EXPECT_EQ(first.status, 0) << first.out;
  EXPECT_EQ(second.status, 0) << second.out;
  EXPECT_TRUE(alpha->WaitTyped(a)) << alpha->Typed();
  EXPECT_TRUE(beta->WaitTyped(b)) << beta->Typed();
  EXPECT_FALSE(CapsOn());
}

TEST_P(Turns, LentKeyCodesGoBackBeforeTheTurnPasses) {
  auto alpha = x->Open({"--title", "Alpha", "--geometry", "300x200+100+50"});
  ASSERT_TRUE(alpha);
  auto lent = [&] {
    int min, max, per;
    XDisplayKeycodes(x->dpy(), &min, &max);
    KeySym* syms = XGetKeyboardMapping(x->dpy(), static_cast<KeyCode>(min), max - min + 1, &per);
    bool found = std::find(syms, syms + (max - min + 1) * per, KeySym{0xfd0a} /* 3270_PA1 */) !=
                 syms + (max - min + 1) * per;
    XFree(syms);
    return found;
  };
  ASSERT_FALSE(lent()) << "the layout has the key already";
  // Between its commands a run leaves the turn to others, who would type with the codes it
  // lent and lose their keys when it blanks them.
  pid_t run = Start({"/TMO=20000", "Alpha/PA1", "Gamma/'x'"}, "a");
  ASSERT_TRUE(WaitUntil([&] {
    for (const std::string& l : alpha->Lines("KeyRelease"))
      if (l.find(" sym=3270_PA1") != std::string::npos) return true;
    return false;
  }));
  EXPECT_TRUE(WaitUntil([&] { return !lent(); }));
  auto gamma = x->Open({"--title", "Gamma", "--geometry", "300x200+500+50"});
  ASSERT_TRUE(gamma);
  EXPECT_TRUE(gamma->WaitTyped("x")) << gamma->Typed();
  int status = -1;
  waitpid(run, &status, 0);
  EXPECT_EQ(status, 0);
}

TEST_P(Turns, ASecondRunWaitsItsTimeoutAndACrashFreesTheTurn) {
  auto alpha = x->Open({"--title", "Alpha", "--geometry", "300x200+100+50"});
  auto beta = x->Open({"--title", "Beta", "--geometry", "300x200+500+50"});
  ASSERT_TRUE(alpha && beta);
  // Shift held across pauses keeps the turn for seconds.
  pid_t holder = Start({"Alpha/Shift/D", "Alpha/A", "Alpha/A", "Alpha/A", "Alpha/Shift/U"}, "a");
  ASSERT_TRUE(WaitUntil([&] {
    for (const std::string& l : alpha->Lines("KeyPress"))
      if (l.find(" sym=Shift_L ") != std::string::npos) return true;
    return false;
  }));
  RunResult r = x->Tapster({"/TMO=300", "Beta/'b'"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("ERROR: AcquireInputLock: another run is sending input to this desktop; "
                       "gave up after 300 ms"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(beta->Typed(), "");

  // Killed while it holds the turn: the server frees it with the connection.
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  r = x->Tapster({"/TMO=5000", "Beta/'b'"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(beta->WaitTyped("b")) << beta->Typed();
}

TEST_P(Turns, CapsLockEndsAsTheUserLeftIt) {
  auto alpha = x->Open({"--title", "Alpha"});
  ASSERT_TRUE(alpha);
  for (bool capsBefore : {false, true}) {
    if (CapsOn() != capsBefore) x->Tapster({"Alpha/CapsLock"});
    ASSERT_EQ(CapsOn(), capsBefore);
    for (const char* text : {"Alpha/'abC'", "Alpha/'ABc'", "Alpha/'aB!'"}) {
      x->Tapster({text});
      EXPECT_EQ(CapsOn(), capsBefore) << text;
    }
  }
}

TEST_P(Turns, APointOutsideTheScreenIsNotClicked) {
  auto corner = x->Open({"--title", "Corner", "--geometry", "200x100+0+0"});
  ASSERT_TRUE(corner);
  RunResult r = x->Tapster({"Corner/Mouse:L//-20/-20", "Corner/Mouse:L//60/60"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("ERROR: SimMouse: the point lies outside the screen ("), std::string::npos)
      << r.out;
  r = x->Tapster({"Corner/Mouse:L//60/60"});
  EXPECT_EQ(r.status, 0) << r.out;
  ASSERT_TRUE(corner->WaitLine("ButtonRelease"));
  EXPECT_EQ(corner->Lines("ButtonPress").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(X11, Turns, ::testing::Values(false, true), Name);

} // namespace
