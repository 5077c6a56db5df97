// The Win32 desktop against windows of this test's own thread, under Wine.
#include "errlog/errstack.h"
#include "platform/desktop.h"
#include "platform/win32/keyintake_win32.h"
#include "platform/win32/keystateshare_win32.h"

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

TEST_F(Windows, TextWaitsForTheForegroundCheckBetweenChunks) {
  HWND other =
      CreateWindowExA(0, "DesktopTestClass", "Desktop Test Other", WS_OVERLAPPEDWINDOW, 400, 60,
                      200, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ShowWindow(other, SW_SHOWNORMAL);
  auto drain = [&](std::size_t want) {
    for (int i = 0; i < 100 || (seenKeys.size() < want && i < 500); ++i) {
      d.ProcessMessages();
      Sleep(2);
    }
  };
  SetForegroundWindow(top);
  ASSERT_NE(d.SetFocus(H(top)), 0u);
  seenKeys.clear();
  d.BeginText(H(top));
  d.keybd_event('Q', 0x10, 0, 0);
  d.keybd_event('Q', 0x10, kKeyEventfKeyUp, 0);
  drain(0);
  EXPECT_TRUE(seenKeys.empty()) << "a chunk waits for its check";
  EXPECT_TRUE(d.TextTargetFocused(H(top)));
  drain(1);
  EXPECT_EQ(seenKeys, std::vector<UINT>{'Q'});

  // Another window in front: the waiting chunk is dropped, not sent there.
  d.keybd_event('W', 0x11, 0, 0);
  d.keybd_event('W', 0x11, kKeyEventfKeyUp, 0);
  SetForegroundWindow(other);
  EXPECT_FALSE(d.TextTargetFocused(H(top)));
  EXPECT_TRUE(d.EndText());
  drain(2);
  EXPECT_EQ(seenKeys, std::vector<UINT>{'Q'});
  DestroyWindow(other);
}

namespace {
const char kLockName[] = "Local\\TapsterInputLock";

// One try at the lock from a thread of its own: what the wait gave.
DWORD WINAPI TryLock(LPVOID result) {
  HANDLE m = CreateMutexA(nullptr, FALSE, kLockName);
  DWORD got = WaitForSingleObject(m, 0);
  if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) ReleaseMutex(m);
  CloseHandle(m);
  *static_cast<DWORD*>(result) = got;
  return 0;
}

// Takes the lock and ends without giving it back.
DWORD WINAPI AbandonLock(LPVOID) {
  HANDLE m = CreateMutexA(nullptr, FALSE, kLockName);
  WaitForSingleObject(m, INFINITE);
  return 0;
}

// Holds the lock until the event named by the argument is set.
DWORD WINAPI HoldLock(LPVOID release) {
  HANDLE m = CreateMutexA(nullptr, FALSE, kLockName);
  WaitForSingleObject(m, INFINITE);
  WaitForSingleObject(static_cast<HANDLE>(release), INFINITE);
  ReleaseMutex(m);
  CloseHandle(m);
  return 0;
}

HANDLE StartThread(LPTHREAD_START_ROUTINE body, LPVOID arg) {
  return CreateThread(nullptr, 0, body, arg, 0, nullptr);
}
void Join(HANDLE t) {
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
}
} // namespace

TEST(InputLock, OneHolderPerSessionAndAnAbandonedLockIsFree) {
  Desktop& d = PlatformDesktop();
  ASSERT_TRUE(d.AcquireInputLock(0));
  EXPECT_TRUE(d.AcquireInputLock(0)) << "held already";
  DWORD seen = 0;
  Join(StartThread(TryLock, &seen));
  EXPECT_EQ(seen, DWORD(WAIT_TIMEOUT));
  d.ReleaseInputLock();
  Join(StartThread(TryLock, &seen));
  EXPECT_EQ(seen, DWORD(WAIT_OBJECT_0));

  // A holder that ended without giving it back leaves it free.
  Join(StartThread(AbandonLock, nullptr));
  EXPECT_TRUE(d.AcquireInputLock(100));
  d.ReleaseInputLock();

  // One that keeps it: the timeout's error.
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE holder = StartThread(HoldLock, release);
  for (int i = 0; i < 1000 && seen != WAIT_TIMEOUT; ++i) {
    Join(StartThread(TryLock, &seen));
    Sleep(5);
  }
  ASSERT_EQ(seen, DWORD(WAIT_TIMEOUT));
  EXPECT_FALSE(d.AcquireInputLock(100));
  char message[kErrMsgSize];
  EXPECT_STREQ(ErrMessage(false, false, message, sizeof message),
               "AcquireInputLock: another run is sending input to this desktop; gave up after "
               "100 ms");
  SetEvent(release);
  Join(holder);
  CloseHandle(release);
}

TEST(KeyBatch, EndsBeforeARepeatedPressOrTooManyAndMarksItsLastKey) {
  auto key = [](WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
  };
  // "aba": the second press of A could not be told from the first.
  std::vector<INPUT> aba{key('A', 0), key('A', 1), key('B', 0), key('B', 1), key('A', 0)};
  EXPECT_EQ(KeyBatchEnd(aba.data(), aba.size(), 0), 4u);
  EXPECT_EQ(KeyBatchEnd(aba.data(), aba.size(), 4), 5u);
  std::vector<INPUT> many;
  for (WORD vk = 'A'; vk <= 'T'; ++vk) {
    many.push_back(key(vk, 0));
    many.push_back(key(vk, 1));
  }
  EXPECT_EQ(KeyBatchEnd(many.data(), many.size(), 0), 2 * kKeyBatchPresses);

  // A lock key marks by its toggle as well.
  std::vector<INPUT> tail{key('X', 0), key('X', 1), key(VK_CAPITAL, 0), key(VK_CAPITAL, 1)};
  KeyIntakeMark mark = KeyIntakeMarkOf(tail.data(), 0, tail.size());
  EXPECT_EQ(mark.vk, UINT(VK_CAPITAL));
  EXPECT_FALSE(mark.down);
  EXPECT_EQ(mark.toggle, (GetKeyState(VK_CAPITAL) & 1) ^ 1);
  // A release of a key pressed before the batch: only its going up tells.
  mark = KeyIntakeMarkOf(tail.data(), 1, 2);
  EXPECT_EQ(mark.vk, UINT('X'));
  EXPECT_EQ(mark.toggle, -1);
}

namespace {
// A thread with a message queue and no windows, until it is posted WM_QUIT.
DWORD WINAPI QueueOnly(LPVOID ready) {
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  SetEvent(ready);
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
  }
  return 0;
}
void SetCapsLockToggle(bool on) {
  BYTE state[256];
  GetKeyboardState(state);
  state[VK_CAPITAL] = on ? 1 : 0;
  SetKeyboardState(state);
}
} // namespace

TEST(KeyStateShare, AttachingKeepsTheKeyStateAndADetachedThreadsStaleCopyIsNotUsed) {
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD other = 0;
  HANDLE thread = CreateThread(nullptr, 0, QueueOnly, ready, 0, &other);
  ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);

  SetCapsLockToggle(true);
  ASSERT_TRUE(AttachInputKeepingKeys(other));
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 1) << "the attachment reset CapsLock";
  DetachInputKeepingKeys(other);
  SetCapsLockToggle(false); // what a detached thread may be left with
  ASSERT_TRUE(AttachInputKeepingKeys(other));
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 1) << "the shared state did not carry over";
  DetachInputKeepingKeys(other);
  SetCapsLockToggle(false);

  PostThreadMessageA(other, WM_QUIT, 0, 0);
  Join(thread);
  CloseHandle(ready);
}

namespace {
// A window of a thread of its own at 100,100; sent WM_APP, it answers with the clicks it
// has taken. Sent messages come before queued input, so a click still queued is not counted.
LRESULT CALLBACK CountClicks(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  static LRESULT taken = 0;
  if (msg == WM_LBUTTONUP) ++taken;
  if (msg == WM_APP) return taken;
  return DefWindowProcA(w, msg, wp, lp);
}
DWORD WINAPI ClickWindow(LPVOID shown) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = CountClicks;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "DesktopTestClicks";
  RegisterClassA(&wc);
  HWND w = CreateWindowExA(WS_EX_TOPMOST, "DesktopTestClicks", "Desktop Test Clicks", WS_POPUP, 100,
                           100, 200, 150, nullptr, nullptr, wc.hInstance, nullptr);
  ShowWindow(w, SW_SHOWNORMAL);
  SetEvent(shown);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0)
    DispatchMessageA(&msg);
  DestroyWindow(w);
  return 0;
}
} // namespace

TEST(MouseIntake, AClickReturnsOnceTheWindowsThreadTookIt) {
  KeyIntakeMark mark = MouseIntakeMarkOf(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP);
  EXPECT_EQ(mark.vk, UINT(GetSystemMetrics(SM_SWAPBUTTON) ? VK_RBUTTON : VK_LBUTTON));
  EXPECT_FALSE(mark.down);
  EXPECT_EQ(mark.toggle, (GetKeyState(int(mark.vk)) & 1) ^ 1) << "a press in the record toggles";
  EXPECT_EQ(MouseIntakeMarkOf(MOUSEEVENTF_LEFTUP | MOUSEEVENTF_MIDDLEDOWN).vk, UINT(VK_MBUTTON));
  EXPECT_EQ(MouseIntakeMarkOf(MOUSEEVENTF_MOVE).vk, 0u);

  HANDLE shown = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD thread = 0;
  HANDLE t = CreateThread(nullptr, 0, ClickWindow, shown, 0, &thread);
  ASSERT_EQ(WaitForSingleObject(shown, 10000), WAIT_OBJECT_0);
  CloseHandle(shown);
  Desktop& d = PlatformDesktop();
  int cx = d.GetSystemMetrics(kSmCxScreen), cy = d.GetSystemMetrics(kSmCyScreen);
  MouseInputRecord click;
  click.dx = 150 * 65535 / (cx - 1); // the pixel 150,150 inside the window
  click.dy = 150 * 65535 / (cy - 1);
  click.dwFlags =
      kMouseEventfMove | kMouseEventfAbsolute | kMouseEventfLeftDown | kMouseEventfLeftUp;
  for (LONG want = 1; want <= 3; ++want) {
    ASSERT_EQ(d.SendInput(1, &click, sizeof click), 1u);
    DWORD_PTR taken = 0;
    ASSERT_TRUE(SendMessageTimeoutA(FindWindowA("DesktopTestClicks", nullptr), WM_APP, 0, 0,
                                    SMTO_BLOCK, 10000, &taken));
    EXPECT_EQ(LONG(taken), want) << "returned before the window's thread took the click";
  }
  PostThreadMessageA(thread, WM_QUIT, 0, 0);
  Join(t);
}

namespace {
// A foreground window whose thread takes no message until released is set.
struct Frozen {
  HANDLE shown, released;
  HWND window;
};
DWORD WINAPI FrozenWindow(LPVOID arg) {
  auto* f = static_cast<Frozen*>(arg);
  f->window = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "Desktop Test Frozen", WS_POPUP, 100, 100,
                              200, 150, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ShowWindow(f->window, SW_SHOWNORMAL);
  SetForegroundWindow(f->window);
  SetEvent(f->shown);
  WaitForSingleObject(f->released, 60000);
  DestroyWindow(f->window);
  return 0;
}
} // namespace

TEST(KeyIntakeWait, TellsAWindowThatAnswersFromOneThatIsStuckOrWentAway) {
  KeyIntakeMark never;
  never.vk = 'Q'; // down, and nothing sends it
  never.down = true;
  EXPECT_EQ(WaitKeyIntake(never, nullptr, 50), KeyIntake::kUnseen) << "nothing to ask";
  EXPECT_EQ(WaitKeyIntake(never, reinterpret_cast<HWND>(0xDEAD0), 50), KeyIntake::kForegroundLost);

  Frozen f{CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr),
           nullptr};
  HANDLE t = CreateThread(nullptr, 0, FrozenWindow, &f, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(f.shown, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(GetForegroundWindow(), f.window);
  EXPECT_EQ(WaitKeyIntake(never, f.window, 50), KeyIntake::kStuck) << "a stuck window answered";
  SetEvent(f.released);
  Join(t);
  CloseHandle(f.shown);
  CloseHandle(f.released);
}
