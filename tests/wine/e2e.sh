#!/bin/bash
# One end-to-end case: tapster.exe sends input to testwin_win32 under Wine, and the test
# window's message log shows what arrived.
#   e2e.sh CASE TAPSTER_EXE TESTWIN_EXE WORK_DIR
set -u
case_name=$1 tapster=$2 testwin=$3 work=$4
run="$(cd "$(dirname "$0")/../../tools" && pwd)/wine-run.sh"
limit=${E2E_LIMIT:-60} # seconds for any awaited condition
rm -rf "$work" && mkdir -p "$work" || exit 1
# Skipped (77) where Wine cannot run these programs at all.
"$run" --can-run "$tapster" && "$run" --can-run "$testwin" || exit $?

pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
}
trap cleanup EXIT

fail() {
  echo "FAIL ($case_name): $*"
  local f
  for f in "$work"/*.log "$work"/out.txt; do
    [ -f "$f" ] && { echo "--- $f"; cat "$f"; }
  done
  exit 1
}

winpath() { echo "Z:${1//\//\\}"; }

# Waits until FILE has a line matching the extended regular expression.
wait_line() {
  local file=$1 pattern=$2 deadline=$((SECONDS + limit))
  until grep -Eq -- "$pattern" "$file" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || fail "no line /$pattern/ in $(basename "$file") after ${limit}s"
    sleep 0.05
  done
}

# Starts a test window whose messages go to $work/NAME.log; options as testwin_win32's.
start_window() {
  local name=$1
  shift
  "$run" "$testwin" --log "$(winpath "$work/$name.log")" --quit-after 240 "$@" \
    </dev/null >"$work/$name.err" 2>&1 &
  pids+=($!)
}

ready() { wait_line "$work/$1.log" '^ready '; }

# Runs tapster.exe; its standard output (without CRs) lands in $work/out.txt, status in $status.
tapster() {
  "$run" "$tapster" "$@" </dev/null 2>"$work/stderr.txt" | tr -d '\r' >"$work/out.txt"
  status=${PIPESTATUS[0]}
  [ $status -ne 77 ] || exit 77
}

expect_status() {
  [ "$status" = "$1" ] || fail "tapster exit status $status, expected $1"
}

# The hexadecimal codes of the character messages in a window's log, in order.
chars() { sed -n 's/^char win=[a-z]* code=\([0-9a-f]*\)$/\1/p' "$work/$1.log" | tr '\n' ' '; }

field() { sed -n "s/^ready .*$2=\([-0-9,]*\).*/\1/p" "$work/$1.log" | cut -d, -f"$3"; }

case $case_name in
key)
  start_window w --title "E2E Keys"
  ready w
  tapster "E2E Keys/A" "E2E Keys/F5/D" "E2E Keys/F5/U"
  expect_status 0
  [ "$(grep -xE 'E2E Keys/(A|F5/D|F5/U)' "$work/out.txt" | tr '\n' ';')" = \
    "E2E Keys/A;E2E Keys/F5/D;E2E Keys/F5/U;" ] || fail "commands not echoed in order"
  wait_line "$work/w.log" '^keyup win=top vk=74 '
  got=$(grep -E '^key(down|up) ' "$work/w.log" | sed 's/ scan=.*//' | tr '\n' ';')
  [ "$got" = "keydown win=top vk=41;keyup win=top vk=41;keydown win=top vk=74;keyup win=top vk=74;" ] ||
    fail "key messages: $got"
  grep -q '^keydown win=top vk=41 scan=1e$' "$work/w.log" || fail "A without its scan code"
  ;;
text)
  start_window w --title "E2E Text"
  ready w
  tapster "E2E Text/'Hello World<enter>'"
  expect_status 0
  wait_line "$work/w.log" '^keyup win=top vk=0d '
  got=$(chars w)
  [ "$got" = "48 65 6c 6c 6f 20 57 6f 72 6c 64 0d " ] || fail "characters: $got"
  ;;
turns)
  # Two runs started together: each text reaches its own window whole, shifted characters
  # intact. (Capitals go through CapsLock; the layout case covers them.)
  start_window a --title "E2E Turn A" --x 40 --y 40
  start_window b --title "E2E Turn B" --x 420 --y 40
  ready a
  ready b
  text_a="shifted_one: two+three_four: five+six_seven: eight+nine_ten"
  text_b="lower case only one two three four five six seven eight nine"
  "$run" "$tapster" "E2E Turn A/'$text_a'" </dev/null >"$work/a.out" 2>&1 &
  run_a=$!
  "$run" "$tapster" "E2E Turn B/'$text_b'" </dev/null >"$work/b.out" 2>&1 &
  run_b=$!
  wait $run_a
  status_a=$?
  wait $run_b
  status_b=$?
  [ $status_a -ne 77 ] && [ $status_b -ne 77 ] || exit 77
  [ $status_a = 0 ] && [ $status_b = 0 ] ||
    fail "exit status $status_a and $status_b: $(cat "$work/a.out" "$work/b.out")"
  hex() { printf '%s' "$1" | od -An -tx1 -v | tr -s ' \n' ' ' | sed 's/^ //'; }
  for w in a b; do
    [ $w = a ] && want=$(hex "$text_a") || want=$(hex "$text_b")
    end=$((SECONDS + limit))
    until [ "$(chars $w)" = "$want" ]; do
      [ $SECONDS -lt $end ] || fail "characters in $w: $(chars $w), expected $want"
      sleep 0.05
    done
  done
  ;;
closing)
  # The window closes itself in the middle of a long text (under Wine without a window
  # manager its thread then hangs): the run fails, and no more than one batch of keys
  # reaches the window behind it.
  start_window b --title "E2E Bystander" --x 40 --y 40
  ready b
  start_window w --title "E2E Closing" --x 60 --y 60 --close-after-chars 20
  ready w
  tapster "E2E Closing/'$(printf 'abcdefghij%.0s' $(seq 40))'"
  expect_status 1
  grep -Eq '^ERROR: (ActivateWindow failure|Handle does not refer to an active window)' \
    "$work/out.txt" || fail "no activation or window error"
  grep -q '^closing' "$work/w.log" || fail "the window did not close"
  # A marker behind whatever reached the bystander: once it is in, everything before is.
  # A lower-case one: an upper-case letter toggles CapsLock, and a Wine window that has just
  # come forward may take the lock's state from the X server after the toggle.
  tapster "E2E Bystander/'x'"
  expect_status 0
  wait_line "$work/b.log" '^char win=top code=78$'
  n=$(sed '/code=78$/q' "$work/b.log" | grep -c '^char')
  [ "$n" -le 17 ] || fail "$((n - 1)) characters reached the window behind"
  ;;
click)
  start_window w --title "E2E Click" --x 150 --y 120 --popup 1
  ready w
  tapster "E2E Click/Mouse:L//10/20" "E2E Click///40/30"
  expect_status 0
  # Command offsets count from the outer corner; the window reports client positions.
  x=$(($(field w rect 1) + 20 - $(field w client 1)))
  y=$(($(field w rect 2) + 10 - $(field w client 2)))
  wait_line "$work/w.log" "^lbuttonup win=top x=$x y=$y\$"
  grep -q "^lbuttondown win=top x=$x y=$y\$" "$work/w.log" || fail "no press at $x,$y"
  wait_line "$work/w.log" "^mousemove win=top x=$((x + 10)) y=$((y + 30))\$"
  grep -q '^rbutton' "$work/w.log" && fail "a right button message"
  ;;
lookup)
  start_window c --title "E2E By Class" --class "TapsterE2EClass"
  start_window t --title "E2E Tilde Title" --x 300 --y 250
  ready c
  ready t
  tapster "Class:tapstere2e~/B" "E2E T~de Ti~/C" "class:TAPSTERE2ECLASS/D"
  expect_status 0
  wait_line "$work/c.log" '^keyup win=top vk=44 '
  wait_line "$work/t.log" '^keyup win=top vk=43 '
  grep -q 'vk=42' "$work/c.log" || fail "B did not reach the window found by class"
  grep -q 'vk=4[24]' "$work/t.log" && fail "keys of the class window reached the other one"
  ;;
child)
  start_window w --title "E2E Parent" --child-title "E2E Kid Field"
  ready w
  tapster "E2E Kid ~/X"
  expect_status 0
  wait_line "$work/w.log" '^keyup win=child vk=58 '
  grep -q '^keydown win=child vk=58 ' "$work/w.log" || fail "X did not go to the child window"
  ;;
delayed)
  # tapster starts first and waits; the window appears 300 ms after its own program starts.
  tapster /TMO=30000 "E2E Late/A" &
  tapster_pid=$!
  start_window w --title "E2E Late" --delay 300
  wait $tapster_pid
  status=$?
  [ $status -ne 77 ] || exit 77
  expect_status 0
  grep -q '^started ' "$work/w.log" || fail "the window's program never started"
  wait_line "$work/w.log" '^keyup win=top vk=41 '
  ;;
layout)
  # On a US and on a German keyboard every character that typed text accepts arrives as
  # itself. A client of our own holds the display, so that it cannot reset to the default
  # layout between programs; the display goes back to US afterwards for the other cases.
  source "$(dirname "$run")/wine-env.sh"
  wine_env_setup "$TAPSTER_BUILD_DIR" || fail "no Wine display"
  xev -root >/dev/null 2>&1 &
  pids+=($!)
  trap 'setxkbmap us; cleanup' EXIT
  text='abcxyzABCXYZ0123456789 ,.?;:*[]\-_=+'
  want=$(printf '%s\r%s\r' "$text" "$text" | od -An -tx1 | tr -s ' \n' ' ' | sed 's/^ //')
  for layout in us de; do
    setxkbmap $layout || fail "setxkbmap $layout"
    start_window $layout --title "E2E Layout $layout"
    ready $layout
    # CapsLock goes off again at the end: a window that Wine starts later takes it as off
    # whatever the desktop's lock is, and the first toggle there would then be lost.
    tapster "E2E Layout $layout/'$text<enter>'" "E2E Layout $layout/CapsLock" \
      "E2E Layout $layout/'$text<enter>'" "E2E Layout $layout/CapsLock"
    expect_status 0
    end=$((SECONDS + limit))
    until [ "$(chars $layout)" = "$want" ]; do
      [ $SECONDS -lt $end ] || fail "characters on $layout: $(chars $layout), expected $want"
      sleep 0.05
    done
  done
  ;;
daemon)
  # A daemon program brings the window forward through Frontwin.exe beside it; the window
  # started last is in front at first.
  start_window w --title "E2E Daemon Target"
  ready w
  start_window o --title "E2E Daemon Other" --x 300 --y 250
  ready o
  tapster -daemon_pgm "E2E Daemon Target/A"
  expect_status 0
  wait_line "$work/w.log" '^keyup win=top vk=41 '
  grep -q 'vk=41' "$work/o.log" && fail "the key reached the other window"
  ;;
daemon-alone)
  # Without its sibling the window cannot come forward: the activation error, no keys.
  start_window w --title "E2E Lone Target"
  ready w
  start_window o --title "E2E Lone Other" --x 300 --y 250
  ready o
  mkdir -p "$work/alone" && cp "$tapster" "$work/alone/" || fail "cannot copy tapster"
  tapster=$work/alone/$(basename "$tapster")
  tapster -daemon_pgm "E2E Lone Target/A"
  expect_status 1
  grep -q '^ERROR: ActivateWindow failure' "$work/out.txt" || fail "no activation error"
  grep -q 'vk=41' "$work/w.log" "$work/o.log" && fail "the key was typed anyway"
  ;;
fault)
  # The program faults mid-text with Shift held (this case runs inputfaultprobe, tapster
  # with a fault of its own): the handler lets Shift go.
  start_window w --title "E2E Fault"
  ready w
  text=$(printf '_%.0s' $(seq 400))
  for fault in crash0 segv; do
    INPUTFAULT=$fault INPUTFAULT_AFTER=200 tapster "E2E Fault/Shift/D" "E2E Fault/'$text'"
    expect_status 1
    grep -q '^Program Fault: Error' "$work/out.txt" || fail "$fault: no fault reported"
    end=$((SECONDS + limit))
    until grep -E '^key(down|up) win=top vk=10 ' "$work/w.log" | tail -1 | grep -q '^keyup'; do
      [ $SECONDS -lt $end ] || fail "$fault: Shift still down"
      sleep 0.05
    done
  done
  ;;
missing)
  tapster /TMO=300 "E2E Nobody Here/A"
  expect_status 1
  grep -qx 'E2E Nobody Here/A' "$work/out.txt" || fail "command not echoed"
  # The message may carry its callers group after the text.
  grep -q '^ERROR: Window "E2E Nobody Here" not found\( \[\[.*\]\]\)\?$' "$work/out.txt" ||
    fail "no not-found error line"
  ;;
unattended)
  # Without standard output the error still reaches the error file.
  (cd "$work" && "$run" "$tapster" /TMO=0 "E2E Nobody Here/A" </dev/null >&- 2>"$work/stderr.txt")
  status=$?
  [ $status -ne 77 ] || exit 77
  expect_status 1
  grep -q 'ERROR: Window "E2E Nobody Here" not found' "$work/tapster.err" ||
    fail "no error line in the error file"
  # A daemon's report to the session waits for an answer a minute at most.
  start=$SECONDS
  (cd "$work" && timeout $((limit * 3)) "$run" "$tapster" -daemon_pgm -Bogus </dev/null \
    >"$work/out.txt" 2>&1)
  status=$?
  [ $status -ne 77 ] || exit 77
  expect_status 1
  [ $((SECONDS - start)) -le $((limit * 2)) ] || fail "the report took $((SECONDS - start)) s"
  grep -q 'ERROR: .*Bogus' "$work/tapster.err" || fail "no daemon error line in the error file"
  ;;
*)
  echo "unknown case $case_name" >&2
  exit 2
  ;;
esac
echo "ok ($case_name)"
