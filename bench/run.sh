#!/bin/sh
# Builds the benchmarks, runs each pair side by side and prints how the library routine
# compares with its standard-library counterpart (time ratio: below 1 means faster).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAPSTER_BENCH=ON \
  -DTAPSTER_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_files bench_mem bench_numbers -j2

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$build/bench/bench_files" --benchmark_out="$out/files.json" --benchmark_out_format=json
"$build/bench/bench_numbers" --benchmark_out="$out/numbers.json" --benchmark_out_format=json
"$build/bench/bench_mem" --benchmark_out="$out/mem.json" --benchmark_out_format=json

python3 - "$out/files.json" "$out/numbers.json" "$out/mem.json" <<'PY'
import json, sys
real, cpu, unit = {}, {}, {}
for path in sys.argv[1:]:
    for b in json.load(open(path))["benchmarks"]:
        name = b["name"].split("/")[0]
        real[name], cpu[name], unit[name] = b["real_time"], b["cpu_time"], b["time_unit"]
for ours, theirs in (("BM_FLReadRec", "BM_StdGetline"), ("BM_St10I8", "BM_StdStrtoll"),
                     ("BM_TrackedRings", "BM_Malloc"), ("BM_TrackedNoRings", "BM_Malloc"),
                     ("BM_Lpm", "BM_Malloc")):
    if ours in real and theirs in real:
        print(f"{ours} / {theirs}: time ratio {real[ours] / real[theirs]:.2f} "
              f"({real[ours]:.1f} vs {real[theirs]:.1f} {unit[theirs]}), "
              f"cpu ratio {cpu[ours] / cpu[theirs]:.2f}")
PY
