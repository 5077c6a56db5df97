// The Win32 desktop against windows of this test's own thread, under Wine.
#include "platform/desktop.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<UINT> seenKeys;

LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_KEYDOWN || msg == WM_USER) seenKeys.push_back(msg == WM_USER ? 0 : UINT(wp));
  return DefWindowProcA(w, msg, wp, lp);
}

struct Windows : ::testing::Test {
  HWND top = nullptr, child = nullptr;
  Desktop& d = PlatformDesktop();
  void SetUp() override {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "DesktopTestClass";
    RegisterClassA(&wc);
    top = CreateWindowExA(0, "DesktopTestClass", "Desktop Test Top", WS_OVERLAPPEDWINDOW, 50, 60,
                          300, 200, nullptr, nullptr, wc.hInstance, nullptr);
    child = CreateWindowExA(0, "DesktopTestClass", "Desktop Test Child", WS_CHILD | WS_VISIBLE, 5,
                            5, 50, 50, top, nullptr, wc.hInstance, nullptr);
    ASSERT_TRUE(top && child);
    ShowWindow(top, SW_SHOWNORMAL);
  }
  void TearDown() override { DestroyWindow(top); }
  HWND_T H(HWND w) { return reinterpret_cast<HWND_T>(w); }
};

int CollectAll(HWND_T w, std::intptr_t p) {
  reinterpret_cast<std::vector<HWND_T>*>(p)->push_back(w);
  return 1;
}
int StopAtFirst(HWND_T w, std::intptr_t p) {
  *reinterpret_cast<HWND_T*>(p) = w;
  return 0;
}

} // namespace

TEST_F(Windows, LookupEnumerationAndTexts) {
  EXPECT_EQ(d.FindWindowA("DesktopTestClass", "Desktop Test Top"), H(top));
  EXPECT_EQ(d.FindWindowA(nullptr, "Desktop Test Child"), 0u) << "children are not top-level";

  std::vector<HWND_T> all;
  EXPECT_TRUE(d.EnumWindows(CollectAll, reinterpret_cast<std::intptr_t>(&all)));
  EXPECT_NE(std::find(all.begin(), all.end(), H(top)), all.end());
  HWND_T first = 0;
  EXPECT_TRUE(d.EnumWindows(StopAtFirst, reinterpret_cast<std::intptr_t>(&first)))
      << "a callback that stops the walk is no failure";
  EXPECT_NE(first, 0u);
  std::vector<HWND_T> kids;
  EXPECT_TRUE(d.EnumChildWindows(H(top), CollectAll, reinterpret_cast<std::intptr_t>(&kids)));
  EXPECT_EQ(kids, std::vector<HWND_T>{H(child)});
  EXPECT_FALSE(d.EnumChildWindows(0xDEAD0, CollectAll, reinterpret_cast<std::intptr_t>(&kids)));

  char text[8];
  EXPECT_EQ(d.GetWindowTextA(H(top), text, 5), 4);
  EXPECT_STREQ(text, "Desk");
  EXPECT_EQ(d.GetClassNameA(H(child), text, sizeof text), 7);
  EXPECT_STREQ(text, "Desktop");
  EXPECT_EQ(d.GetWindowTextA(H(top), nullptr, 5), 0);
  EXPECT_EQ(d.GetWindowTextA(0xDEAD0, text, sizeof text), 0);
  EXPECT_STREQ(text, "");

  U4 pid = 0;
  EXPECT_EQ(d.GetWindowThreadProcessId(H(child), &pid), GetCurrentThreadId());
  EXPECT_EQ(pid, GetCurrentProcessId());
  EXPECT_EQ(d.GetWindowThreadProcessId(0xDEAD0, &pid), 0u);
  EXPECT_EQ(pid, 0u);
  EXPECT_TRUE(d.IsWindow(H(child)));
  DestroyWindow(child);
  EXPECT_FALSE(d.IsWindow(H(child)));
}

TEST_F(Windows, PlacementPositionAndFocus) {
  WinPlacement p;
  ASSERT_TRUE(d.GetWindowPlacement(H(top), &p));
  EXPECT_EQ(p.showCmd, U4(SW_SHOWNORMAL));
  EXPECT_TRUE(d.ShowWindow(H(top), kSwShowMinimized));
  ASSERT_TRUE(d.GetWindowPlacement(H(top), &p));
  EXPECT_EQ(p.showCmd, U4(SW_SHOWMINIMIZED));
  EXPECT_TRUE(d.ShowWindow(H(top), kSwRestore));
  EXPECT_FALSE(d.ShowWindow(0xDEAD0, kSwRestore));

  EXPECT_TRUE(d.SetWindowPos(H(top), 0, 70, 80, 0, 0, kSwpNoSize));
  WinRect r;
  ASSERT_TRUE(d.GetWindowRect(H(top), &r));
  EXPECT_EQ(r.left, 70);
  EXPECT_EQ(r.top, 80);
  EXPECT_EQ(r.right - r.left, 300);
  EXPECT_FALSE(d.GetWindowRect(0xDEAD0, &r));

  EXPECT_NE(d.SetFocus(H(child)), 0u);
  EXPECT_EQ(d.GetFocus(), H(child));
  EXPECT_EQ(d.SetFocus(0xDEAD0), 0u);
}

TEST_F(Windows, InputReachesTheQueue) {
  EXPECT_EQ(d.MapVirtualKeyA('A', 0), 0x1Eu);
  int cx = d.GetSystemMetrics(kSmCxScreen), cy = d.GetSystemMetrics(kSmCyScreen);
  ASSERT_GT(cx, 1);
  MouseInputRecord move;
  move.dx = 200 * 65535 / (cx - 1) + 1; // rounding up keeps the truncated pixel on 200
  move.dy = 100 * 65535 / (cy - 1) + 1;
  move.dwFlags = kMouseEventfMove | kMouseEventfAbsolute;
  EXPECT_EQ(d.SendInput(1, &move, sizeof move), 1u);
  WinPoint at;
  ASSERT_TRUE(d.GetCursorPos(&at));
  EXPECT_EQ(at.x, 200);
  EXPECT_EQ(at.y, 100);
  SetLastError(0);
  EXPECT_EQ(d.SendInput(1, &move, 3), 0u);
  EXPECT_EQ(GetLastError(), U4(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(d.SendInput(0, &move, sizeof move), 0u);

  seenKeys.clear();
  PostMessageA(top, WM_USER, 0, 0);
  EXPECT_GE(d.ProcessMessages(), 1);
  EXPECT_EQ(seenKeys, std::vector<UINT>{0});

  // keybd_event goes through the system's input queue back to our focused window.
  SetForegroundWindow(top);
  ASSERT_NE(d.SetFocus(H(top)), 0u);
  seenKeys.clear();
  d.keybd_event('Q', 0x10, 0, 0);
  d.keybd_event('Q', 0x10, kKeyEventfKeyUp, 0);
  for (int i = 0; i < 500 && seenKeys.empty(); ++i) {
    d.ProcessMessages();
    Sleep(10);
  }
  EXPECT_EQ(seenKeys, std::vector<UINT>{'Q'});
}
