/* Keeps a virtual keyboard, and with "pointer" a virtual pointer, on the seat, as a desktop
   with a keyboard and a mouse has them, so that the clients hold their keyboards and pointers
   before a test's own devices appear. Prints "ready" once the compositor has them.
   Usage: seat_devices [pointer] */
#define _GNU_SOURCE /* memfd_create */
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

static struct wl_seat* seat;
static struct zwlr_virtual_pointer_manager_v1* pointers;
static struct zwp_virtual_keyboard_manager_v1* keyboards;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version) {
  (void)data, (void)version;
  if (!strcmp(interface, wl_seat_interface.name))
    seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
  else if (!strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name))
    pointers = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
  else if (!strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name))
    keyboards = wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
}
static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}
static const struct wl_registry_listener listener = {global, global_remove};

/* A plain US keyboard; the compositor needs a keymap before it counts the keyboard. */
static int add_keyboard(void) {
  struct xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  struct xkb_rule_names names = {0};
  names.layout = "us";
  struct xkb_keymap* keymap =
      context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : NULL;
  char* text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : NULL;
  int fd = text ? memfd_create("seat-keymap", MFD_CLOEXEC) : -1;
  size_t size = text ? strlen(text) + 1 : 0;
  int ok = fd >= 0 && write(fd, text, size) == (ssize_t)size;
  if (ok) {
    struct zwp_virtual_keyboard_v1* keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards, seat);
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, (uint32_t)size);
  }
  if (fd >= 0) close(fd);
  free(text);
  xkb_keymap_unref(keymap);
  xkb_context_unref(context);
  return ok;
}

int main(int argc, char** argv) {
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) return 1;
  wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL);
  wl_display_roundtrip(display);
  int withPointer = argc > 1 && !strcmp(argv[1], "pointer");
  if (!seat || !keyboards || (withPointer && !pointers) || !add_keyboard()) return 1;
  if (withPointer) zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointers, seat);
  wl_display_roundtrip(display);
  puts("ready");
  fflush(stdout);
  while (wl_display_dispatch(display) >= 0) {
  }
  return 0;
}
