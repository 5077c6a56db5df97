#!/usr/bin/env bash
# Tapster on Wayland: on a private headless sway with two foot terminals, the second one
# in front, type a line into the first one by its title and click into it, then show what
# that terminal received. Everything started here is stopped again.
#
#   tools/demo-wayland.sh [build folder]     (default build/native)
set -u
build=${1:-$(dirname "$0")/../build/native}
tapster=$build/tapster
[[ -x $tapster ]] || { echo "demo: $tapster is missing; build first (cmake --build $build)" >&2; exit 1; }
source "$(dirname "$0")/../tests/wayland/sway-session.sh"
work=$(mktemp -d /tmp/tapster-wayland-demo-XXXXXX)
chmod 755 "$work" # the compositor runs as a plain user
cleanup() { sway_stop; rm -rf "$work"; }
trap cleanup EXIT

sway_start "$work/sway"
foot_window Notes "$work/notes.txt" "printf '\\033[?1000h';"
foot_window Other "$work/other.txt"
echo "demo: headless sway on $WAYLAND_DISPLAY, foot windows \"Notes\" and \"Other\" (in front)"
text="Hello World from Tapster on Wayland"
"$tapster" "Notes/'$text'" "Notes/Mouse:L//30/40"
status=$?
wait_for "[ \$(wc -c < '$work/notes.txt') -ge $((${#text} + 6)) ]" 100
echo "demo: tapster exited with $status"
echo "demo: \"Notes\" received the text: $(head -c ${#text} "$work/notes.txt")"
report=$(tail -c +$((${#text} + 1)) "$work/notes.txt" | od -An -tu1 -N6 | tr -s ' ')
set -- $report
[ $# -eq 6 ] && echo "demo: and a click report (ESC [ M): button $(($4 - 32)), column $(($5 - 32)), row $(($6 - 32))"
echo "demo: \"Other\" received: [$(cat "$work/other.txt")]"
[ "$(head -c ${#text} "$work/notes.txt")" = "$text" ] && [ ! -s "$work/other.txt" ]
