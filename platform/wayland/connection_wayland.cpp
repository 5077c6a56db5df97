// The Wayland desktop's connection: the display, the globals it offers, the output size,
// waiting for events and a broken connection.
#include "platform/wayland/wayland_desktop.h"

#include "errlog/errstack.h"
#include "platform/inputrelease.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <poll.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t version) {
  static_cast<WaylandDesktop*>(data)->OnGlobal(registry, name, interface, version);
}
void GlobalRemove(void* data, wl_registry*, std::uint32_t name) {
  static_cast<WaylandDesktop*>(data)->OnGlobalRemove(name);
}
const wl_registry_listener kRegistryListener = {Global, GlobalRemove};

void SeatCapabilities(void* data, wl_seat*, std::uint32_t caps) {
  static_cast<WaylandDesktop*>(data)->OnCapabilities(caps);
}
void SeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {SeatCapabilities, SeatName};

void OutputGeometry(void*, wl_output*, int, int, int, int, int, const char*, const char*, int) {}
void OutputMode(void* data, wl_output*, std::uint32_t flags, int width, int height, int) {
  static_cast<WaylandDesktop*>(data)->OnOutputMode(flags, width, height);
}
void OutputDone(void*, wl_output*) {}
void OutputScale(void* data, wl_output*, int scale) {
  static_cast<WaylandDesktop*>(data)->OnOutputScale(scale);
}
// Bound at version 2: no name or description events come.
const wl_output_listener kOutputListener = {OutputGeometry, OutputMode, OutputDone,
                                            OutputScale,    nullptr,    nullptr};

std::uint32_t Min(std::uint32_t a, std::uint32_t b) {
  return a < b ? a : b;
}

} // namespace

WaylandDesktop::WaylandDesktop(const char* displayName) {
  Connect(displayName);
}

bool WaylandDesktop::Connect(const char* displayName) {
  const char* env = std::getenv("WAYLAND_DISPLAY");
  name_ = displayName ? displayName : env ? env : "";
  if (name_.empty()) {
    problem_ = "Wayland: cannot connect (WAYLAND_DISPLAY is not set)";
    return false;
  }
  display_ = wl_display_connect(name_.c_str());
  if (!display_) {
    problem_ = "wl_display_connect: cannot connect to Wayland display \"" + name_ + "\"";
    return false;
  }
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &kRegistryListener, this);
  // The globals, then what binding them sent (the toplevels and their state).
  if (wl_display_roundtrip(display_) < 0 || wl_display_roundtrip(display_) < 0) {
    problem_ = "Wayland: display \"" + name_ + "\" broke the connection at once";
    return false;
  }
  std::string missing;
  auto need = [&](const void* global, const char* what) {
    if (global) return;
    missing += missing.empty() ? "" : ", ";
    missing += what;
  };
  need(seat_, "wl_seat");
  need(toplevelManager_, "zwlr_foreign_toplevel_manager_v1 (window list and activation)");
  need(keyboardManager_, "zwp_virtual_keyboard_manager_v1 (keyboard)");
  if (!missing.empty()) {
    problem_ = "Wayland: the compositor of display \"" + name_ + "\" does not offer " + missing +
               "; tapster drives the windows of wlroots compositors (sway and others). X11 "
               "windows stay reachable through DISPLAY (TAPSTER_BACKEND=x11)";
    return false;
  }
  ArmFaultRelease();
  StartKeyboard();
  return true;
}

WaylandDesktop::~WaylandDesktop() {
  DisarmFaultRelease();
  if (PlatformInputReleased()) broken_ = true;
  if (display_ && !broken_) ReleaseAllKeys();
  for (Toplevel& t : toplevels_)
    if (t.handle) zwlr_foreign_toplevel_handle_v1_destroy(t.handle);
  if (keyboard_) zwp_virtual_keyboard_v1_destroy(keyboard_);
  if (pointer_) zwlr_virtual_pointer_v1_destroy(pointer_);
  if (echoKeyboard_) wl_keyboard_destroy(echoKeyboard_);
  if (toplevelManager_) zwlr_foreign_toplevel_manager_v1_destroy(toplevelManager_);
  if (keyboardManager_) zwp_virtual_keyboard_manager_v1_destroy(keyboardManager_);
  if (pointerManager_) zwlr_virtual_pointer_manager_v1_destroy(pointerManager_);
  if (seat_) wl_seat_destroy(seat_);
  if (output_) wl_output_destroy(output_);
  if (registry_) wl_registry_destroy(registry_);
  // The releases must reach the compositor before the keyboard goes away with us.
  if (display_ && !broken_) wl_display_roundtrip(display_);
  if (display_) wl_display_disconnect(display_);
  if (keyState_) xkb_state_unref(keyState_);
  if (keymap_) xkb_keymap_unref(keymap_);
  if (xkb_) xkb_context_unref(xkb_);
  if (lockFd_ >= 0) close(lockFd_);
}

void WaylandDesktop::OnGlobal(wl_registry* registry, std::uint32_t name, const char* interface,
                              std::uint32_t version) {
  auto bind = [&](const wl_interface* iface, std::uint32_t most) {
    return wl_registry_bind(registry, name, iface, Min(version, most));
  };
  if (!std::strcmp(interface, wl_seat_interface.name) && !seat_) {
    seat_ = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
    wl_seat_add_listener(seat_, &kSeatListener, this);
  } else if (!std::strcmp(interface, wl_output_interface.name) && !output_) {
    output_ = static_cast<wl_output*>(bind(&wl_output_interface, 2));
    wl_output_add_listener(output_, &kOutputListener, this);
  } else if (!std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name)) {
    toplevelManager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        bind(&zwlr_foreign_toplevel_manager_v1_interface, 3));
    ListenToplevels();
  } else if (!std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name)) {
    keyboardManager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
        bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
  } else if (!std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name)) {
    pointerManager_ = static_cast<zwlr_virtual_pointer_manager_v1*>(
        bind(&zwlr_virtual_pointer_manager_v1_interface, 1));
  }
}

void WaylandDesktop::OnGlobalRemove(std::uint32_t) {}

void WaylandDesktop::OnOutputMode(std::uint32_t flags, int width, int height) {
  if (flags & WL_OUTPUT_MODE_CURRENT) outputWidth_ = width, outputHeight_ = height;
}

bool WaylandDesktop::Ready() {
  if (!problem_.empty()) {
    SeMErrMult(problem_.c_str(), nullptr);
    return false;
  }
  // A fault handler shut the connection down: nothing may go out on it any more.
  if (PlatformInputReleased()) broken_ = true;
  if (broken_) return PushBroken("Wayland");
  return true;
}

bool WaylandDesktop::PushBroken(const char* call) {
  broken_ = true;
  int code = wl_display_get_error(display_);
  char text[32];
  std::snprintf(text, sizeof text, "%d", code);
  SeMErrMult(call, ": the connection to Wayland display \"", name_.c_str(), "\" broke (error #",
             text, ": ", std::strerror(code), ")", nullptr);
  return false;
}

bool WaylandDesktop::Flush() {
  while (wl_display_flush(display_) < 0) {
    if (errno != EAGAIN) return PushBroken("wl_display_flush");
    // The compositor reads slower than we write: wait until it took some.
    pollfd p = {wl_display_get_fd(display_), POLLOUT, 0};
    if (poll(&p, 1, 5000) <= 0) return PushBroken("wl_display_flush");
  }
  return true;
}

bool WaylandDesktop::WaitEvents(int ms) {
  if (!Flush()) return false;
  while (wl_display_prepare_read(display_) != 0)
    if (wl_display_dispatch_pending(display_) < 0) return PushBroken("wl_display_dispatch");
  pollfd p = {wl_display_get_fd(display_), POLLIN, 0};
  int n = poll(&p, 1, ms);
  if (n > 0) {
    if (wl_display_read_events(display_) < 0) return PushBroken("wl_display_read_events");
  } else {
    wl_display_cancel_read(display_);
  }
  if (wl_display_dispatch_pending(display_) < 0) return PushBroken("wl_display_dispatch");
  return true;
}

void WaylandDesktop::Pump() {
  if (!broken_) WaitEvents(0);
}

bool WaylandDesktop::RoundTrip() {
  if (broken_) return false;
  if (!Flush()) return false;
  if (wl_display_roundtrip(display_) < 0) return PushBroken("wl_display_roundtrip");
  return true;
}

int WaylandDesktop::GetSystemMetrics(int index) {
  if (!problem_.empty() || broken_) return 0;
  switch (index) {
  case kSmCxScreen:
  case 16: // SM_CXFULLSCREEN
  case 78: // SM_CXVIRTUALSCREEN
    return outputWidth_ / outputScale_;
  case kSmCyScreen:
  case 17: // SM_CYFULLSCREEN
  case 79: // SM_CYVIRTUALSCREEN
    return outputHeight_ / outputScale_;
  case 19: // SM_MOUSEPRESENT
  case 80: // SM_CMONITORS
    return 1;
  case 43: // SM_CMOUSEBUTTONS
    return 3;
  default:
    return 0;
  }
}

int WaylandDesktop::ProcessMessages() {
  if (!problem_.empty() || broken_) return 0;
  Pump();
  return 0;
}

std::unique_ptr<WaylandDesktop> MakeWaylandDesktop(const char* displayName) {
  return std::make_unique<WaylandDesktop>(displayName);
}

const std::string& WaylandProblem(const WaylandDesktop& desktop) {
  return desktop.Problem();
}

Desktop& AsDesktop(WaylandDesktop& desktop) {
  return desktop;
}
