// Input the run holds on the desktop, given back from a fault or signal handler. The
// desktop that injects input installs a release that does only async-signal-safe work
// (its releases prepared beforehand); a fatal handler calls it before anything else.
#pragma once

using InputReleaseFn = void (*)();

// The desktop's release; null removes it.
void PlatformSetInputRelease(InputReleaseFn release);
// Runs the installed release, at most once per process; async-signal-safe.
void PlatformReleaseInputNow();
// The release has run: the desktop must not touch its connection again.
bool PlatformInputReleased();
