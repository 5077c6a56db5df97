#include "console/kb.h"

bool kb_open = false;

// The keyboard's own state is restored by the console facility when it is opened;
// with the keyboard closed there is nothing to undo.
void CloseKB() {
  if (!kb_open) return;
  kb_open = false;
}
