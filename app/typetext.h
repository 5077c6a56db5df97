// Typed text: every character arrives as written on the keyboard layout of its window.
#pragma once
#include "base/types.h"
#include "platform/desktop.h"

// Characters handed over between two checks that the target still holds the focus: after
// the target closes, no more than these reach another window.
inline constexpr int kTextChunkChars = 16;

// One text typed into target. CapsLock and Shift are read once, when the text begins, and
// followed from then on: only this program changes them while it types. CapsLock goes back
// to its first state when the text ends, however it ends.
class TypedText {
public:
  explicit TypedText(HWND_T target);
  ~TypedText();
  TypedText(const TypedText&) = delete;
  TypedText& operator=(const TypedText&) = delete;

  // Type character c whose key-table code is vk. Letter case goes through CapsLock and
  // "_+:*?" through Shift, as on a US keyboard, wherever that gives c on the layout;
  // otherwise the layout's own keys, or a key that types c on any layout. field names the
  // text in the error when c cannot be typed at all.
  void Type(unsigned char c, U1 vk, const char* field);
  // Press and release key vk (Enter, blank, tab) as one character of the text.
  void Press(U1 vk);

private:
  // A character begins: the first of a new chunk waits for the check of the last one.
  void NextChar();
  // The check: the target still exists and holds the focus, else its error.
  bool TargetHolds();
  void TypeUsKeys(U1 vk, bool capsWanted, bool shiftWanted);
  // Sends a key without the window check, as when the target failed.
  void SendUnchecked(U1 vk, U1 ud);
  // Releases Shift, without the window check when the target failed.
  void ReleaseShift();
  void RestoreCapsLock();
  bool TypeLayoutKey(unsigned char c);

  HWND_T target_;
  bool capsOn_;
  bool capsAtStart_;
  bool shiftDown_;
  int charsInChunk_ = 0;
};
