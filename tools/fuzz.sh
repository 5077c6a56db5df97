#!/usr/bin/env bash
# Builds the fuzz targets (clang, the whole runtime with ASan+UBSan and coverage feedback)
# and runs each for a bounded time, one after the other, at low priority.
# Usage: tools/fuzz.sh [seconds per target (default 30)] [target ...]   (default: all)
#   tools/fuzz.sh 600                 a longer run of every target
#   tools/fuzz.sh 60 fuzz_cmdfile     one target
# Inputs that found something are kept in build/fuzz/findings/<target>/; replay one with
#   build/fuzz/tests/fuzz/<target> <file>
# New inputs collect in build/fuzz/corpus/<target>/ (outside the source tree) and are used
# again by the next run. Exit status 1 when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
secs=${1:-30}
shift || true
build="$root/build/fuzz"
jobs=$(nproc 2>/dev/null || echo 2)

mkdir -p "$build"
echo "=== fuzz: configure and build"
nice -n 15 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAPSTER_WERROR=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >"$build.configure.log" 2>&1 || {
  cat "$build.configure.log"
  exit 1
}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in "$root"/tests/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$src" .cpp)")
  done
fi
nice -n 15 cmake --build "$build" -j"$jobs" --target "${targets[@]}"

# Leaks of the runtime's own allocator are checked by the targets themselves (its block
# count); the per-input LSan pass would cost most of the time, since that allocator
# keeps freed blocks for reuse. LSan still runs once at the end of each run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
failed=()
summary=()
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  work="$build/corpus/$name"
  findings="$build/findings/$name"
  log="$build/$t.log"
  rm -rf "$findings"
  mkdir -p "$work" "$findings"
  echo "=== fuzz: $t for ${secs}s"
  status=0
  # stdout closed: the targets' program log and command echo would only flood the output.
  nice -n 15 "$build/tests/fuzz/$t" -max_total_time="$secs" -timeout=30 -rss_limit_mb=2048 \
    -detect_leaks=0 -close_fd_mask=1 -print_final_stats=1 -dict="$root/tests/fuzz/tapster.dict" \
    -artifact_prefix="$findings/" "$work" "$root/tests/fuzz/corpus/$name" >"$log" 2>&1 ||
    status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  if [ $status -ne 0 ] || ls "$findings" | grep -q .; then
    failed+=("$t")
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -5 || true
    echo "$t: FOUND SOMETHING (status $status), log $log, inputs in $findings"
  fi
  summary+=("$t: ${runs:-?} runs, ${cov:-no coverage figure}")
done

printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "FUZZ FINDINGS in: ${failed[*]}"
  exit 1
fi
echo "Fuzzing found nothing: ${targets[*]}"
