#include "app/inject.h"
#include "app/simcmd.h"
#include "app/winlookup.h"
#include "errlog/pgmlog.h"
#include "proc/exec.h"

#include "app_fixture.h"

#include <cstring>

using WindowTest = AppTest;

TEST_F(WindowTest, LookupByTitleClassInstanceAndChild) {
  HWND_T a = Window("Untitled - Notepad");
  HWND_T child = Window("Find", "Edit", a);
  HWND_T grandchild = Window("Find what", "Edit", child);
  HWND_T b = Window("Second - Notepad");
  HWND_T c = Window("Calculator", "CalcFrame");

  // Only exact top-level titles go to FindWindowA.
  EXPECT_EQ(WindowTitleHWND("Calculator", nullptr, false, 1, false), c);
  EXPECT_EQ(WindowTitleHWND("calculator", "CalcFrame", false, 1, false), c);
  EXPECT_EQ(d.findWindowCalls, (Lines{"(null)|Calculator", "CalcFrame|calculator"}));
  EXPECT_EQ(d.enumWindowsCalls, 0);

  EXPECT_EQ(WindowTitleHWND("untitled - note~", nullptr, false, 1, false), a);
  EXPECT_EQ(WindowTitleHWND("~Notepad", nullptr, false, 2, false), b);
  EXPECT_EQ(WindowTitleHWND("Class:Notepad", nullptr, false, 0, false), a);
  EXPECT_EQ(WindowTitleHWND("class:calc~", nullptr, false, 1, false), c);
  EXPECT_EQ(WindowTitleHWND(nullptr, "Edit", true, 1, false), child);
  EXPECT_EQ(d.findWindowCalls.size(), 3u); // "Class:Notepad" is exact, so asked directly
  EXPECT_EQ(WindowTitleHWND(nullptr, "", false, 1, true), 0u);
  EXPECT_EQ(TakeError(), "");

  // Children only with the flag; instances count down through the descendants.
  EXPECT_EQ(WindowTitleHWND("Find what", nullptr, false, 1, false), 0u);
  EXPECT_EQ(WindowTitleHWND("Find what", nullptr, true, 1, false), grandchild);
  EXPECT_EQ(WindowTitleHWND("~", nullptr, true, 3, false), grandchild);
  EXPECT_EQ(WindowTitleHWND("~", nullptr, true, 4, false), b);
  EXPECT_EQ(WindowTitleHWND("Class:Edit", nullptr, true, 2, false), grandchild);

  // Not found: silent without report, three messages with it.
  EXPECT_EQ(WindowTitleHWND("Nothing", nullptr, false, 1, false), 0u);
  EXPECT_EQ(TakeError(), "");
  WindowTitleHWND("Nothing", nullptr, false, 1, true);
  EXPECT_EQ(TakeError(), "Window \"Nothing\" not found");
  WindowTitleHWND("No~", "Edit", true, 1, true);
  EXPECT_EQ(TakeError(), "Window \"No~/Edit\" not found");
  WindowTitleHWND("Class:None", nullptr, false, 1, true);
  EXPECT_EQ(TakeError(), "Window class \"None\" not found");

  // By process.
  EXPECT_EQ(WindowTitlePID("Calculator", true), 4242u);
  EXPECT_EQ(WindowTitlePID("Nothing", true), 0u);
  EXPECT_EQ(TakeError(), "Window \"Nothing\" not found");
  FakeWindow orphan;
  orphan.title = "Orphan";
  d.Add(orphan);
  EXPECT_EQ(WindowTitlePID("Orphan", true), 0u);
  EXPECT_EQ(TakeError(), "Window \"Orphan\" process not found");
  EXPECT_EQ(PIDWindowHWND(4242, false, true), a);
  EXPECT_EQ(PIDWindowHWND(7, false, true), 0u);
  EXPECT_EQ(TakeError(), "PID 7 not found");
}

TEST_F(WindowTest, ActivationRaisesRestoresAndFocuses) {
  HWND_T n = Window("Notepad");
  d.Find(n)->showCmd = kSwShowMinimized;
  Tapster(0, 0, n);
  EXPECT_EQ(d.calls, Raised(n, kSwRestore));
  EXPECT_EQ(d.foreground, n);

  // Already in front: nothing at all, not even a focus change.
  d.calls.clear();
  d.focus = 0;
  ActivateWindow(n, true);
  EXPECT_TRUE(d.calls.empty());

  HWND_T m = Window("Maximised");
  d.Find(m)->showCmd = kSwShowMaximized;
  d.showActivates = false;
  ActivateWindow(m, true);
  EXPECT_EQ(TakeError(), "");
  EXPECT_EQ(d.calls, Join(Raised(m, kSwShowMaximized),
                          {"SetFocus " + std::to_string(static_cast<unsigned long long>(m))}));

  // An unreadable placement shows the window rather than hiding it.
  HWND_T u = Window("Unreadable");
  d.placementFails = true;
  d.calls.clear();
  ActivateWindow(u, false);
  EXPECT_EQ(d.calls, Raised(u, 5));
  d.placementFails = false;

  d.calls.clear();
  d.Close(m);
  Tapster(0x41, 3, m);
  EXPECT_EQ(TakeError(), "Handle does not refer to an active window");
  EXPECT_TRUE(d.calls.empty());
}

TEST_F(WindowTest, FocusClickUnderTheGuard) {
  HWND_T n = Window("Notepad");
  d.showActivates = false;
  d.setFocusFails = true;
  Tapster(0x41, 3, n);
  EXPECT_EQ(TakeError(), "");
  std::string id = std::to_string(static_cast<unsigned long long>(n));
  // One click at (1, 1) inside the window, no second activation from inside SimMouse.
  Lines want = Join(Raised(n), {"SetFocus " + id + " failed", Mouse(3449, 12208, 0x8007)});
  Tap(want, 0x41);
  EXPECT_EQ(d.calls, want);
  EXPECT_FALSE(activation_guard);
  EXPECT_TRUE(clock.sleeps.empty());

  // A window that never comes forward: the failure after 1000 ms, no title, no key.
  HWND_T s = Window("Stubborn");
  d.clickActivates = false;
  d.calls.clear();
  Tapster(0x41, 3, s);
  EXPECT_EQ(TakeError(), "ActivateWindow failure");
  EXPECT_EQ(clock.sleeps.size(), 101u);
  EXPECT_TRUE(d.Input().size() == 1u && d.Input()[0].rfind("mouse ", 0) == 0);

  // Any other failure on the way gets the window's title.
  d.sendInputFails = true;
  SimMouse(1, 3, s, 0, 0, false);
  std::string message = TakeError();
  EXPECT_EQ(message.rfind("SendInput", 0), 0u) << message;
  EXPECT_NE(message.find(" (window=Stubborn)"), std::string::npos) << message;
}

TEST_F(WindowTest, ChildWindowCountsAsInFrontWithItsTopLevel) {
  HWND_T top = Window("Dialog");
  HWND_T edit = Window("", "Edit", top);
  d.showActivates = false;
  d.setFocusFails = true;
  Tapster(0x41, 3, edit);
  EXPECT_EQ(TakeError(), "");
  EXPECT_EQ(d.foreground, top);
  EXPECT_EQ(d.Input().back(), Key(0x41, true));
}

TEST_F(WindowTest, MouseRecordsAndNormalisation) {
  SimMouse(1, 3, 0, 539, 959, false);
  SimMouse(2, 2, 0, 0, 0, false);
  SimMouse(0, 3, 0, 1079, 1919, false);
  SimMouse(4, 1, 0, 2000, 3000, false); // beyond the corner: the corner
  d.cursor = {100, 100};
  SimMouse(0, 0, 0, -5, 5, true);
  EXPECT_EQ(TakeError(), "");
  EXPECT_EQ(d.calls,
            (Lines{Mouse(32750, 32737, 0x8007), Mouse(0, 0, 0x8011), Mouse(65535, 65535, 0x8001),
                   Mouse(65535, 65535, 0x8021), Mouse(3585, 5769, 0x8001)}));

  // A window partly off the screen: offsets inside it still land on the screen's edge.
  FakeWindow w;
  w.title = "Off";
  w.rect = {-300, -100, 200, 300};
  HWND_T off = d.Add(w);
  d.foreground = off;
  d.calls.clear();
  SimMouse(1, 3, off, 110, 320, false);
  SimMouse(1, 3, off, 10, 10, false);
  EXPECT_EQ(d.calls, (Lines{Mouse(683, 607, 0x8007), Mouse(0, 0, 0x8007)}));

  d.screenWidth = 1280; // the metrics are read once per run
  SimMouse(0, 0, 0, 0, 1279, false);
  EXPECT_EQ(d.calls.back(), Mouse(43678, 0, 0x8001));
}

TEST(WindowTexts, NamesOfShowCommandsAndStyles) {
  EXPECT_STREQ(ShowCmdName(0), "SW_HIDE");
  EXPECT_STREQ(ShowCmdName(9), "SW_RESTORE");
  EXPECT_STREQ(ShowCmdName(11), "SW_MAX");
  EXPECT_STREQ(ShowCmdName(12), "SW_?12");
  char buf[64];
  EXPECT_STREQ(WindowStyleText(0x40C00000, buf, sizeof buf), "/BORDER/CAPTION/CHILD/DLGFRAME");
  EXPECT_STREQ(WindowStyleText(0, buf, sizeof buf), "");
  EXPECT_STREQ(WindowStyleText(0x40C00000, buf, 12), "/BORDER");
}

TEST_F(WindowTest, TraceLinesAndTheSiblingProgram) {
  auto lastLine = [] { return std::string(log_line); };
  debug_level = 1;
  SimCmd("/Foo//3", 0);
  EXPECT_EQ(TakeError(), "Bad key name \"Foo\"");
  EXPECT_NE(lastLine().find("SimCmd:wnd= keyt=Foo myt=3 ud=03 gy=3 gx=0"), std::string::npos)
      << lastLine();
  SimMouse(1, 3, 0, -2, 5, false);
  EXPECT_NE(lastLine().find("SimMouse:vk=01 ud=03 hwnd=0 gy=-2 gx=5 abs=False"), std::string::npos)
      << lastLine();
  Tapster(0xBF, 2, 0);
  EXPECT_NE(lastLine().find("Tapster:vk=bf ud=02 hwnd=0"), std::string::npos) << lastLine();
  debug_level = 0;

  // A daemon program leaves the raising to "Frontwin.exe", which it waits for.
  HWND_T n = Window("Notepad");
  d.calls.clear();
  daemon_pgm = true;
  ActivateWindow(n, false);
  daemon_pgm = false;
  std::string want = std::to_string(static_cast<unsigned long long>(n)) + " False(";
  EXPECT_NE(lastLine().find("ExecSystemMult:cmd="), std::string::npos) << lastLine();
  EXPECT_NE(lastLine().find("rontwin"), std::string::npos) << lastLine();
  EXPECT_NE(lastLine().find(want), std::string::npos) << lastLine();
  EXPECT_TRUE(d.calls.empty());
  TakeError();
}
