// Names of the platform's reparse tags, for messages and log lines.
#pragma once
#include "base/types.h"

// "IO_REPARSE_TAG_SYMLINK" ...; a tag outside the published list as upper-case hexadecimal
// in a process-wide buffer, valid until the next such call.
const char* ReparseTagName(U4 tag);
