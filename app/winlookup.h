// Finding windows by title or class pattern and bringing them to the front.
#pragma once
#include "base/types.h"
#include "platform/desktop.h"

#include <cstddef>

// True only while ActivateWindow runs its own focus click through SimMouse.
extern bool activation_guard;
// The click that gives a window of another thread the focus; the input injection installs
// it when linked in (null: no click).
extern void (*activation_click)(HWND_T window);

// Screen size from the system metrics (0 until LoadSystemMetrics has run).
extern I4 sm_cxscreen;
extern I4 sm_cyscreen;

// The window whose title matches title (or, for "Class:pattern", whose class matches) and
// whose class matches className when given; "~" is the wild card, case is ignored.
// instance 0 or 1 is the first match. Null when none; with report, a "not found" error.
HWND_T WindowTitleHWND(const char* title, const char* className, bool includeChildren, U2 instance,
                       bool report);

// Enumeration callback over the search state; childFlag 0 top level, 1 child windows.
int EnumWindowsCallback(HWND_T window, std::intptr_t childFlag);

// Make window the foreground window, and with setFocus give it the keyboard focus.
void ActivateWindow(HWND_T window, bool setFocus);

// Process id owning the first top-level window with a matching title, 0 when none.
U4 WindowTitlePID(const char* title, bool report);

// First window owned by process pid, null when none.
HWND_T PIDWindowHWND(U4 pid, bool includeChildren, bool report);

// Read the system metrics on the first call of the run.
void LoadSystemMetrics();
// Forget the metrics read so far (a new desktop was installed).
void ResetSystemMetrics();

// Handle every message waiting in the calling thread's queue.
void ProcessWindowsMessages();

// The names of the window-style bits set in style, each led by "/", into buf.
char* WindowStyleText(U4 style, char* buf, std::size_t bufSize);
