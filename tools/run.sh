#!/usr/bin/env bash
# Sets up the machine, builds Tapster and runs its main job on the built-in default:
# typing and clicking into our own test window on a virtual display, natively on X11 and
# (with the Windows build) under Wine, and on a headless Wayland compositor (sway), each
# time showing what the window received.
#   tools/run.sh [x11|wine|wayland ...]   (default: all three)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash tools/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(x11 wine wayland)
for t in "${targets[@]}"; do
  case "$t" in
  x11)
    cmake -S . -B build/native -G Ninja >/dev/null
    cmake --build build/native -j"$jobs" --target tapster testwin_x11 manual
    bash tools/demo.sh build/native
    (cd build/native && cpack -G DEB >/dev/null)
    echo "run: Debian package $(ls build/native/tapster_*.deb) (apt install ./build/native/tapster_*.deb)"
    ;;
  wine)
    cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" >/dev/null
    cmake --build build/win64 -j"$jobs" --target tapster testwin_win32
    bash tools/demo-wine.sh build/win64
    ;;
  wayland)
    cmake -S . -B build/native -G Ninja >/dev/null
    cmake --build build/native -j"$jobs" --target tapster
    bash tools/demo-wayland.sh build/native
    ;;
  *)
    echo "unknown demo: $t (x11, wine or wayland)" >&2
    exit 2
    ;;
  esac
done
