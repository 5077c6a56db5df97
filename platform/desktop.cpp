#include "platform/desktop.h"

namespace {
Desktop* installedDesktop = nullptr;
}

Desktop& TheDesktop() { return installedDesktop ? *installedDesktop : PlatformDesktop(); }

void SetDesktop(Desktop* desktop) { installedDesktop = desktop; }
