# A private headless sway for one test, benchmark or demo run, and foot windows on it whose
# terminal writes what arrives into a file. Sourced by bash scripts; every wait is on a
# condition. Sway refuses to run as root, so root starts it and its clients as a plain user.
#
#   sway_start DIR [LAYOUT]   start sway with its runtime folder in DIR (exit 77: cannot run);
#                             with SEAT_DEVICES set, that program keeps a keyboard (and with
#                             SEAT_DEVICES_ARGS=pointer a pointer) on the seat
#   foot_window TITLE FILE    open a foot window titled TITLE that appends its input to FILE
#   sway_stop                 end sway and everything started on it

SWAY_USER=${SWAY_USER:-tapster-wl}
SWAY_PIDS=()

# Only ever run in the background: the subshell becomes the program, so that $! is the
# program's own pid and sway_stop's kill reaches it.
sway_as_user() {
  if [ "$(id -u)" -eq 0 ]; then
    exec setpriv --reuid="$SWAY_USER" --regid="$SWAY_USER" --init-groups "$@"
  else
    exec "$@"
  fi
}

# Wait until the command succeeds, up to $2 tenths of a second (default 300).
wait_for() {
  local tries=${2:-300}
  while ! eval "$1" >/dev/null 2>&1; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.1
  done
}

sway_start() {
  local dir=$1 layout=${2:-us}
  command -v sway >/dev/null && command -v foot >/dev/null || { echo "sway or foot missing"; exit 77; }
  if [ "$(id -u)" -eq 0 ] && ! id "$SWAY_USER" >/dev/null 2>&1; then
    useradd --system --no-create-home --shell /usr/sbin/nologin "$SWAY_USER" || exit 77
  fi
  mkdir -p "$dir"
  SWAY_DIR=$(cd "$dir" && pwd)
  SWAY_RUNTIME=$SWAY_DIR/run
  rm -rf "$SWAY_RUNTIME" && mkdir -m 700 "$SWAY_RUNTIME"
  [ "$(id -u)" -ne 0 ] || chown "$SWAY_USER:" "$SWAY_DIR" "$SWAY_RUNTIME"
  cat >"$SWAY_DIR/sway.conf" <<CONF
output HEADLESS-1 resolution 1024x768 position 0 0
default_border none
default_floating_border none
focus_follows_mouse no
input type:keyboard xkb_layout $layout
CONF
  sway_as_user env -i HOME="$SWAY_DIR" XDG_RUNTIME_DIR="$SWAY_RUNTIME" PATH="$PATH" \
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$SWAY_DIR/sway.conf" >"$SWAY_DIR/sway.log" 2>&1 &
  SWAY_PIDS+=($!)
  if ! wait_for "[ -S '$SWAY_RUNTIME/wayland-1' ] && ls '$SWAY_RUNTIME'/sway-ipc.*.sock" 150; then
    # Only a compositor that cannot start at all skips; one that starts and then fails is a fault.
    kill "${SWAY_PIDS[@]}" 2>/dev/null
    echo "sway cannot run here:"; tail -5 "$SWAY_DIR/sway.log"
    exit 77
  fi
  export WAYLAND_DISPLAY=$SWAY_RUNTIME/wayland-1
  SWAYSOCK=$(ls "$SWAY_RUNTIME"/sway-ipc.*.sock)
  export SWAYSOCK
  export XDG_RUNTIME_DIR=$SWAY_RUNTIME
  unset DISPLAY
  if [ -n "${SEAT_DEVICES:-}" ]; then
    "$SEAT_DEVICES" ${SEAT_DEVICES_ARGS:-} >"$SWAY_DIR/seat.txt" 2>&1 &
    SWAY_PIDS+=($!)
    wait_for "grep -q ready '$SWAY_DIR/seat.txt'" 100 || { echo "no seat devices: $(cat "$SWAY_DIR/seat.txt")"; exit 1; }
  fi
}

swaymsg_q() { swaymsg -s "$SWAYSOCK" "$@"; }

# The number of views whose title is $1.
sway_views() {
  swaymsg_q -t get_tree | grep -c "\"name\": \"$1\""
}

foot_window() {
  local title=$1 file=$2 pre=${3:-}
  : >"$file"
  [ "$(id -u)" -ne 0 ] || chown "$SWAY_USER:" "$file"
  sway_as_user env -i HOME="$SWAY_DIR" XDG_RUNTIME_DIR="$SWAY_RUNTIME" PATH="$PATH" \
    WAYLAND_DISPLAY=wayland-1 foot -o pad=0x0 -w 1024x768 -T "$title" \
    sh -c "stty -icanon -echo; $pre exec cat >> '$file'" >"$SWAY_DIR/foot-$title.log" 2>&1 &
  SWAY_PIDS+=($!)
  wait_for "[ \$(sway_views '$title') -ge 1 ]"
}

sway_stop() {
  local p
  # A stopped process takes its signal only once it goes on.
  for p in "${SWAY_PIDS[@]}"; do kill "$p" 2>/dev/null && kill -CONT "$p" 2>/dev/null; done
  for p in "${SWAY_PIDS[@]}"; do wait "$p" 2>/dev/null; done
  SWAY_PIDS=()
  # A compositor that outlives its run keeps its windows, and machines fill up with them.
  if [ -n "${SWAY_DIR:-}" ] && pgrep -f "sway -c $SWAY_DIR/sway.conf" >/dev/null; then
    echo "sway_stop: the compositor of $SWAY_DIR is still running"
    pkill -f "sway -c $SWAY_DIR/sway.conf"
    exit 1
  fi
}
