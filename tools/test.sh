#!/usr/bin/env bash
# Sets up the machine, builds every configuration and runs all tests:
#   native (X11 end-to-end on Xvfb), native with ASan+UBSan, and the Windows builds
#   (32-bit release target and 64-bit) whose tests run under Wine.
# Usage: tools/test.sh [native|asan|win32|win64 ...]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(native asan win32 win64)

failed=()
# Each Wine prefix under a build folder has its Xvfb and wineserver; whatever a test or an
# interrupted run left behind goes with them.
stop_wine_envs() {
  local state
  [ -d "$1" ] || return 0
  while IFS= read -r state; do
    bash "$root/tools/wine-env.sh" stop "$(dirname "$state")" || true
  done < <(find "$1" -type d -name wine-env -prune 2>/dev/null)
}
started=()
cleanup() {
  local d
  for d in "${started[@]}"; do stop_wine_envs "$d"; done
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

run_config() {
  local name=$1
  shift
  local dir="$root/build/$name"
  started+=("$dir")
  echo "=== $name: configure and build"
  cmake -S "$root" -B "$dir" -G Ninja -DTAPSTER_WERROR=ON "$@" >"$dir.configure.log" 2>&1 || {
    cat "$dir.configure.log"
    return 1
  }
  cmake --build "$dir" -j"$jobs" || return 1
  echo "=== $name: tests"
  local status=0
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600 || status=$?
  stop_wine_envs "$dir"
  return $status
}

mkdir -p build
for c in "${configs[@]}"; do
  case "$c" in
  native) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan) args=(-DCMAKE_BUILD_TYPE=Debug -DTAPSTER_SANITIZE=ON) ;;
  # The 32-bit build is tested as it ships: optimised and static.
  win32) args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686.cmake") ;;
  # Between them the configurations build every build type with warnings as errors.
  win64) args=(-DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake") ;;
  *)
    echo "unknown configuration: $c" >&2
    exit 2
    ;;
  esac
  run_config "$c" "${args[@]}" || failed+=("$c")
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED configurations: ${failed[*]}"
  exit 1
fi
echo "All configurations passed: ${configs[*]}"
