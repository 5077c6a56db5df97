#!/bin/bash
# What an error costs a run: tapster with an option it rejects (start-up, the error with
# its callers group, the report, the error file) against tapster printing its usage text
# (the same start-up and end, no error), run alternately in one folder.
#   bench/error_cost.sh TAPSTER [RUNS]     (a .exe runs under Wine through tools/wine-run.sh)
# Prints the median wall time of each kind, their difference and their ratio.
set -u
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") runs=${2:-15}
root=$(cd "$(dirname "$0")/.." && pwd)
run=()
case $exe in *.exe) run=(bash "$root/tools/wine-run.sh") ;; esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

elapsed_ms() {
  local start end
  start=$(date +%s%N)
  "${run[@]}" "$exe" "$@" </dev/null >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

elapsed_ms >/dev/null # a warm start (the Wine server, the page cache)
ok=() err=()
for ((i = 0; i < runs; ++i)); do
  ok+=("$(elapsed_ms)")
  err+=("$(elapsed_ms -no_such_option)")
done
grep -q 'Unrecognized argument "-no_such_option" \[\[' ./*.err 2>/dev/null ||
  echo "warning: the error runs left no error with a callers group" >&2
m_ok=$(printf '%s\n' "${ok[@]}" | median)
m_err=$(printf '%s\n' "${err[@]}" | median)
echo "runs=$runs success_median_ms=$m_ok error_median_ms=$m_err" \
  "error_extra_ms=$((m_err - m_ok))" \
  "ratio=$(awk -v a="$m_err" -v b="$m_ok" 'BEGIN {printf "%.2f", b ? a / b : 0}')"
