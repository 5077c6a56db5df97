#include "platform/win32/keystateshare_win32.h"

#include <cstring>

namespace {
// The shared state just before our thread last detached; until then our own state is
// current (the system keeps a thread without input of its own in line).
BYTE last_shared[256];
bool last_shared_known = false;
int attached_count = 0;
} // namespace

bool AttachInputKeepingKeys(DWORD other) {
  // Only a thread with a message queue can be attached; peeking creates ours.
  MSG msg;
  ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  BYTE state[256];
  bool known = attached_count == 0 && last_shared_known;
  if (known)
    std::memcpy(state, last_shared, sizeof state);
  else
    known = ::GetKeyboardState(state) != 0;
  if (!::AttachThreadInput(::GetCurrentThreadId(), other, TRUE)) return false;
  ++attached_count;
  if (known) ::SetKeyboardState(state);
  return true;
}

void DetachInputKeepingKeys(DWORD other) {
  last_shared_known = ::GetKeyboardState(last_shared) != 0;
  if (::AttachThreadInput(::GetCurrentThreadId(), other, FALSE) && attached_count > 0)
    --attached_count;
}
