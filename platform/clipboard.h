// The system clipboard as text.
#pragma once
#include "base/types.h"

#include <string>

// On failure both return false and name the failing step in *why (a call name with the
// platform's last error set, or a sentence when the system offers no clipboard).
bool PlatformClipboardGet(std::string* text, const char** why);
bool PlatformClipboardSet(const char* text, U4 len, const char** why);
