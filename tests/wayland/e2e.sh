#!/usr/bin/env bash
# End-to-end runs of tapster on a private headless sway, against foot terminals that write
# down what arrives. Usage: e2e.sh CASE TAPSTER BARE_COMPOSITOR WORKDIR SEAT_DEVICES FAULT_PROBE
set -u
case_name=$1 tapster=$2 bare=$3 work=$4 probe=$6
# A desktop has a keyboard before any run's keyboard appears.
export SEAT_DEVICES=$5
here=$(cd "$(dirname "$0")" && pwd)
source "$here/sway-session.sh"
trap sway_stop EXIT
rm -rf "$work" && mkdir -p "$work"

fail() { echo "FAIL: $*"; exit 1; }
# Wait until file $1 holds exactly $2.
wait_text() { wait_for "[ \"\$(cat '$1')\" = '$2' ]" 100; }
run() { "$tapster" "$@" >"$work/out.txt" 2>&1; echo $? >"$work/status"; cat "$work/out.txt"; }
status() { cat "$work/status"; }

# Text as written whatever the compositor's layout; the named window gets it though the
# other one had the focus, and the other gets nothing.
text_case() {
  sway_start "$work/sway" "$1"
  foot_window one "$work/one.txt"
  foot_window two "$work/two.txt"
  local text='Hello, World _+:*?[]=-;.,09 az AZ'
  for target in one two one; do
    local other=two
    [ $target = one ] || other=one
    : >"$work/one.txt" && : >"$work/two.txt"
    swaymsg_q "[title=^$other\$] focus" >/dev/null
    run "$target/'$text'"
    [ "$(status)" = 0 ] || fail "status $(status)"
    wait_text "$work/$target.txt" "$text" || fail "$target got [$(cat "$work/$target.txt")]"
    [ ! -s "$work/$other.txt" ] || fail "$other got [$(cat "$work/$other.txt")]"
  done
}

case $case_name in
gtk)
  # A GTK entry takes the text as written on an AZERTY layout while a terminal had the
  # focus; zenity prints the entry when Enter closes it.
  command -v zenity >/dev/null || { echo "zenity missing"; exit 77; }
  sway_start "$work/sway" fr
  foot_window one "$work/one.txt"
  : >"$work/entry.txt"
  [ "$(id -u)" -ne 0 ] || chown "$SWAY_USER:" "$work/entry.txt"
  sway_as_user env -i HOME="$SWAY_DIR" XDG_RUNTIME_DIR="$SWAY_RUNTIME" PATH="$PATH" \
    WAYLAND_DISPLAY=wayland-1 GDK_BACKEND=wayland NO_AT_BRIDGE=1 \
    zenity --entry --title "Gtk Entry" --text "Type" >"$work/entry.txt" 2>"$work/zenity.log" &
  SWAY_PIDS+=($!)
  wait_for "[ \$(sway_views 'Gtk Entry') -ge 1 ]" || fail "no zenity window: $(head -3 "$work/zenity.log")"
  swaymsg_q "[title=^one\$] focus" >/dev/null
  text='Hello, World _+:*?[]=-;.,09 az AZ'
  run "Class:zenity/'$text'" "Gtk Entry/Enter"
  [ "$(status)" = 0 ] || fail "status $(status)"
  wait_text "$work/entry.txt" "$text" || fail "the entry got [$(cat "$work/entry.txt")]"
  [ ! -s "$work/one.txt" ] || fail "one got [$(cat "$work/one.txt")]"
  ;;
text-us) text_case us ;;
text-de) text_case de ;;
text-fr) text_case fr ;;
missing)
  sway_start "$work/sway"
  foot_window one "$work/one.txt"
  run "/TMO=300" "nosuch/'x'"
  [ "$(status)" = 1 ] && grep -q 'ERROR: Window "nosuch" not found' "$work/out.txt" || fail "no not-found error"
  ;;
refused)
  # A fullscreen window keeps the focus from the one behind it: no keys may go anywhere.
  sway_start "$work/sway"
  foot_window one "$work/one.txt"
  foot_window two "$work/two.txt"
  swaymsg_q "[title=^two\$] fullscreen enable" >/dev/null
  run "one/'abc'"
  [ "$(status)" = 1 ] && grep -q 'ActivateWindow failure (window=one)' "$work/out.txt" || fail "no activation error"
  "$tapster" "two/'z'" >/dev/null && wait_text "$work/two.txt" z || fail "two got [$(cat "$work/two.txt")]"
  [ ! -s "$work/one.txt" ] || fail "one got [$(cat "$work/one.txt")]"
  ;;
released)
  # Keys held when a run fails go up before its keyboard goes away.
  sway_start "$work/sway"
  foot_window one "$work/one.txt"
  WAYLAND_DEBUG=1 "$tapster" "/TMO=200" "one/Shift/D" "one/Ctrl/D" "nosuch/'x'" >"$work/out.txt" 2>"$work/wire.txt"
  [ $? = 1 ] || fail "the run did not fail"
  awk '/zwp_virtual_keyboard_v1@[0-9]+\.key\(/ { split($0, a, /[(,)]/); down[a[3]+0] = a[4]+0 }
       /zwp_virtual_keyboard_v1@[0-9]+\.destroy/ { for (k in down) if (down[k]) { print "held " k; bad = 1 }; seen = 1 }
       END { exit bad || !seen }' "$work/wire.txt" || fail "keys held at the end: $(grep -c 'key(' "$work/wire.txt") key events"
  ;;
fault)
  # A fault mid-text with Ctrl and the left button held: both go up before the fault handler
  # writes its report. The report goes to standard output, a pipe that stops being read, so
  # the handler waits there with the run still alive. The terminal reports every key press
  # and release (kitty keyboard mode: 57442 is the left Ctrl, ":3" a release) and the
  # buttons ("ESC [ M #" is a release).
  SEAT_DEVICES_ARGS=pointer sway_start "$work/sway"
  foot_window one "$work/one.txt" "printf '\\033[>11u\\033[?1000h';"
  long=$(printf '__________%.0s' $(seq 4000))
  held=("one/Ctrl/D" "one/Mouse:L/D/50/50")
  for how in SEGV ABRT crash1; do
    : >"$work/one.txt"
    rm -f "$work/out.fifo" && mkfifo "$work/out.fifo"
    cat "$work/out.fifo" >"$work/out.txt" &
    reader=$!
    SWAY_PIDS+=($reader)
    # CrashMe strikes by itself, seconds into the text: time enough to block the pipe first.
    if [ $how = crash1 ]; then
      (cd "$work" && INPUTFAULT=$how INPUTFAULT_AFTER=20000 exec "$probe" "${held[@]}" "one/'$long'") >"$work/out.fifo" 2>&1 &
    else
      (cd "$work" && exec "$tapster" "${held[@]}" "one/'$long'") >"$work/out.fifo" 2>&1 &
    fi
    run_pid=$!
    SWAY_PIDS+=($run_pid)
    wait_for "[ \$(wc -c < '$work/one.txt') -ge 200 ]" || fail "$how: no text arrived"
    kill -STOP $reader
    dd if=/dev/zero of="$work/out.fifo" oflag=nonblock bs=1 count=100000 2>/dev/null
    : >"$work/one.txt"
    [ $how = crash1 ] || kill -$how $run_pid
    wait_for "grep -qa '57442;[0-9]*:3u' '$work/one.txt'" 100 || fail "$how: Ctrl still down"
    wait_for "grep -qaF '[M#' '$work/one.txt'" 100 || fail "$how: the button still down"
    kill -0 $run_pid 2>/dev/null || fail "$how: the run ended before the check, which proves nothing"
    kill -CONT $reader
    wait $run_pid
    [ $? = 1 ] || fail "$how: status not 1"
    wait $reader
    cat "$work"/*.err | grep -qE 'Invalid memory segment access|Abort \(|Invalid parameter fault' || fail "$how: no fault report"
    rm -f "$work"/*.err
  done
  # A compositor that reads late (stopped for a tenth of a second): the handler waits for it to
  # take the release before the run ends, since an ended run's unread requests are dropped.
  : >"$work/one.txt"
  "$tapster" "${held[1]}" "one/'$long'" >"$work/out.txt" 2>&1 &
  run_pid=$!
  SWAY_PIDS+=($run_pid)
  wait_for "[ \$(wc -c < '$work/one.txt') -ge 200 ]" || fail "late: no text arrived"
  kill -STOP "${SWAY_PIDS[0]}"
  : >"$work/one.txt"
  kill -SEGV $run_pid
  sleep 0.1
  kill -CONT "${SWAY_PIDS[0]}"
  wait $run_pid
  wait_for "grep -qaF '[M#' '$work/one.txt'" 100 || fail "late: the button still down"
  ;;
click)
  # A desktop with a mouse: the terminal holds a pointer before ours moves.
  SEAT_DEVICES_ARGS=pointer sway_start "$work/sway"
  foot_window one "$work/one.txt" "printf '\\033[?1000h';"
  tree() { swaymsg_q -t get_tree | tr -d ' \n' | grep -o '"rect":{[^}]*},"deco_rect":{[^}]*},"window_rect":{[^}]*},"geometry":{[^}]*},"name":"one"'; }
  width=$(tree | grep -o '"width":[0-9]*' | head -1 | cut -d: -f2)
  height=$(tree | grep -o '"height":[0-9]*' | head -1 | cut -d: -f2)
  [ -n "$width" ] && [ -n "$height" ] || fail "no geometry"
  # The terminal starts at the size of the whole output, which its tile has, and keeps it.
  foot_pid=${SWAY_PIDS[-1]}
  tty=$(readlink "/proc/$(cut -d' ' -f1 "/proc/$foot_pid/task/$foot_pid/children")/fd/0")
  [ "$width" = 1024 ] && [ -c "$tty" ] || fail "no terminal or not the whole output: $tty ${width}x$height"
  read -r rows cols < <(stty -F "$tty" size)
  # The middle of cell (column 7, row 3): a cell is at least width / cols wide.
  x=$(( (width * 13) / (2 * cols) )) y=$(( (height * 5) / (2 * rows) ))
  run "one/Mouse:L//$y/$x"
  [ "$(status)" = 0 ] || fail "status $(status)"
  wait_for "[ \$(wc -c < '$work/one.txt') -ge 6 ]" || fail "no click report"
  report=$(od -An -tu1 -N6 "$work/one.txt" | tr -s ' ')
  [ "$report" = " 27 91 77 32 39 35" ] || fail "click report [$report] for $x,$y in ${width}x$height, ${cols}x$rows"
  ;;
closed)
  # The window closes while its text is typed: the run stops, and at most one chunk of 16
  # characters can reach the window that gets the focus next.
  sway_start "$work/sway"
  foot_window one "$work/one.txt"
  foot_window two "$work/two.txt"
  long=$(printf 'abcdefghij%.0s' $(seq 3000))
  "$tapster" "one/'$long'" >"$work/out.txt" 2>&1 &
  run_pid=$!
  wait_for "[ \$(wc -c < '$work/one.txt') -ge 100 ]" || fail "no text arrived"
  swaymsg_q "[title=^one\$] kill" >/dev/null
  wait $run_pid
  [ $? = 1 ] && grep -qE 'Text: the window "one" closed before the text was sent whole|Handle does not refer to an active window' "$work/out.txt" ||
    fail "no error: $(cat "$work/out.txt" | tail -c 300)"
  [ "$(wc -c < "$work/two.txt")" -le 16 ] || fail "two got $(wc -c < "$work/two.txt") characters"
  ;;
turns)
  # Two runs at once on one display take turns: neither's text lands in the other's window.
  sway_start "$work/sway"
  foot_window one "$work/one.txt"
  foot_window two "$work/two.txt"
  a=$(printf 'aaaaaaaaaa%.0s' $(seq 1000)) b=$(printf 'bbbbbbbbbb%.0s' $(seq 1000))
  # Each text takes seconds: the other run waits longer than the default window timeout.
  "$tapster" /TMO=20000 "one/'$a'" >"$work/a.txt" 2>&1 &
  pa=$!
  "$tapster" /TMO=20000 "two/'$b'" >"$work/b.txt" 2>&1 &
  pb=$!
  wait $pa || fail "first run: $(tail -c 300 "$work/a.txt")"
  wait $pb || fail "second run: $(tail -c 300 "$work/b.txt")"
  # Each window holds its own run's letters, all of them.
  wait_for "[ \$(wc -c < '$work/one.txt') -eq 10000 ] && [ \$(wc -c < '$work/two.txt') -eq 10000 ]" 100 ||
    fail "the texts did not arrive: $(wc -c "$work/one.txt" "$work/two.txt")"
  [ -z "$(tr -d a < "$work/one.txt")" ] && [ -z "$(tr -d b < "$work/two.txt")" ] || fail "the texts got mixed"
  : >"$work/one.txt" && : >"$work/two.txt"
  # Shift held across the pauses between commands keeps the turn for seconds: a second run
  # gives up after its timeout, and a killed holder leaves the turn free.
  "$tapster" one/Shift/D one/a one/a one/a one/a one/a one/a one/Shift/U >"$work/a.txt" 2>&1 &
  pa=$!
  wait_for "grep -q A '$work/one.txt'" 100 || fail "the holder did not type: $(cat "$work/a.txt")"
  run "/TMO=300" "two/'b'" >/dev/null
  [ "$(status)" = 1 ] && grep -q "ERROR: AcquireInputLock: another run is sending input to this desktop; gave up after 300 ms" "$work/out.txt" ||
    fail "the second run did not give up: $(status) $(cat "$work/out.txt")"
  kill -9 $pa
  wait $pa 2>/dev/null
  run "/TMO=5000" "two/'b'" >/dev/null
  [ "$(status)" = 0 ] || fail "after the holder: $(status) $(cat "$work/out.txt")"
  wait_text "$work/two.txt" b || fail "two got [$(cat "$work/two.txt")]"
  ;;
noproto)
  # A compositor without the wlroots protocols: the error says what is missing.
  export XDG_RUNTIME_DIR=$work && chmod 700 "$work"
  "$bare" bare-1 &
  bare_pid=$!
  wait_for "[ -S '$work/bare-1' ]" || fail "the bare compositor did not start"
  WAYLAND_DISPLAY=bare-1 DISPLAY= run "one/'x'"
  kill $bare_pid
  [ "$(status)" = 1 ] && grep -q 'does not offer zwlr_foreign_toplevel_manager_v1' "$work/out.txt" &&
    grep -q 'zwp_virtual_keyboard_manager_v1' "$work/out.txt" && grep -q 'X11 windows stay reachable through DISPLAY' "$work/out.txt" ||
    fail "no clear error"
  WAYLAND_DISPLAY= TAPSTER_BACKEND=wayland run "one/'x'"
  grep -q 'WAYLAND_DISPLAY is not set' "$work/out.txt" || fail "no error without a display"
  TAPSTER_BACKEND=mir run "one/'x'"
  grep -q 'TAPSTER_BACKEND=mir: the backends are x11 and wayland' "$work/out.txt" || fail "no error for a bad backend"
  ;;
*) fail "unknown case $case_name" ;;
esac
echo "PASS: $case_name"
