// The Wayland desktop's windows: the toplevels the compositor lists, their titles, app ids
// and states, and activation, which counts only once the compositor says so.
#include "platform/wayland/wayland_desktop.h"

#include "errlog/errstack.h"

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace {

WaylandDesktop* Me(void* data) {
  return static_cast<WaylandDesktop*>(data);
}

void OnNewToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                   zwlr_foreign_toplevel_handle_v1* handle) {
  Me(data)->OnToplevel(handle);
}
void OnFinished(void*, zwlr_foreign_toplevel_manager_v1*) {}
const zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {OnNewToplevel, OnFinished};

void OnTitle(void* data, zwlr_foreign_toplevel_handle_v1* h, const char* title) {
  if (Toplevel* t = Me(data)->ToplevelOf(h)) t->title = title ? title : "";
}
void OnAppId(void* data, zwlr_foreign_toplevel_handle_v1* h, const char* appId) {
  if (Toplevel* t = Me(data)->ToplevelOf(h)) t->appId = appId ? appId : "";
}
void OnOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void OnState(void* data, zwlr_foreign_toplevel_handle_v1* h, wl_array* states) {
  Toplevel* t = Me(data)->ToplevelOf(h);
  if (!t) return;
  t->activated = t->minimized = t->maximized = false;
  const auto* s = static_cast<const std::uint32_t*>(states->data);
  for (std::size_t i = 0; i < states->size / sizeof *s; ++i) {
    if (s[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) t->activated = true;
    if (s[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED) t->minimized = true;
    if (s[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MAXIMIZED) t->maximized = true;
  }
}
void OnDone(void* data, zwlr_foreign_toplevel_handle_v1* h) {
  if (Toplevel* t = Me(data)->ToplevelOf(h)) t->listed = true;
}
void OnClosed(void* data, zwlr_foreign_toplevel_handle_v1* h) {
  if (Toplevel* t = Me(data)->ToplevelOf(h)) {
    t->closed = true;
    t->activated = false;
    t->handle = nullptr;
  }
  zwlr_foreign_toplevel_handle_v1_destroy(h);
}
void OnParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
const zwlr_foreign_toplevel_handle_v1_listener kHandleListener = {
    OnTitle, OnAppId, OnOutput, OnOutput, OnState, OnDone, OnClosed, OnParent};

int CopyOut(const std::string& text, char* buffer, int maxCount) {
  if (!buffer || maxCount <= 0) return 0;
  int n = std::min(static_cast<int>(text.size()), maxCount - 1);
  std::memcpy(buffer, text.data(), static_cast<std::size_t>(n));
  buffer[n] = 0;
  return n;
}

} // namespace

void WaylandDesktop::ListenToplevels() {
  zwlr_foreign_toplevel_manager_v1_add_listener(toplevelManager_, &kManagerListener, this);
}

void WaylandDesktop::OnToplevel(zwlr_foreign_toplevel_handle_v1* handle) {
  Toplevel t;
  t.id = nextId_++;
  t.handle = handle;
  toplevels_.push_back(t);
  zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kHandleListener, this);
}

Toplevel* WaylandDesktop::ToplevelOf(zwlr_foreign_toplevel_handle_v1* handle) {
  for (Toplevel& t : toplevels_)
    if (t.handle == handle) return &t;
  return nullptr;
}

Toplevel* WaylandDesktop::Find(HWND_T window) {
  if (!window || window >= nextId_) return nullptr;
  Toplevel& t = toplevels_[window - 1];
  return t.listed && !t.closed ? &t : nullptr;
}

Toplevel* WaylandDesktop::Active() {
  for (Toplevel& t : toplevels_)
    if (t.listed && !t.closed && t.activated) return &t;
  return nullptr;
}

HWND_T WaylandDesktop::FindWindowA(const char* className, const char* title) {
  if (!Ready() || !RoundTrip()) return 0;
  for (const Toplevel& t : toplevels_) {
    if (!t.listed || t.closed) continue;
    if (title && strcasecmp(t.title.c_str(), title) != 0) continue;
    if (className && strcasecmp(t.appId.c_str(), className) != 0) continue;
    return t.id;
  }
  return 0;
}

bool WaylandDesktop::EnumWindows(WinEnumProc proc, std::intptr_t param) {
  if (!Ready() || !RoundTrip()) return false;
  // The callback may come back here (a nested search): walk by handle, not by reference.
  std::vector<HWND_T> ids;
  for (const Toplevel& t : toplevels_)
    if (t.listed && !t.closed) ids.push_back(t.id);
  for (HWND_T id : ids)
    if (!proc(id, param)) break;
  return true;
}

bool WaylandDesktop::EnumChildWindows(HWND_T, WinEnumProc, std::intptr_t) {
  // Toplevels have no child windows that the compositor shows to other clients.
  return Ready();
}

int WaylandDesktop::GetWindowTextA(HWND_T window, char* buffer, int maxCount) {
  if (buffer && maxCount > 0) buffer[0] = 0;
  Toplevel* t = problem_.empty() ? Find(window) : nullptr;
  return t ? CopyOut(t->title, buffer, maxCount) : 0;
}

int WaylandDesktop::GetClassNameA(HWND_T window, char* buffer, int maxCount) {
  if (buffer && maxCount > 0) buffer[0] = 0;
  Toplevel* t = problem_.empty() ? Find(window) : nullptr;
  return t ? CopyOut(t->appId, buffer, maxCount) : 0;
}

U4 WaylandDesktop::GetWindowThreadProcessId(HWND_T, U4* pid) {
  // The toplevel protocol does not tell which process owns a window.
  if (pid) *pid = 0;
  return 0;
}

bool WaylandDesktop::IsWindow(HWND_T window) {
  if (!problem_.empty()) return false;
  Pump();
  return Find(window) != nullptr;
}

HWND_T WaylandDesktop::GetForegroundWindow() {
  if (!problem_.empty()) return 0;
  Pump();
  Toplevel* t = Active();
  return t ? t->id : 0;
}

HWND_T WaylandDesktop::GetFocus() {
  return GetForegroundWindow();
}

bool WaylandDesktop::GetWindowPlacement(HWND_T window, WinPlacement* placement) {
  if (!Ready()) return false;
  Toplevel* t = Find(window);
  if (!t || !placement) return false;
  placement->showCmd = t->minimized   ? kSwShowMinimized
                       : t->maximized ? kSwShowMaximized
                                      : kSwShowNormal;
  return true;
}

bool WaylandDesktop::SetWindowPos(HWND_T window, HWND_T, int, int, int, int, U4) {
  // No stacking requests exist here; activation raises the window.
  return problem_.empty() && Find(window);
}

bool WaylandDesktop::ShowWindow(HWND_T window, int showCmd) {
  if (!Ready()) return false;
  Toplevel* t = Find(window);
  if (!t) return false;
  switch (showCmd) {
  case kSwHide:
  case kSwShowMinimized:
  case 6: // SW_MINIMIZE
  case 7: // SW_SHOWMINNOACTIVE
    zwlr_foreign_toplevel_handle_v1_set_minimized(t->handle);
    break;
  case kSwShowMaximized:
    if (!t->maximized) zwlr_foreign_toplevel_handle_v1_set_maximized(t->handle);
    break;
  case kSwRestore:
    if (t->minimized)
      zwlr_foreign_toplevel_handle_v1_unset_minimized(t->handle);
    else if (t->maximized)
      zwlr_foreign_toplevel_handle_v1_unset_maximized(t->handle);
    break;
  default:
    if (t->minimized) zwlr_foreign_toplevel_handle_v1_unset_minimized(t->handle);
    break;
  }
  return Flush();
}

HWND_T WaylandDesktop::SetFocus(HWND_T window) {
  if (!Ready()) return 0;
  Toplevel* t = Find(window);
  if (!t) return 0;
  Toplevel* before = Active();
  HWND_T previous = before ? before->id : window;
  if (t->activated) return previous;
  zwlr_foreign_toplevel_handle_v1_activate(t->handle, seat_);
  // Only the compositor's word counts: a refused activation must not send keys elsewhere.
  // Nothing is clicked instead, since the click would land on whatever covers the window.
  if (!WaitFor(kActivateMsecs, [&] {
        Toplevel* now = Find(window);
        return !now || now->activated;
      })) {
    if (!ErrSet) SeMErrMult("ActivateWindow", " failure", nullptr);
    return 0;
  }
  if (!Find(window)) {
    SeMErrMult("Handle does not refer to an active window", nullptr);
    return 0;
  }
  return previous;
}
