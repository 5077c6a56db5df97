/* A Wayland server that offers a seat and nothing else: a desktop without the wlroots
   protocols, for the errors that name what is missing. Usage: bare_compositor SOCKET */
#include <wayland-server.h>

static void bind_seat(struct wl_client* client, void* data, uint32_t version, uint32_t id) {
  (void)data;
  struct wl_resource* seat = wl_resource_create(client, &wl_seat_interface, (int)version, id);
  if (seat) wl_seat_send_capabilities(seat, 0);
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  struct wl_display* display = wl_display_create();
  if (!display || wl_display_add_socket(display, argv[1]) != 0) return 1;
  wl_global_create(display, &wl_seat_interface, 1, NULL, bind_seat);
  wl_display_run(display);
  return 0;
}
