#include "platform/win32/keyintake_win32.h"

namespace {
UINT VirtualKeyOf(const INPUT& in) {
  return (in.ki.dwFlags & KEYEVENTF_UNICODE) ? VK_PACKET : in.ki.wVk;
}
bool IsPress(const INPUT& in) {
  return !(in.ki.dwFlags & KEYEVENTF_KEYUP);
}
bool Shows(const KeyIntakeMark& mark) {
  SHORT state = ::GetKeyState(static_cast<int>(mark.vk));
  bool down = (state & 0x8000) != 0;
  return down == mark.down && (mark.toggle < 0 || (state & 1) == mark.toggle);
}
// A window whose thread hangs (in the middle of closing, for one) would take the keys
// that wait for it whenever it wakes, or hand them to the next window.
bool Answers(HWND top) {
  DWORD_PTR result;
  return !top || ::SendMessageTimeoutA(top, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                       kKeyIntakeWaitMsecs, &result);
}
} // namespace

std::size_t KeyBatchEnd(const INPUT* inputs, std::size_t count, std::size_t begin) {
  bool pressed[256] = {};
  std::size_t presses = 0;
  std::size_t i = begin;
  for (; i < count; ++i) {
    if (!IsPress(inputs[i])) continue;
    UINT vk = VirtualKeyOf(inputs[i]) & 0xFF;
    if (pressed[vk] || presses == kKeyBatchPresses) break;
    pressed[vk] = true;
    ++presses;
  }
  return i;
}

KeyIntakeMark KeyIntakeMarkOf(const INPUT* inputs, std::size_t begin, std::size_t end) {
  KeyIntakeMark mark;
  std::size_t last = end;
  while (last > begin && !VirtualKeyOf(inputs[last - 1]))
    --last;
  if (last == begin) return mark;
  const INPUT& in = inputs[last - 1];
  mark.vk = VirtualKeyOf(in);
  mark.down = IsPress(in);
  for (std::size_t i = begin; i < last; ++i) {
    if (IsPress(inputs[i]) && VirtualKeyOf(inputs[i]) == mark.vk) {
      mark.toggle = (::GetKeyState(static_cast<int>(mark.vk)) & 1) ^ 1;
      break;
    }
  }
  return mark;
}

KeyIntakeMark MouseIntakeMarkOf(DWORD mouseFlags) {
  // A record's button events come in this order, each a press and then a release.
  static const struct {
    DWORD down, up;
    UINT vk;
  } kButtons[] = {{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, VK_LBUTTON},
                  {MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, VK_RBUTTON},
                  {MOUSEEVENTF_MIDDLEDOWN, MOUSEEVENTF_MIDDLEUP, VK_MBUTTON}};
  KeyIntakeMark mark;
  for (const auto& b : kButtons) {
    if (!(mouseFlags & (b.down | b.up))) continue;
    mark.vk = b.vk;
    // Swapped buttons: the key state names the button by what it does.
    if (b.vk != VK_MBUTTON && ::GetSystemMetrics(SM_SWAPBUTTON))
      mark.vk = b.vk == VK_LBUTTON ? VK_RBUTTON : VK_LBUTTON;
    mark.down = !(mouseFlags & b.up);
    mark.toggle = (mouseFlags & b.down) ? (::GetKeyState(static_cast<int>(mark.vk)) & 1) ^ 1 : -1;
  }
  return mark;
}

KeyIntake WaitKeyIntake(const KeyIntakeMark& mark, HWND top, DWORD timeoutMsecs) {
  if (!mark.vk) return KeyIntake::kTaken;
  DWORD start = ::GetTickCount();
  for (unsigned polls = 0;; ++polls) {
    if (Shows(mark)) return KeyIntake::kTaken;
    if (top && (!::IsWindow(top) || ::GetForegroundWindow() != top))
      return KeyIntake::kForegroundLost;
    if (::GetTickCount() - start > timeoutMsecs)
      return Answers(top) ? KeyIntake::kUnseen : KeyIntake::kStuck;
    // A batch takes the other thread a few milliseconds: yield at first, then sleep.
    if (polls < 64)
      ::SwitchToThread();
    else
      ::Sleep(1);
  }
}
