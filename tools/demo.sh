#!/usr/bin/env bash
# Tapster at work: on a private X display (with a window manager when openbox is there),
# type "Hello World" and Enter into a test window and click into it, then show what the
# window received. Everything started here is stopped again.
#
#   tools/demo.sh [build folder] [picture.png]     (default build/native, no picture)
#
# With a picture name it also types into xedit and keeps a picture of that window (xwd and
# ImageMagick), since the test window shows nothing of what it received.
set -u

build=${1:-$(dirname "$0")/../build/native}
picture=${2:-}
[[ -z $picture || $picture == /* ]] || picture=$PWD/$picture
tapster=$build/tapster
testwin=$build/tools/testwin_x11/testwin_x11
for exe in "$tapster" "$testwin"; do
  if [[ ! -x $exe ]]; then
    echo "demo: $exe is missing; build first (cmake --build $build)" >&2
    exit 1
  fi
done
command -v Xvfb >/dev/null || { echo "demo: Xvfb is not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/tapster-demo-XXXXXX)
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Wait up to $1 tenths of a second for the command that follows to succeed.
wait_for() {
  local tenths=$1
  shift
  while ! "$@" >/dev/null 2>&1; do
    ((tenths-- > 0)) || return 1
    sleep 0.1
  done
}

# A display number in use has a socket, a lock file or an abstract socket.
free_display() {
  [[ ! -e /tmp/.X11-unix/X$1 && ! -e /tmp/.X$1-lock ]] &&
    ! grep -q "@/tmp/.X11-unix/X$1\$" /proc/net/unix 2>/dev/null
}
display=
for n in $(seq $((300 + $$ % 300)) 699); do
  free_display "$n" || continue
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  pid=$!
  if wait_for 200 xdpyinfo -display ":$n"; then
    pids+=("$pid")
    display=:$n
    break
  fi
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
done
[[ -n $display ]] || { echo "demo: Xvfb did not start" >&2; exit 1; }
export DISPLAY=$display
echo "demo: X display $display"

if command -v openbox >/dev/null; then
  HOME=$work openbox --sm-disable >"$work/openbox.log" 2>&1 &
  pids+=($!)
  wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id #'; }
  wait_for 200 wm_ready || { echo "demo: openbox did not start" >&2; exit 1; }
  echo "demo: window manager openbox"
fi

# Openbox names itself before it takes windows in hand, and a window that comes in between
# is never shown: open the window again until it is.
received=$work/received.txt
for try in 1 2 3 4 5; do
  "$testwin" --title "Tapster Demo" --geometry 400x200+100+100 --out "$received" &
  pid=$!
  if wait_for 30 grep -q '^ready' "$received"; then
    pids+=("$pid")
    break
  fi
  kill "$pid"
  wait "$pid" 2>/dev/null
  rm -f "$received"
done
grep -q '^ready' "$received" 2>/dev/null || { echo "demo: the test window did not open" >&2; exit 1; }

echo "demo: running tapster"
"$tapster" "Tapster Demo/'Hello World<enter>'" "Tapster Demo/Mouse:L//60/40"
status=$?
echo "demo: tapster ended with status $status"

wait_for 200 grep -q '^ButtonRelease' "$received"
echo "demo: the window received:"
grep -v '^Motion' "$received" | sed 's/^/  /'

# The text the key presses produced, from their hexadecimal bytes.
typed=
while read -r hex; do
  for ((i = 0; i < ${#hex}; i += 2)); do typed+=$(printf "\\x${hex:i:2}"); done
done < <(sed -n 's/^KeyPress .* text=\([0-9a-f]*\) .*/\1/p' "$received")
echo "demo: typed text: \"${typed%$'\r'}\" followed by $([[ $typed == *$'\r' ]] && echo Enter || echo nothing)"

# A window that shows what it was given: xedit, whose Save button Tapster clicks so that
# there is something to wait for before the picture is taken.
take_picture() {
  local note=$work/note.txt
  : >"$note"
  (cd "$work" && exec xedit -geometry 460x220+40+40 note.txt) >/dev/null 2>&1 &
  pids+=($!)
  wait_for 300 xwininfo -name xedit || { echo "demo: xedit did not open" >&2; return 1; }
  # The Save button, counted from the top-left corner of the window's frame.
  "$tapster" /TMO=10000 "Class:Xedit/'Hello World<enter>'" "Class:Xedit/'Typed by Tapster.'" \
    "Class:Xedit/Mouse:L//33/66" >/dev/null || return 1
  wait_for 300 grep -q 'Typed by Tapster' "$note" || { echo "demo: xedit saved nothing" >&2; return 1; }
  xwd -silent -frame -name xedit | convert xwd:- "$picture" || return 1
  echo "demo: picture of the window in $picture"
}

ok=0
[[ $status -eq 0 && $typed == $'Hello World\r' ]] && grep -q '^ButtonPress .*button=1' "$received" && ok=1
if [[ $ok -eq 1 && -n $picture ]]; then
  take_picture || ok=0
fi
if [[ $ok -eq 1 ]]; then
  echo "demo: success"
  exit 0
fi
echo "demo: FAILED" >&2
exit 1
