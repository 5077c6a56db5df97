// The console keyboard. Nothing in this program opens it; shutdown always closes it.
#pragma once
#include "runtime/types.h"

extern bool kb_open; // OpenKB has switched the console's input mode

// Restores the console input mode and the break handler when the keyboard is open.
void CloseKB();
