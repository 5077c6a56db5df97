#include "app/heldinput.h"

#include "errlog/errstack.h"
#include "platform/desktop.h"

#include <algorithm>
#include <vector>

namespace {
constexpr int kMapVkToVsc = 0;

// Keys in the order they went down.
std::vector<U1>& HeldKeys() {
  static std::vector<U1> keys;
  return keys;
}

U4 heldButtonDownFlags = 0; // kMouseEventf*Down bits of the buttons held

struct ButtonFlags {
  U4 down;
  U4 up;
};
constexpr ButtonFlags kButtons[] = {{kMouseEventfLeftDown, kMouseEventfLeftUp},
                                    {kMouseEventfRightDown, kMouseEventfRightUp},
                                    {kMouseEventfMiddleDown, kMouseEventfMiddleUp}};
} // namespace

void NoteKeyEvent(U1 vk, U1 ud) {
  if (vk == 0) return;
  auto& keys = HeldKeys();
  auto held = std::find(keys.begin(), keys.end(), vk);
  if ((ud & 1) && held == keys.end()) {
    keys.push_back(vk);
    held = keys.end() - 1;
  }
  if ((ud & 2) && held != keys.end()) keys.erase(held);
}

void NoteMouseEvent(U4 flags) {
  // A record presses before it releases, so one record can carry a whole click.
  for (const ButtonFlags& b : kButtons) {
    if (flags & b.down) heldButtonDownFlags |= b.down;
    if (flags & b.up) heldButtonDownFlags &= ~b.down;
  }
}

int HeldInputCount() {
  int n = static_cast<int>(HeldKeys().size());
  for (const ButtonFlags& b : kButtons)
    n += (heldButtonDownFlags & b.down) ? 1 : 0;
  return n;
}

void ReleaseHeldInput() {
  PushErr();
  Desktop& d = TheDesktop();
  auto& keys = HeldKeys();
  while (!keys.empty()) {
    U1 vk = keys.back();
    keys.pop_back();
    U1 scan = static_cast<U1>(d.MapVirtualKeyA(vk, kMapVkToVsc) & 0xFF);
    d.keybd_event(vk, scan, kKeyEventfKeyUp, 0);
  }
  if (heldButtonDownFlags) {
    // No move flag: the buttons come up where the pointer is now.
    MouseInputRecord release;
    for (const ButtonFlags& b : kButtons)
      if (heldButtonDownFlags & b.down) release.dwFlags |= b.up;
    heldButtonDownFlags = 0;
    d.SendInput(1, &release, sizeof release);
  }
  d.ReturnLentKeys();
  // Nothing is down any more: another run may have its turn.
  d.ReleaseInputLock();
  PopErr(true);
}
