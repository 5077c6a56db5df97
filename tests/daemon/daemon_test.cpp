// tapster -daemon_pgm on X11: the sibling program brings the window forward, and without it
// the command fails instead of typing into whatever window is in front.
// GoogleTest before Xlib, whose macros (None, Bool...) collide with its names.
#include <gtest/gtest.h>

#include "xsession.h"

using x11test::RunResult;
using x11test::XSession;

namespace {

class Daemon : public ::testing::TestWithParam<bool> {
protected:
  void SetUp() override {
    x = std::make_unique<XSession>(GetParam());
    if (!x->ready()) GTEST_SKIP() << "no Xvfb" << (GetParam() ? " or openbox" : "");
  }

  // Runs exe (tapster or a copy of it) as a daemon program on the session's display.
  RunResult RunDaemon(const std::string& exe, const std::string& command) {
    return x->RunProgram({exe, "-daemon_pgm", command}, {"WAYLAND_DISPLAY"});
  }

  std::unique_ptr<XSession> x;
};

std::string Name(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "WithWindowManager" : "NoWindowManager";
}

TEST_P(Daemon, TheSiblingBringsTheWindowForwardOrTheCommandFails) {
  auto alpha = x->Open({"--title", "Alpha", "--geometry", "300x200+100+50"});
  auto beta = x->Open({"--title", "Beta", "--geometry", "300x200+500+50"});
  ASSERT_TRUE(alpha && beta);
  if (GetParam()) {
    ASSERT_TRUE(beta->WaitLine("FocusIn"));
  }

  RunResult r = RunDaemon(TAPSTER_EXE, "Alpha/'hi'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(alpha->WaitTyped("hi")) << alpha->Typed();
  r = RunDaemon(TAPSTER_EXE, "Beta/'b'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(beta->WaitTyped("b")) << beta->Typed();

  // A copy of tapster without its sibling cannot bring Alpha forward: an error, and the
  // keys go nowhere.
  std::string alone = x->dir() + "/alone";
  std::filesystem::create_directories(alone);
  std::filesystem::copy_file(TAPSTER_EXE, alone + "/tapster");
  r = RunDaemon(alone + "/tapster", "Alpha/'zz'");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("ERROR: ActivateWindow failure"), std::string::npos) << r.out;
  // Beta still holds the focus, and nothing was typed anywhere.
  r = RunDaemon(TAPSTER_EXE, "Beta/'c'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(beta->WaitTyped("bc")) << beta->Typed();
  EXPECT_EQ(alpha->Typed(), "hi");
}

INSTANTIATE_TEST_SUITE_P(X11, Daemon, ::testing::Values(false, true), Name);

} // namespace
