/* Opens N small toplevels titled "Other 1" ... "Other N" in one process, so that a window
   search has many windows to go through. Usage: many_toplevels N */
#define _GNU_SOURCE /* memfd_create */
#include "xdg-shell-client-protocol.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

static struct wl_compositor* compositor;
static struct wl_shm* shm;
static struct xdg_wm_base* wm_base;

static void global(void* data, struct wl_registry* r, uint32_t name, const char* iface,
                   uint32_t v) {
  (void)data, (void)v;
  if (!strcmp(iface, wl_compositor_interface.name))
    compositor = wl_registry_bind(r, name, &wl_compositor_interface, 4);
  else if (!strcmp(iface, wl_shm_interface.name))
    shm = wl_registry_bind(r, name, &wl_shm_interface, 1);
  else if (!strcmp(iface, xdg_wm_base_interface.name))
    wm_base = wl_registry_bind(r, name, &xdg_wm_base_interface, 1);
}
static void global_remove(void* data, struct wl_registry* r, uint32_t name) {
  (void)data, (void)r, (void)name;
}
static const struct wl_registry_listener registry_listener = {global, global_remove};

static void ping(void* data, struct xdg_wm_base* b, uint32_t serial) {
  (void)data;
  xdg_wm_base_pong(b, serial);
}
static const struct xdg_wm_base_listener wm_listener = {ping};

static struct wl_buffer* buffer;
static void configure(void* data, struct xdg_surface* xs, uint32_t serial) {
  struct wl_surface* surface = data;
  xdg_surface_ack_configure(xs, serial);
  wl_surface_attach(surface, buffer, 0, 0);
  wl_surface_commit(surface);
}
static const struct xdg_surface_listener surface_listener = {configure};

int main(int argc, char** argv) {
  int n = argc > 1 ? atoi(argv[1]) : 500;
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) return 1;
  wl_registry_add_listener(wl_display_get_registry(display), &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (!compositor || !shm || !wm_base) return 1;
  xdg_wm_base_add_listener(wm_base, &wm_listener, NULL);
  int fd = memfd_create("pixels", 0);
  if (fd < 0 || ftruncate(fd, 4) != 0) return 1;
  struct wl_shm_pool* pool = wl_shm_create_pool(shm, fd, 4);
  buffer = wl_shm_pool_create_buffer(pool, 0, 1, 1, 4, WL_SHM_FORMAT_XRGB8888);
  for (int i = 1; i <= n; ++i) {
    struct wl_surface* surface = wl_compositor_create_surface(compositor);
    struct xdg_surface* xs = xdg_wm_base_get_xdg_surface(wm_base, surface);
    xdg_surface_add_listener(xs, &surface_listener, surface);
    struct xdg_toplevel* top = xdg_surface_get_toplevel(xs);
    char title[32];
    snprintf(title, sizeof title, "Other %d", i);
    xdg_toplevel_set_title(top, title);
    wl_surface_commit(surface);
    if (i % 50 == 0) wl_display_roundtrip(display);
  }
  wl_display_roundtrip(display);
  puts("ready");
  fflush(stdout);
  while (wl_display_dispatch(display) >= 0) {
  }
  return 0;
}
