// The X11 desktop itself: exact pointer positions, key state, lent key codes and the
// errors of windows and displays that go away.
// GoogleTest before Xlib, whose macros (None, Bool...) collide with its names.
#include <gtest/gtest.h>

#include "xsession.h"

#include "app/inject.h"
#include "errlog/errstack.h"
#include "platform/x11/desktop_x11.h"

#include <X11/keysym.h>

using x11test::XSession;

namespace {

class X11Backend : public ::testing::Test {
protected:
  void SetUp() override {
    ClearErr();
    x = std::make_unique<XSession>(false);
    if (!x->ready()) GTEST_SKIP() << "no Xvfb";
    desktop = MakeX11Desktop(x->display().c_str());
  }
  void TearDown() override { ClearErr(); }
  std::string Message() {
    char buf[4096];
    const char* text = ErrMessage(false, true, buf, sizeof buf);
    return text ? text : "";
  }
  std::vector<KeySym> Keymap() {
    int min, max, per;
    XDisplayKeycodes(x->dpy(), &min, &max);
    KeySym* syms = XGetKeyboardMapping(x->dpy(), static_cast<KeyCode>(min), max - min + 1, &per);
    std::vector<KeySym> map(syms, syms + (max - min + 1) * per);
    XFree(syms);
    return map;
  }
  std::unique_ptr<XSession> x;
  std::unique_ptr<Desktop> desktop;
};

TEST_F(X11Backend, NormalisedPointsMapBackToEveryPixel) {
  int w = desktop->GetSystemMetrics(kSmCxScreen), h = desktop->GetSystemMetrics(kSmCyScreen);
  ASSERT_EQ(w, 1024);
  ASSERT_EQ(h, 768);
  for (int i = 0; i < w; ++i) {
    MouseInputRecord m;
    m.dx = NormalisedCoordinate(i, w);
    m.dy = NormalisedCoordinate(i % h, h);
    m.dwFlags = kMouseEventfMove | kMouseEventfAbsolute;
    ASSERT_EQ(desktop->SendInput(1, &m, sizeof m), 1u);
    WinPoint p;
    ASSERT_TRUE(desktop->GetCursorPos(&p));
    ASSERT_EQ(p.x, i);
    ASSERT_EQ(p.y, i % h);
  }
  EXPECT_FALSE(ErrSet);
}

TEST_F(X11Backend, KeyStateFollowsTheKeyboard) {
  auto press = [&](U1 vk, U4 up) { desktop->keybd_event(vk, 0, up, 0); };
  EXPECT_EQ(desktop->GetKeyState(kVkCapital), 0);
  press(kVkCapital, 0);
  press(kVkCapital, kKeyEventfKeyUp);
  EXPECT_EQ(desktop->GetKeyState(kVkCapital) & 1, 1);
  press(kVkShift, 0);
  EXPECT_LT(desktop->GetKeyState(kVkShift), 0);
  press(kVkShift, kKeyEventfKeyUp);
  EXPECT_EQ(desktop->GetKeyState(kVkShift), 0);
  press(kVkCapital, 0);
  press(kVkCapital, kKeyEventfKeyUp);
  EXPECT_EQ(desktop->GetKeyState(kVkCapital), 0);
  // Scan codes are X key codes less 8, as for the keyboards of a PC.
  EXPECT_EQ(desktop->MapVirtualKeyA('A', 0) + 8, XKeysymToKeycode(x->dpy(), XK_a));
  EXPECT_FALSE(ErrSet);
}

TEST_F(X11Backend, LentKeyCodesAreGivenBackAtTheEnd) {
  std::vector<KeySym> before = Keymap();
  for (U1 vk : {U1{0x66}, U1{0x85}, U1{0xFD}}) { // KP:6, F22, PA1
    desktop->keybd_event(vk, 0, 0, 0);
    desktop->keybd_event(vk, 0, kKeyEventfKeyUp, 0);
  }
  EXPECT_FALSE(ErrSet) << Message();
  std::vector<KeySym> during = Keymap();
  EXPECT_NE(std::find(during.begin(), during.end(), KeySym{0xfd0a}), during.end()); // 3270_PA1
  desktop.reset();
  EXPECT_EQ(Keymap(), before);
}

HWND_T found_child = 0;
int FindInner(HWND_T w, std::intptr_t param) {
  char title[64];
  reinterpret_cast<Desktop*>(param)->GetWindowTextA(w, title, sizeof title);
  if (std::string(title) == "Inner \xc3\xa4") found_child = w;
  return found_child ? 0 : 1;
}

TEST_F(X11Backend, WindowFactsComeFromTheirProperties) {
  auto win = x->Open({"--title", "Fact \xc3\xa4 Window", "--class", "FactClass", "--child",
                      "Inner \xc3\xa4", "--geometry", "200x100+30+40"});
  ASSERT_TRUE(win);
  HWND_T w = desktop->FindWindowA("factclass", "FACT \xc3\xa4 WINDOW");
  ASSERT_NE(w, 0u);
  char text[8];
  EXPECT_EQ(desktop->GetWindowTextA(w, text, 7), 5); // cut before the two-byte letter
  EXPECT_STREQ(text, "Fact ");
  EXPECT_EQ(desktop->GetClassNameA(w, text, sizeof text), 7);
  EXPECT_STREQ(text, "FactCla");
  U4 pid = 0;
  EXPECT_NE(desktop->GetWindowThreadProcessId(w, &pid), 0u);
  EXPECT_EQ(pid, static_cast<U4>(win->pid()));
  WinPlacement placement;
  ASSERT_TRUE(desktop->GetWindowPlacement(w, &placement));
  EXPECT_EQ(placement.showCmd, static_cast<U4>(kSwShowNormal));
  WinRect r;
  ASSERT_TRUE(desktop->GetWindowRect(w, &r));
  EXPECT_EQ(r.left, 30);
  EXPECT_EQ(r.top, 40);
  EXPECT_EQ(r.right, 230);
  EXPECT_EQ(r.bottom, 140);
  found_child = 0;
  desktop->EnumChildWindows(w, FindInner, reinterpret_cast<std::intptr_t>(desktop.get()));
  EXPECT_NE(found_child, 0u);
  EXPECT_EQ(desktop->FindWindowA(nullptr, "Inner \xc3\xa4"), 0u); // not a top-level window
  EXPECT_FALSE(ErrSet) << Message();
}

TEST_F(X11Backend, WindowsAndDisplaysThatGoAwayGiveErrors) {
  Window w = XCreateSimpleWindow(x->dpy(), DefaultRootWindow(x->dpy()), 0, 0, 50, 50, 0, 0, 0);
  XStoreName(x->dpy(), w, "Short Lived");
  XSync(x->dpy(), False);
  EXPECT_EQ(desktop->FindWindowA(nullptr, "short lived"), w);
  XDestroyWindow(x->dpy(), w);
  XSync(x->dpy(), False);

  char text[64];
  EXPECT_EQ(desktop->GetWindowTextA(w, text, sizeof text), 0);
  EXPECT_FALSE(desktop->IsWindow(w));
  EXPECT_FALSE(ErrSet); // a gone window is only absent to the questions
  WinRect rect;
  EXPECT_FALSE(desktop->GetWindowRect(w, &rect));
  EXPECT_EQ(Message().rfind("GetWindowRect (error #3: BadWindow", 0), 0u) << Message();
  ClearErr();
  EXPECT_FALSE(desktop->SetWindowPos(w, kHwndTopmost, 0, 0, 0, 0, kSwpNoMove | kSwpNoSize));
  EXPECT_EQ(Message().rfind("SetWindowPos (error #3: BadWindow", 0), 0u) << Message();
  ClearErr();

  x->StopServer();
  EXPECT_EQ(desktop->FindWindowA(nullptr, "anything"), 0u);
  EXPECT_NE(Message().find("was lost"), std::string::npos) << "[" << Message() << "]";
  ClearErr();
  desktop->keybd_event('A', 0, 0, 0);
  EXPECT_TRUE(ErrSet);
}

} // namespace
