// Typed text on the keyboard layout of the target window's thread, handed over in chunks
// while the target keeps the foreground: the Win32 desktop derives from this to answer the
// text questions of the Desktop interface.
#pragma once
#include "platform/desktop.h"

#include <cstddef>
#include <vector>

struct KeyIntakeMark;

class Win32LayoutDesktop : public Desktop {
public:
  void BeginText(HWND_T window) override;
  bool KeyTypes(U1 vk, bool shift, bool capsLock, U4 ch) override;
  bool LayoutKeyFor(U4 ch, bool capsLock, LayoutKey* key) override;
  bool TypeUnicodeChar(U4 ch) override;
  bool EndText() override;
  bool TextTargetFocused(HWND_T window) override;

protected:
  bool InText() const { return inText_; }
  // False once the shared key state failed to follow (Wine at times): nothing more is
  // awaited until the next text begins.
  bool IntakeSeen() const { return intakeSeen_; }
  // Waits until the key state shared with the receiving thread shows mark; false only when
  // top lost the foreground or hung first.
  bool AwaitIntake(const KeyIntakeMark& mark, void* top);
  // A key of the text: it waits for the next check of the target.
  void QueueKey(U2 vk, U2 scan, U4 flags, std::uintptr_t extraInfo);
  // Detaching loses the toggles of keys still on their way: the run stays attached to the
  // thread its keys go to until they go elsewhere, by which time all are taken. True while
  // thread's key state is shared.
  bool ShareKeyState(unsigned long thread);
  void StopSharingKeyState();

private:
  struct QueuedKey {
    U2 vk, scan;
    U4 flags;
    std::uintptr_t extraInfo;
  };
  // Hands the queue over in batches, each taken by the target's thread before the next
  // goes; false when the target lost the foreground or hung before it took them.
  bool SendQueued();
  void SendBatch(struct tagINPUT* inputs, std::size_t begin, std::size_t end);

  std::vector<QueuedKey> queued_;
  bool inText_ = false;
  bool intakeSeen_ = true;   // the target's key state has followed our batches so far
  void* textTop_ = nullptr;  // the HWND of the top-level window the text goes to
  void* layout_ = nullptr;   // HKL of the text's window, null for the calling thread's
  unsigned long joined_ = 0; // the thread whose input state ours shares
};
