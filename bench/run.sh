#!/bin/sh
# Builds the benchmarks (Release), runs each pair side by side and prints how the library
# routine compares with its standard-library counterpart, and whether that meets its goal.
#
# Times are medians of several repetitions that Google Benchmark interleaves at random, so
# that a load that comes and goes hits both sides of a pair alike; the verdict goes by
# processor time. Instruction counts from callgrind (fixed iterations, no timing at all)
# are printed beside them: on a shared, loaded machine they are the steadier figure.
#
#   bench/run.sh                   the pairs and the command-file mix
#   bench/run.sh --baseline REV    also the mix built on the runtime of REV (for example
#                                  main), both run alternately: the win in the program
# Environment: BENCH_BUILD_DIR, BENCH_REPS (default 7), BENCH_NO_CALLGRIND=1.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build-bench}
reps=${BENCH_REPS:-7}
baseline=
if [ "${1:-}" = --baseline ]; then
  baseline=${2:?--baseline needs a revision}
fi

configure_build() { # source folder, build folder, targets...
  src=$1 dir=$2
  shift 2
  cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAPSTER_BENCH=ON \
    -DTAPSTER_TESTS=OFF >/dev/null
  cmake --build "$dir" --target "$@" -j2 >/dev/null
}
configure_build "$root" "$build" bench_files bench_mem bench_mix bench_numbers

out=$(mktemp -d)
cleanup() {
  if [ -n "$baseline" ] && [ -d "$out/base-src" ]; then
    git -C "$root" worktree remove --force "$out/base-src" >/dev/null 2>&1 || true
  fi
  rm -rf "$out"
}
trap cleanup EXIT

if [ -n "$baseline" ]; then
  # The earlier runtime with today's benchmark sources on top.
  git -C "$root" worktree add --detach "$out/base-src" "$baseline" >/dev/null 2>&1
  rm -rf "$out/base-src/bench"
  cp -r "$root/bench" "$out/base-src/bench"
  configure_build "$out/base-src" "$build-baseline" bench_mix
fi

{
  echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores"
  echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
} >"$out/machine.txt"

timed() { # binary, name
  "$1" --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true \
    --benchmark_min_time=0.2 --benchmark_report_aggregates_only=true \
    --benchmark_out="$out/$2.json" --benchmark_out_format=json >/dev/null 2>&1
}
timed "$build/bench/bench_mem" mem
timed "$build/bench/bench_numbers" numbers
timed "$build/bench/bench_files" files
if [ -n "$baseline" ]; then
  # Two programs cannot interleave inside one run: they take turns instead.
  i=0
  while [ $i -lt "$reps" ]; do
    for b in "$build" "$build-baseline"; do
      tag=mix
      [ "$b" = "$build" ] || tag=mixbase
      "$b/bench/bench_mix" --benchmark_min_time=0.2 --benchmark_out="$out/$tag.$i.json" \
        --benchmark_out_format=json >/dev/null 2>&1
    done
    i=$((i + 1))
  done
else
  timed "$build/bench/bench_mix" mix
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/machine.txt"

# Instructions per iteration: each benchmark function alone, a fixed number of iterations.
counted() { # binary, name, iterations, [environment]
  [ "${BENCH_NO_CALLGRIND:-}" = 1 ] && return 0
  command -v valgrind >/dev/null || return 0
  env TAPSTER_BENCH_ITERS="$3" TAPSTER_BENCH_FILE_MB=4 ${4:-} valgrind --tool=callgrind \
    --callgrind-out-file="$out/$2.cg" --toggle-collect='*BM_*' "$1" >/dev/null 2>&1
  callgrind_annotate --inclusive=yes "$out/$2.cg" 2>/dev/null |
    sed -n 's/^ *\([0-9,]*\) .*::\(BM_[A-Za-z0-9]*\)(.*/\2 \1/p' | tr -d , |
    awk -v it="$3" -v tag="$2" '{print tag, $1, $2 / it}' >>"$out/instr.txt"
}
counted "$build/bench/bench_mem" mem 2000
counted "$build/bench/bench_numbers" numbers 2
counted "$build/bench/bench_files" files 4
counted "$build/bench/bench_mix" mix 1
[ -n "$baseline" ] && counted "$build-baseline/bench/bench_mix" mixbase 1
touch "$out/instr.txt"

python3 - "$out" "$baseline" <<'PY'
import glob, json, os, statistics, sys
out, baseline = sys.argv[1], sys.argv[2]
med = {}  # (file tag, name) -> (real, cpu, unit)
for path in glob.glob(os.path.join(out, "*.json")):
    tag = os.path.basename(path).split(".")[0]
    runs = {}
    for b in json.load(open(path))["benchmarks"]:
        name = b.get("run_name", b["name"]).split("/")[0]
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                med[(tag, name)] = (b["real_time"], b["cpu_time"], b["time_unit"])
        else:
            runs.setdefault(name, []).append((b["real_time"], b["cpu_time"], b["time_unit"]))
    for name, rs in runs.items():  # single runs taken in turns: collected over the files
        med.setdefault((tag, name, "runs"), []).extend(rs)
for key in [k for k in med if len(k) == 3]:
    rs = med.pop(key)
    med[key[:2]] = (statistics.median(r[0] for r in rs), statistics.median(r[1] for r in rs), rs[0][2])
instr = {}
for line in open(os.path.join(out, "instr.txt")):
    tag, name, n = line.split()
    instr[(tag, name)] = float(n)

print(open(os.path.join(out, "machine.txt")).read().rstrip())
print(f"{'pair':46} {'cpu':>6} {'real':>6} {'instr':>6}  goal")
def pair(tag, ours, theirs, goal, tag2=None, label=None):
    tag2 = tag2 or tag
    a, b = med.get((tag, ours)), med.get((tag2, theirs))
    if not a or not b:
        return
    cpu, real = a[1] / b[1], a[0] / b[0]
    ia, ib = instr.get((tag, ours)), instr.get((tag2, theirs))
    ins = f"{ia / ib:6.2f}" if ia and ib else "     -"
    verdict = "" if goal is None else (f"<= {goal:.2f} " + ("met" if cpu <= goal else "NOT MET"))
    label = label or f"{ours} / {theirs}"
    print(f"{label:46} {cpu:6.2f} {real:6.2f} {ins}  {verdict}")
    print(f"{'':46} ({a[1]:.4g} vs {b[1]:.4g} {b[2]} cpu)")
pair("mem", "BM_TrackedRings", "BM_Malloc", 1.5)
pair("mem", "BM_TrackedNoRings", "BM_Malloc", None)
pair("mem", "BM_Lpm", "BM_Malloc", 0.33)
pair("files", "BM_FLReadRec", "BM_StdGetline", 0.67)
pair("numbers", "BM_St10I8", "BM_StdStrtoll", 0.5)
mix = med.get(("mix", "BM_CommandFile"))
if mix:
    print(f"command file of 10,000 lines: {mix[1]:.4g} {mix[2]} cpu, {mix[0]:.4g} {mix[2]} real"
          + (f", {instr[('mix', 'BM_CommandFile')]:.4g} instructions" if ("mix", "BM_CommandFile") in instr else ""))
if baseline:
    pair("mix", "BM_CommandFile", "BM_CommandFile", None, "mixbase",
         f"command file: this runtime / {baseline}")
PY
