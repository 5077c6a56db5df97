#include "platform/win32/inputrelease_win32.h"

#include "platform/inputrelease.h"
#include "platform/signalsnapshot.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

constexpr DWORD kButtonDowns =
    MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_RIGHTDOWN | MOUSEEVENTF_MIDDLEDOWN;

struct Releases {
  UINT count = 0;
  INPUT inputs[257];
};

struct HeldKey {
  U1 vk;
  U1 scan;
};

std::vector<HeldKey>& HeldKeys() {
  static std::vector<HeldKey> keys;
  return keys;
}
DWORD held_buttons = 0; // MOUSEEVENTF_*DOWN bits
SignalSnapshot<Releases> releases;

void SendReleases() {
  const Releases& r = releases.Current();
  if (r.count) SendInput(r.count, const_cast<INPUT*>(r.inputs), sizeof(INPUT));
}

void Publish() {
  static bool installed = false;
  if (!installed) PlatformSetInputRelease(SendReleases);
  installed = true;
  Releases& draft = releases.Draft();
  draft.count = 0;
  const auto& keys = HeldKeys();
  // The latest pressed goes up first.
  for (auto k = keys.rbegin(); k != keys.rend() && draft.count < 256; ++k) {
    INPUT& in = draft.inputs[draft.count++];
    in = INPUT{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = k->vk;
    in.ki.wScan = k->scan;
    in.ki.dwFlags = KEYEVENTF_KEYUP;
  }
  if (held_buttons) {
    // Each down flag's release is the next bit up; no move: they come up where the pointer is.
    INPUT& in = draft.inputs[draft.count++];
    in = INPUT{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = held_buttons << 1;
  }
  releases.Publish();
}

} // namespace

void Win32NoteKeyEvent(U1 vk, U1 scan, U4 flags) {
  if (!vk) return;
  auto& keys = HeldKeys();
  auto held = std::find_if(keys.begin(), keys.end(), [&](const HeldKey& k) { return k.vk == vk; });
  if (!(flags & KEYEVENTF_KEYUP)) {
    if (held != keys.end()) return;
    keys.push_back({vk, scan});
  } else {
    if (held == keys.end()) return;
    keys.erase(held);
  }
  Publish();
}

void Win32NoteMouseDowns(U4 flags) {
  if (!(flags & kButtonDowns)) return;
  held_buttons |= flags & kButtonDowns;
  Publish();
}

void Win32NoteMouseUps(U4 flags) {
  const DWORD downs = (flags >> 1) & kButtonDowns;
  if (!(held_buttons & downs)) return;
  held_buttons &= ~downs;
  Publish();
}
