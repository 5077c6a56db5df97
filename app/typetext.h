// Typed text: every character arrives as written on the keyboard layout of its window.
#pragma once
#include "base/types.h"
#include "platform/desktop.h"

// One text typed into target. CapsLock and Shift are read once, when the text begins, and
// followed from then on: only this program changes them while it types.
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

private:
  void TypeUsKeys(U1 vk, bool capsWanted, bool shiftWanted);
  // Releases Shift, without the window check when the target failed.
  void ReleaseShift();
  bool TypeLayoutKey(unsigned char c);

  HWND_T target_;
  bool capsOn_;
  bool shiftDown_;
};
