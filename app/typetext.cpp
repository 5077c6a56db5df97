#include "app/typetext.h"

#include "app/inject.h"
#include "app/winlookup.h"
#include "errlog/errstack.h"

#include <cstring>

namespace {
bool NeedsShift(unsigned char c) {
  return c && std::strchr("_+:*?", c);
}
} // namespace

TypedText::TypedText(HWND_T target) : target_(target) {
  Desktop& d = TheDesktop();
  d.BeginText(target);
  capsOn_ = capsAtStart_ = d.GetKeyState(kVkCapital) != 0;
  shiftDown_ = d.GetKeyState(kVkShift) != 0;
}

TypedText::~TypedText() {
  // The last chunk is checked too; after a failure the check only decides whether what is
  // still pending may go out.
  if (ErrSet) {
    PushErr();
    TheDesktop().TextTargetFocused(target_);
    PopErr(true);
  } else {
    TargetHolds();
  }
  RestoreCapsLock();
  TheDesktop().EndText();
}

void TypedText::NextChar() {
  if (ErrSet || ++charsInChunk_ <= kTextChunkChars) return;
  charsInChunk_ = 1;
  TargetHolds();
}

bool TypedText::TargetHolds() {
  if (TheDesktop().TextTargetFocused(target_)) return true;
  ReportFocusLost(target_);
  return false;
}

void TypedText::Press(U1 vk) {
  NextChar();
  Tapster(vk, kUdPress | kUdRelease, target_);
}

void TypedText::Type(unsigned char c, U1 vk, const char* field) {
  NextChar();
  if (ErrSet) return;
  bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z';
  bool capsWanted = upper ? true : lower ? false : capsOn_;
  bool shiftWanted = NeedsShift(c);
  if (TheDesktop().KeyTypes(vk, shiftWanted || shiftDown_, capsWanted, c)) {
    TypeUsKeys(vk, capsWanted, shiftWanted);
    return;
  }
  if (!TypeLayoutKey(c) && !ErrSet) SeMErrMult("Bad key name \"", field, "\"", nullptr);
}

void TypedText::TypeUsKeys(U1 vk, bool capsWanted, bool shiftWanted) {
  if (capsWanted != capsOn_) {
    Tapster(kVkCapital, kUdPress | kUdRelease, target_);
    // A failed activation sent nothing.
    if (!ErrSet) capsOn_ = capsWanted;
  }
  if (shiftWanted) Tapster(kVkShift, kUdPress, target_);
  shiftDown_ = shiftDown_ || shiftWanted;
  Tapster(vk, kUdPress | kUdRelease, target_);
  if (shiftDown_) ReleaseShift();
  shiftDown_ = false;
}

void TypedText::SendUnchecked(U1 vk, U1 ud) {
  // The target may be gone, so the key goes to the focus; the first failure stays the one
  // reported.
  PushErr();
  Tapster(vk, ud, 0);
  PopErr(true);
}

void TypedText::ReleaseShift() {
  if (!ErrSet) {
    Tapster(kVkShift, kUdRelease, target_);
    if (!ErrSet) return;
  }
  SendUnchecked(kVkShift, kUdRelease);
}

void TypedText::RestoreCapsLock() {
  if (capsOn_ == capsAtStart_) return;
  // The lock is the keyboard's, not the window's: where the key lands does not matter, and
  // a target that failed must not keep it from going back.
  SendUnchecked(kVkCapital, kUdPress | kUdRelease);
  capsOn_ = capsAtStart_;
}

bool TypedText::TypeLayoutKey(unsigned char c) {
  // A Shift held from before would change the layout's key; the US keys drop it too.
  if (shiftDown_) ReleaseShift();
  shiftDown_ = false;
  if (target_) ActivateWindow(target_, true);
  if (ErrSet) return true;
  Desktop& d = TheDesktop();
  LayoutKey key;
  if (!d.LayoutKeyFor(c, capsOn_, &key)) return d.TypeUnicodeChar(c);
  for (int i = 0; i < key.modifierCount; ++i)
    d.keybd_event(key.modifiers[i].vk, key.modifiers[i].scan, 0, 0);
  d.keybd_event(key.key.vk, key.key.scan, 0, 0);
  d.keybd_event(key.key.vk, key.key.scan, kKeyEventfKeyUp, 0);
  for (int i = key.modifierCount; i-- > 0;)
    d.keybd_event(key.modifiers[i].vk, key.modifiers[i].scan, kKeyEventfKeyUp, 0);
  return true;
}
