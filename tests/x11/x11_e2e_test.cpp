// The tapster executable against real X11 windows, with and without a window manager.
// GoogleTest before Xlib, whose macros (None, Bool...) collide with its names.
#include <gtest/gtest.h>

#include "xsession.h"

#include <algorithm>
#include <fstream>

using x11test::RunResult;
using x11test::TestWin;
using x11test::XSession;

namespace {

class Tapster : public ::testing::TestWithParam<bool> {
protected:
  void SetUp() override {
    x = std::make_unique<XSession>(GetParam());
    if (!x->ready()) GTEST_SKIP() << "no Xvfb" << (GetParam() ? " or openbox" : "");
  }
  std::unique_ptr<XSession> x;
};

std::string Name(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "WithWindowManager" : "NoWindowManager";
}

TEST_P(Tapster, KeysAndTextReachTheNamedWindowOnly) {
  auto alpha = x->Open({"--title", "Alpha", "--geometry", "300x200+100+50"});
  auto beta = x->Open({"--title", "Beta", "--geometry", "300x200+500+50"});
  ASSERT_TRUE(alpha && beta);

  RunResult r = x->Tapster({"Beta/'Hello World<enter>'"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Beta/'Hello World<enter>'\n");
  EXPECT_TRUE(beta->WaitTyped("Hello World\r")) << beta->Typed();

  // Keys by name, a held Shift, and the window brought back in front.
  r = x->Tapster({"Alpha/A", "Alpha/Shift/D", "Alpha/B", "Alpha/Shift/U", "Alpha/Enter"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(alpha->WaitTyped("aB\r")) << alpha->Typed();
  EXPECT_EQ(beta->Typed(), "Hello World\r");
}

TEST_P(Tapster, ClicksLandWhereAsked) {
  auto win = x->Open({"--title", "Clicks", "--geometry", "300x200+100+50"});
  ASSERT_TRUE(win);
  int cx = 0, cy = 0;
  // The offsets count from the outer corner, which a window manager's title bar moves
  // away from the client area: aim low enough to hit the client.
  int y = GetParam() ? 60 : 10, xx = GetParam() ? 40 : 20;
  auto at_yx = [](int dy, int dx) { return "//" + std::to_string(dy) + "/" + std::to_string(dx); };
  RunResult r =
      x->Tapster({"Clicks/Mouse:L" + at_yx(y, xx), "Clicks/Mouse:R" + at_yx(y, xx + 10),
                  "Clicks/Mouse:M" + at_yx(y + 5, xx + 20), "Clicks/" + at_yx(y + 7, xx + 3)});
  EXPECT_EQ(r.status, 0) << r.out;
  ASSERT_TRUE(x11test::WaitUntil([&] { return win->Lines("ButtonRelease ").size() >= 3; }));

  Window top = 0;
  std::sscanf(win->Lines("ready")[0].c_str(), "ready top=%lx", &top);
  x->OuterCorner(top, &cx, &cy);
  auto at = [&](int dy, int dx) {
    return "root=" + std::to_string(cx + dx) + "," + std::to_string(cy + dy);
  };
  std::vector<std::string> presses = win->Lines("ButtonPress ");
  ASSERT_EQ(presses.size(), 3u);
  EXPECT_NE(presses[0].find("win=top button=1 "), std::string::npos) << presses[0];
  EXPECT_NE(presses[0].find(at(y, xx)), std::string::npos) << presses[0];
  if (!GetParam()) {
    EXPECT_NE(presses[0].find("x=20 y=10 "), std::string::npos) << presses[0];
  }
  EXPECT_NE(presses[1].find("button=3 "), std::string::npos) << presses[1];
  EXPECT_NE(presses[2].find("button=2 "), std::string::npos) << presses[2];
  EXPECT_NE(presses[2].find(at(y + 5, xx + 20)), std::string::npos) << presses[2];
  // A move without a button ends where asked.
  EXPECT_TRUE(x11test::WaitUntil([&] {
    auto motion = win->Lines("Motion ");
    return !motion.empty() && motion.back().find(at(y + 7, xx + 3)) != std::string::npos;
  }));
}

TEST_P(Tapster, PatternsChildWindowsAndInstances) {
  auto plain = x->Open({"--title", "Plain Window", "--class", "PlainClass", "--child", "Inner One",
                        "--geometry", "300x200+100+50"});
  ASSERT_TRUE(plain);
  RunResult r = x->Tapster({"Class:plainclass/A", "pl~ind~/B", "Inner ~/C", "Class:Plain~/D"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(plain->WaitTyped("abcd"));
  // As on Windows, a focused child keeps the keys sent to its top-level window.
  EXPECT_EQ(plain->Typed("child"), "cd");

  // Two windows of one title: the one in front gets the key, and a window brought forward
  // by its class is in front afterwards.
  auto first = x->Open({"--title", "Twin", "--class", "TwinOne", "--geometry", "200x100+100+400"});
  ASSERT_TRUE(first);
  auto second = x->Open({"--title", "Twin", "--class", "TwinTwo", "--geometry", "200x100+400+400"});
  ASSERT_TRUE(second);
  // A window manager stacks a new window once it has given it the focus.
  if (GetParam()) {
    ASSERT_TRUE(second->WaitLine("FocusIn"));
  }
  r = x->Tapster({"Twin/E", "Class:TwinOne/F", "Twin/G"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(first->WaitTyped("fg")) << first->Typed();
  EXPECT_EQ(second->Typed(), "e");

  // A window known only by its old Latin-1 WM_NAME.
  auto old = x->Open({"--title", "Caf\xe9 Old", "--latin1-name", "--geometry", "200x100+700+400"});
  ASSERT_TRUE(old);
  r = x->Tapster({"Caf\xc3\xa9 Old/H"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(old->WaitTyped("h"));
}

TEST_P(Tapster, MinimisedAndHiddenWindowsComeBack) {
  auto win = x->Open({"--title", "Hidden"});
  ASSERT_TRUE(win);
  Window top = 0;
  std::sscanf(win->Lines("ready")[0].c_str(), "ready top=%lx", &top);
  Display* dpy = x->dpy();
  // An icon under a window manager, an unmapped window without one.
  if (GetParam())
    XIconifyWindow(dpy, top, DefaultScreen(dpy));
  else
    XUnmapWindow(dpy, top);
  XSync(dpy, False);
  ASSERT_TRUE(x11test::WaitUntil([&] {
    XWindowAttributes a;
    return XGetWindowAttributes(dpy, top, &a) && a.map_state == IsUnmapped;
  }));
  RunResult r = x->Tapster({"Hidden/'back'"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(win->WaitTyped("back")) << win->Typed();
}

INSTANTIATE_TEST_SUITE_P(X11, Tapster, ::testing::Values(false, true), Name);

class TapsterNoWm : public ::testing::Test {
protected:
  void SetUp() override {
    x = std::make_unique<XSession>(false);
    if (!x->ready()) GTEST_SKIP() << "no Xvfb";
  }
  std::unique_ptr<XSession> x;
};

TEST_F(TapsterNoWm, EveryTypeableCharacterArrivesAsItself) {
  auto win = x->Open({"--title", "Typing"});
  ASSERT_TRUE(win);
  const std::string all =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \t,.?;:*[]\\-_=+";
  // CapsLock switched on first: letter case must still come out as written.
  RunResult r = x->Tapster({"Typing/CapsLock", "Typing/'" + all + "aZ<Enter>'"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(win->WaitTyped(all + "aZ\r")) << win->Typed();
  // Keys no key of the layout gives unshifted get a key code lent for the run.
  r = x->Tapster({"Typing/KP:5", "Typing/F20", "Typing/Attention"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(x11test::WaitUntil([&] { return win->Lines("KeyPress ").size() >= all.size() + 6; }));
  auto keys = win->Lines("KeyPress ");
  std::string tail;
  for (std::size_t i = keys.size() - 3; i < keys.size(); ++i)
    tail += keys[i] + "\n";
  EXPECT_NE(tail.find("sym=KP_5 text=35"), std::string::npos) << tail;
  EXPECT_NE(tail.find("sym=F20 "), std::string::npos) << tail;
  EXPECT_NE(tail.find("sym=3270_Attn "), std::string::npos) << tail;
}

TEST_F(TapsterNoWm, EveryKeyNameGivesAKey) {
  auto win = x->Open({"--title", "Keys"});
  ASSERT_TRUE(win);
  std::vector<std::string> names = {"Ctrl-Break",
                                    ",",
                                    ".",
                                    "/",
                                    "?",
                                    ";",
                                    ":",
                                    "*",
                                    "[",
                                    "]",
                                    "\\",
                                    "-",
                                    "_",
                                    "=",
                                    "+",
                                    "Backspace",
                                    "Tab",
                                    "Clear",
                                    "Enter",
                                    "Shift",
                                    "Ctrl",
                                    "Alt",
                                    "Pause",
                                    "CapsLock",
                                    "Esc",
                                    "Space",
                                    "PageUp",
                                    "PageDown",
                                    "End",
                                    "Home",
                                    "Left",
                                    "Up",
                                    "Right",
                                    "Down",
                                    "Select",
                                    "Execute",
                                    "PrintScreen",
                                    "Insert",
                                    "Delete",
                                    "Help",
                                    "LeftWindows",
                                    "RightWindows",
                                    "Applications",
                                    "KP:*",
                                    "KP:+",
                                    "KP:Enter",
                                    "KP:-",
                                    "KP:.",
                                    "Numlock",
                                    "Scroll",
                                    "Attention",
                                    "CrSel",
                                    "ExSel",
                                    "EraseEOF",
                                    "Play",
                                    "Zoom",
                                    "PA1"};
  for (char c = '0'; c <= '9'; ++c)
    names.push_back(std::string(1, c));
  for (char c = 'A'; c <= 'Z'; ++c)
    names.push_back(std::string(1, c));
  for (int i = 0; i <= 9; ++i)
    names.push_back("KP:" + std::to_string(i));
  for (int i = 1; i <= 24; ++i)
    names.push_back("F" + std::to_string(i));
  // Neither "KP:/" (its "/" ends the key field) nor "'" (which begins a text) can be
  // written. One file, no pauses: more keys want a lent key code than there are spare ones.
  std::ofstream file(x->dir() + "/keys.txt");
  for (const std::string& n : names)
    file << "Keys/" << (n == "/" ? "/" : n) << "\n";
  file.close();
  RunResult r = x->Tapster({"@keys.txt"});
  EXPECT_EQ(r.status, 0) << r.out;
  ASSERT_TRUE(x11test::WaitUntil([&] { return win->Lines("KeyPress ").size() >= names.size(); }));
  std::vector<std::string> keys = win->Lines("KeyPress ");
  ASSERT_EQ(keys.size(), names.size());
  auto sym = [&](const std::string& name) {
    std::size_t i = std::find(names.begin(), names.end(), name) - names.begin();
    std::string l = keys[i];
    std::size_t at = l.find(" sym=") + 5;
    return l.substr(at, l.find(' ', at) - at);
  };
  for (std::size_t i = 0; i < names.size(); ++i)
    EXPECT_NE(sym(names[i]), "NoSymbol") << names[i];
  EXPECT_EQ(sym("Ctrl-Break"), "Break");
  EXPECT_EQ(sym("\\"), "backslash");
  EXPECT_EQ(sym("*"), "8");
  EXPECT_EQ(sym("KP:7"), "KP_7");
  EXPECT_EQ(sym("F24"), "F24");
  EXPECT_EQ(sym("PA1"), "3270_PA1");
}

TEST_F(TapsterNoWm, WaitsForAWindowThatAppearsLate) {
  auto late = x->Open({"--title", "Late Comer", "--delay", "700"}, false);
  RunResult r = x->Tapster({"/TMO=20000", "Late Comer/'ok'"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(late->WaitTyped("ok")) << late->Typed();
}

TEST_F(TapsterNoWm, FailuresEndTheRunWithStatusOne) {
  auto win = x->Open({"--title", "Present"});
  ASSERT_TRUE(win);
  RunResult r = x->Tapster({"/TMO=0", "Absent/A", "Present/B"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("ERROR: Window \"Absent\" not found"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Present/B"), std::string::npos) << r.out;

  r = x->Tapster({"Present/A"}, {"DISPLAY"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("ERROR: XOpenDisplay: cannot open display (DISPLAY is not set)"),
            std::string::npos)
      << r.out;
  r = x->Tapster({"/Enter"}, {"DISPLAY=:4095"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("ERROR: XOpenDisplay: cannot open display \":4095\""), std::string::npos)
      << r.out;
  EXPECT_TRUE(win->Lines("KeyPress ").empty());
}

} // namespace
