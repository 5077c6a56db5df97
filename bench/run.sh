#!/bin/sh
# Builds the benchmarks, runs each pair side by side and prints how the library routine
# compares with its standard-library counterpart (time ratio: below 1 means faster).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAPSTER_BENCH=ON \
  -DTAPSTER_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_files bench_numbers -j2

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$build/bench/bench_files" --benchmark_out="$out/files.json" --benchmark_out_format=json
"$build/bench/bench_numbers" --benchmark_out="$out/numbers.json" --benchmark_out_format=json

python3 - "$out/files.json" "$out/numbers.json" <<'PY'
import json, sys
times = {}
for path in sys.argv[1:]:
    for b in json.load(open(path))["benchmarks"]:
        times[b["name"]] = b["real_time"]
for ours, theirs in (("BM_FLReadRec", "BM_StdGetline"), ("BM_St10I8", "BM_StdStrtoll")):
    if ours in times and theirs in times:
        print(f"{ours} / {theirs}: {times[ours] / times[theirs]:.2f} "
              f"({times[ours]:.1f} vs {times[theirs]:.1f} ms)")
PY
