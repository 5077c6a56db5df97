#include "app/helptext.h"

// Set by the build from the project's version; only this file is rebuilt when it changes.
const char* const tapster_version = TAPSTER_VERSION;
