// Typed text on the keyboard layout of the target window's thread: the Win32 desktop
// derives from this to answer the layout questions of the Desktop interface.
#pragma once
#include "platform/desktop.h"

class Win32LayoutDesktop : public Desktop {
public:
  void BeginText(HWND_T window) override;
  bool KeyTypes(U1 vk, bool shift, bool capsLock, U4 ch) override;
  bool LayoutKeyFor(U4 ch, bool capsLock, LayoutKey* key) override;
  bool TypeUnicodeChar(U4 ch) override;
  bool EndText() override;

private:
  void* layout_ = nullptr;   // HKL of the text's window, null for the calling thread's
  unsigned long joined_ = 0; // the thread whose input state ours shares during a text
};
