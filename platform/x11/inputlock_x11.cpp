// Runs on one display take turns at its input through the ownership of a selection: the
// server gives that up by itself when the owner's connection closes, so a run that crashed
// or was killed leaves the lock free.
#include "platform/x11/x11desktop.h"

#include "errlog/errstack.h"

namespace {
const char kLockSelection[] = "_TAPSTER_INPUT_LOCK";
} // namespace

bool X11Desktop::TryInputLock() {
  XCall call(this);
  if (!Ready()) return false;
  if (!lockAtom_) lockAtom_ = XInternAtom(dpy_, kLockSelection, False);
  if (!lockOwner_)
    lockOwner_ = XCreateWindow(dpy_, root_, -1, -1, 1, 1, 0, 0, InputOnly, nullptr, 0, nullptr);
  // A look without holding up the server first, while another run keeps the lock.
  if (XGetSelectionOwner(dpy_, lockAtom_) != None) return false;
  // Setting an owner takes the selection from any other: looking and taking are made one
  // step by holding the server meanwhile.
  XGrabServer(dpy_);
  bool free = XGetSelectionOwner(dpy_, lockAtom_) == None;
  if (free) XSetSelectionOwner(dpy_, lockAtom_, lockOwner_, CurrentTime);
  XUngrabServer(dpy_);
  bool taken = XGetSelectionOwner(dpy_, lockAtom_) == lockOwner_;
  return !Lost() && taken;
}

bool X11Desktop::AcquireInputLock(U4 timeoutMsecs) {
  if (lockHeld_) return true;
  auto take = [](void* self) {
    if (static_cast<X11Desktop*>(self)->TryInputLock()) return LockTry::kTaken;
    return ErrSet ? LockTry::kFailed : LockTry::kBusy;
  };
  lockHeld_ = PollInputLock(timeoutMsecs, take, this);
  return lockHeld_;
}

void X11Desktop::ReleaseInputLock() {
  if (!lockHeld_) return;
  lockHeld_ = false;
  XCall call(this);
  if (!ReadyQuiet()) return;
  // The next run would type with the codes we lent, and lose its keys when we blank them.
  RestoreSpareKeys();
  // The server takes requests in order: the keys sent before reach their window first.
  XSetSelectionOwner(dpy_, lockAtom_, None, CurrentTime);
  XFlush(dpy_);
}
