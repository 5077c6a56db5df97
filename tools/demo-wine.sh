#!/bin/bash
# The main job under Wine: tapster.exe types 'Hello World<enter>' and clicks into our own
# Win32 test window on a private virtual display, then the window's message log is shown.
#   tools/demo-wine.sh [windows build folder]   (default build/win64)
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/win64}" && pwd) || exit 1
tapster="$build/tapster.exe"
testwin="$build/tools/testwin_win32/testwin_win32.exe"
run="$here/wine-run.sh"
for f in "$tapster" "$testwin"; do
  [ -f "$f" ] || { echo "demo-wine: $f is missing (build the Windows tree first)" >&2; exit 1; }
done
"$run" --can-run "$tapster" || { echo "demo-wine: Wine cannot run $tapster on this machine" >&2; exit 1; }

work=$(mktemp -d)
log="$work/window.log"
win_pid=
cleanup() {
  [ -n "$win_pid" ] && kill "$win_pid" 2>/dev/null && wait "$win_pid" 2>/dev/null
  bash "$here/wine-env.sh" stop "$build" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

wait_line() {
  local pattern=$1 deadline=$((SECONDS + 90))
  until grep -Eq -- "$pattern" "$log" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || { echo "demo-wine: the window never logged /$pattern/" >&2; exit 1; }
    sleep 0.05
  done
}

echo "demo-wine: starting the test window under Wine (a new Wine prefix takes a while)"
"$run" "$testwin" --log "Z:${log//\//\\}" --title "Tapster Demo" --quit-after 300 \
  </dev/null >"$work/testwin.out" 2>&1 &
win_pid=$!
wait_line '^ready '

echo "demo-wine: tapster.exe \"Tapster Demo/'Hello World<enter>'\" \"Tapster Demo/Mouse:L//40/60\""
"$run" "$tapster" "Tapster Demo/'Hello World<enter>'" "Tapster Demo/Mouse:L//40/60" </dev/null |
  tr -d '\r'
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || { echo "demo-wine: tapster.exe ended with status $status" >&2; exit 1; }
wait_line '^lbuttonup '

echo "demo-wine: the window received:"
sed 's/^/  /' "$log"
typed=$(sed -n 's/^char win=[a-z]* code=\([0-9a-f]*\)$/\1/p' "$log" | tr '\n' ' ')
if [ "$typed" = "48 65 6c 6c 6f 20 57 6f 72 6c 64 0d " ]; then
  echo "demo-wine: typed text: \"Hello World\" followed by Enter"
  echo "demo-wine: success"
else
  echo "demo-wine: unexpected characters: $typed" >&2
  exit 1
fi
