#!/bin/bash
# Signals from outside reach a Windows program under Wine as Wine passes them on: SIGINT
# as a console Ctrl-C event, SIGABRT as an exception. Each must end the probe's window
# wait in order: status 1, the report, a whole log.
#   wine_signals.sh KBPROBE_EXE WORK_DIR
set -u
probe=$1 work=$2
run="$(cd "$(dirname "$0")/../../tools" && pwd)/wine-run.sh"
"$run" --can-run "$probe" || exit $?
winpath() { echo "Z:${1//\//\\}"; }

fail() {
  echo "FAIL ($sig): $*"
  for f in "$dir"/out.txt "$dir"/p.log; do [ -f "$f" ] && { echo "--- $f"; cat "$f"; }; done
  exit 1
}

for sig in INT ABRT; do
  dir=$work/$sig
  rm -rf "$dir" && mkdir -p "$dir"
  "$run" "$probe" wait /TMO=60000 NoSuchWindow/a "-LOG=$(winpath "$dir/p.log")" \
    </dev/null >"$dir/out.txt" 2>&1 &
  pid=$!
  deadline=$((SECONDS + 60))
  until grep -q "NoSuchWindow/a" "$dir/out.txt" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || { kill -9 $pid; fail "the probe did not start"; }
    sleep 0.05
  done
  kill -$sig $pid
  deadline=$((SECONDS + 60))
  while kill -0 $pid 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || { kill -9 $pid; fail "the probe did not end"; }
    sleep 0.05
  done
  wait $pid
  status=$?
  [ $status -eq 1 ] || fail "status $status"
  case $sig in
  INT) grep -q "ERROR: Process aborted" "$dir/out.txt" || fail "no abort error" ;;
  ABRT)
    grep -q "Program Fault: Signal 22: Abort (invalid pointer?)" "$dir/out.txt" || fail "no banner"
    grep -q "STACK FRAMES:" "$dir/p.log" || fail "no stack in the log"
    # Wine runs the handler on a stack of its own, where the system's walk finds nothing.
    grep -q "^ Call:[0-9A-F]* SignalFaultHandler/" "$dir/p.log" || fail "no frames in the log"
    grep -q "ERROR: Abort (invalid pointer?)" "$dir/p.log" || fail "no error in the log"
    ;;
  esac
  [ "$(tail -c 1 "$dir/p.log" | od -An -c | tr -d ' ')" = '\n' ] || fail "the log ends mid-line"
  echo "$sig: ended in order"
done
