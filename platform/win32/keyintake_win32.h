// Keys handed to SendInput reach a window only when its thread takes them from its queue;
// until then a change of the foreground hands them to whatever window has it by then. A
// thread's key state changes as it takes key messages, and a thread attached to it with
// AttachThreadInput shares that state: the last key of a batch tells when all of it is in.
#pragma once
#include <windows.h>

#include <cstddef>

// What the key state shows once the receiving thread has taken a batch.
struct KeyIntakeMark {
  UINT vk = 0; // 0: no key of the batch can tell
  bool down = false;
  int toggle = -1; // the toggle bit then, -1 when the batch does not press vk
};

// At most this many presses are in flight, so at most as many keys can follow the
// foreground to another window.
inline constexpr std::size_t kKeyBatchPresses = 16;

// The end of the batch that starts at begin: no key pressed twice in it (the key state
// could not tell the two presses apart) and at most kKeyBatchPresses presses.
std::size_t KeyBatchEnd(const INPUT* inputs, std::size_t count, std::size_t begin);

// Read before the batch [begin, end) goes out.
KeyIntakeMark KeyIntakeMarkOf(const INPUT* inputs, std::size_t begin, std::size_t end);

// The same for the buttons of one mouse record (its dwFlags): the last button event it
// makes; read before the record goes out.
KeyIntakeMark MouseIntakeMarkOf(DWORD mouseFlags);

// Far longer than a window needs to take a batch.
inline constexpr DWORD kKeyIntakeWaitMsecs = 500;

// kUnseen: the window answers messages but its key state has not followed (Wine at times);
// kStuck: it answers nothing and takes no keys.
enum class KeyIntake { kTaken, kForegroundLost, kUnseen, kStuck };
// Waits until the shared key state shows mark, while top (if any) keeps the foreground,
// for at most timeoutMsecs.
KeyIntake WaitKeyIntake(const KeyIntakeMark& mark, HWND top, DWORD timeoutMsecs);
