#!/usr/bin/env bash
# Tapster against wtype on one headless sway, side by side: typing 2000 characters into a
# foot window (wall time of each whole command and the characters that arrived), then a
# window search plus one key among 500 other toplevels. Ratios are tapster / wtype (below 1
# means faster). wtype types only into the focused window, so it gets the focus first. The
# seat has a keyboard of its own before either tool's appears, as a desktop's seat has.
#
#   bench/vs_wtype.sh [build folder with tapster and bench/many_toplevels] [pairs]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
pairs=${2:-3}
if [ $# -lt 1 ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAPSTER_BENCH=ON \
    -DTAPSTER_TESTS=OFF >/dev/null && cmake --build "$build" --target tapster many_toplevels bench_seat_devices -j2 || exit 1
fi
tapster=$build/tapster many=$build/bench/many_toplevels
export SEAT_DEVICES=$build/bench/bench_seat_devices
command -v wtype >/dev/null || { echo "wtype is not installed (tools/setup.sh)"; exit 1; }
source "$root/tests/wayland/sway-session.sh"
work=$(mktemp -d /tmp/tapster-bench-wl-XXXXXX)
chmod 755 "$work"
trap 'sway_stop; rm -rf "$work"' EXIT
sway_start "$work/sway"
foot_window "Bench Target" "$work/target.txt"

text=$(printf 'the quick brown fox jumps over the lazy dog 0123456789,.-=;%.0s' $(seq 40) | head -c 2000)
now() { date +%s.%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
arrived() { wait_for "[ \$(wc -c < '$work/target.txt') -ge 2000 ]" 50; wc -c <"$work/target.txt"; }

for ((i = 0; i < pairs; i++)); do
  : >"$work/target.txt"
  t0=$(now); "$tapster" "Bench Target/'$text'" >/dev/null; t1=$(now)
  awk "BEGIN { print $t1 - $t0 }" >>"$work/tapster.times"; arrived >>"$work/tapster.chars"
  : >"$work/target.txt"
  swaymsg_q '[title="^Bench Target$"] focus' >/dev/null
  t0=$(now); wtype "$text"; t1=$(now)
  awk "BEGIN { print $t1 - $t0 }" >>"$work/wtype.times"; arrived >>"$work/wtype.chars"
done
ours=$(median <"$work/tapster.times") theirs=$(median <"$work/wtype.times")
echo "typing 2000 characters: tapster ${ours}s, wtype ${theirs}s, time ratio $(awk "BEGIN { printf \"%.3f\", $ours / $theirs }")"
echo "  characters that arrived: tapster $(tr '\n' ' ' <"$work/tapster.chars"), wtype $(tr '\n' ' ' <"$work/wtype.chars")"

"$many" 500 >"$work/many.txt" &
SWAY_PIDS+=($!)
wait_for "grep -q ready '$work/many.txt' && [ \$(sway_views 'Other 500') -ge 1 ]" 600 || { echo "500 toplevels did not open"; exit 1; }
for ((i = 0; i < pairs; i++)); do
  swaymsg_q '[title="^Other 1$"] focus' >/dev/null
  : >"$work/target.txt"
  t0=$(now); "$tapster" "Bench Target/'x'" >/dev/null; t1=$(now)
  awk "BEGIN { print $t1 - $t0 }" >>"$work/search.times"; wait_text_x=$(wait_for "[ -s '$work/target.txt' ]" 50 && cat "$work/target.txt")
  echo "$wait_text_x" >>"$work/search.got"
  : >"$work/target.txt"
  t0=$(now); swaymsg_q '[title="^Bench Target$"] focus' >/dev/null && wtype x; t1=$(now)
  awk "BEGIN { print $t1 - $t0 }" >>"$work/focuskey.times"
done
ours=$(median <"$work/search.times") theirs=$(median <"$work/focuskey.times")
echo "search plus one key among 500 toplevels: tapster ${ours}s; swaymsg focus plus wtype ${theirs}s, time ratio $(awk "BEGIN { printf \"%.3f\", $ours / $theirs }")"
echo "  tapster's key arrived: $(tr '\n' ' ' <"$work/search.got")"
