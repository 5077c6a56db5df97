// Typed text on other keyboard layouts, a window tree deeper than any stack, and a server
// that stops answering.
#include <gtest/gtest.h>

#include "xsession.h"

#include <X11/Xutil.h>
#include <X11/cursorfont.h>

using x11test::RunResult;
using x11test::XSession;

namespace {

class X11Layout : public ::testing::Test {
protected:
  void SetUp() override {
    x = std::make_unique<XSession>(false);
    if (!x->ready()) GTEST_SKIP() << "no Xvfb";
  }
  std::vector<KeySym> KeyMap() {
    int first = 0, last = 0, perCode = 0;
    XDisplayKeycodes(x->dpy(), &first, &last);
    KeySym* syms =
        XGetKeyboardMapping(x->dpy(), static_cast<KeyCode>(first), last - first + 1, &perCode);
    std::vector<KeySym> map(syms, syms + (last - first + 1) * perCode);
    XFree(syms);
    return map;
  }
  std::unique_ptr<XSession> x;
};

const std::string kTypeable =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \t,.?;:*[]\\-_=+";

TEST_F(X11Layout, EveryTypeableCharacterArrivesOnGermanAndFrenchLayouts) {
  for (std::string layout : {"de", "fr"}) {
    SCOPED_TRACE(layout);
    ASSERT_EQ(x->Run({"setxkbmap", layout}), 0);
    auto win = x->Open({"--title", "Typing " + layout});
    ASSERT_TRUE(win);
    std::vector<KeySym> before = KeyMap();
    // Once as CapsLock is, once with CapsLock switched on by its key name.
    RunResult r =
        x->Tapster({"Typing " + layout + "/'" + kTypeable + "'", "Typing " + layout + "/CapsLock",
                    "Typing " + layout + "/'" + kTypeable + "<Enter>'"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(win->WaitTyped(kTypeable + kTypeable + "\r")) << win->Typed();
    // Key codes lent for the run are given back.
    EXPECT_TRUE(KeyMap() == before);
  }
}

TEST_F(X11Layout, UsLayoutKeepsTheUsKeysWithShiftAndCapsLock) {
  auto win = x->Open({"--title", "Us"});
  ASSERT_TRUE(win);
  RunResult r = x->Tapster({"Us/'aB_\\*c'"});
  EXPECT_EQ(r.status, 0) << r.out;
  ASSERT_TRUE(win->WaitTyped("aB_\\*c")) << win->Typed();
  std::string syms;
  for (const std::string& l : win->Lines("KeyPress ")) {
    std::size_t at = l.find(" sym=") + 5;
    syms += l.substr(at, l.find(' ', at) - at) + " ";
  }
  EXPECT_EQ(syms, "a Caps_Lock B Shift_L underscore backslash Shift_L asterisk Caps_Lock c ");
}

TEST_F(X11Layout, AWindowChainDeeperThanAnyStackIsSearchedToTheEnd) {
  Display* dpy = x->dpy();
  Window top = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 50, 50, 0, 0, 0);
  XStoreName(dpy, top, "Deep");
  // A window without a cursor of its own makes the server look up its ancestors for one,
  // which would make building the chain take quadratic time.
  XSetWindowAttributes attrs{};
  attrs.cursor = XCreateFontCursor(dpy, XC_arrow);
  Window w = top;
  for (int depth = 0; depth < 100000; ++depth)
    w = XCreateWindow(dpy, w, 0, 0, 1, 1, 0, CopyFromParent, InputOutput, CopyFromParent, CWCursor,
                      &attrs);
  XStoreName(dpy, w, "Bottom");
  XMapWindow(dpy, top);
  XSync(dpy, False);
  RunResult r = x->Tapster({"/TMO=0", "Nowhere~/A"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("ERROR: Window \"Nowhere~\" not found"), std::string::npos) << r.out;
}

TEST_F(X11Layout, AServerThatStopsAnsweringEndsTheRunWithAnError) {
  auto win = x->Open({"--title", "Frozen"});
  ASSERT_TRUE(win);
  kill(x->server(), SIGSTOP);
  RunResult r = x->Tapster({"Frozen/'abc'"});
  kill(x->server(), SIGCONT);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("did not answer within 5 seconds"), std::string::npos) << r.out;
}

} // namespace
