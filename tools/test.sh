#!/usr/bin/env bash
# Sets up the machine, builds every configuration and runs all tests:
#   native (X11 end-to-end on Xvfb), native with ASan+UBSan, and the Windows builds
#   (32-bit release target and 64-bit) whose tests run under Wine, then the packages; then
#   every fuzz target for a short bounded time (tools/fuzz.sh), failing on any finding.
# Usage: tools/test.sh [native|asan|win32|win64|package|fuzz ...]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(native asan win32 win64 package fuzz)

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

# Builds the Debian package (native) and the Windows zip (32-bit) and checks what users get:
# the .deb installed into a scratch root runs and carries its manual, the zip's 32-bit
# tapster.exe runs under Wine.
package_check() {
  local native="$root/build/native" win="$root/build/win32" scratch
  started+=("$win")
  echo "=== package: build"
  cmake -S "$root" -B "$native" -G Ninja -DTAPSTER_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$native.configure.log" 2>&1 &&
    cmake -S "$root" -B "$win" -G Ninja -DTAPSTER_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686.cmake" >"$win.configure.log" 2>&1 || {
    cat "$native.configure.log" "$win.configure.log"
    return 1
  }
  local wintargets=(tapster)
  grep -q '^frontwin:' <(cmake --build "$win" --target help) && wintargets+=(frontwin)
  cmake --build "$native" -j"$jobs" --target tapster manual &&
    cmake --build "$win" -j"$jobs" --target "${wintargets[@]}" || return 1
  (cd "$native" && cpack -G DEB >cpack.log) && (cd "$win" && cpack -G ZIP >cpack.log) || return 1
  local version
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$native/CMakeCache.txt")
  local deb="$native/tapster_${version}_$(dpkg --print-architecture).deb"
  local zip="$win/tapster-$version-win32.zip"
  scratch=$(mktemp -d)
  local status=0
  package_check_deb "$deb" "$version" "$scratch/deb" || status=1
  package_check_zip "$zip" "$version" "$scratch/zip" "$win" || status=1
  rm -rf "$scratch"
  [ $status -eq 0 ] && echo "=== package: $(basename "$deb") and $(basename "$zip") pass"
  return $status
}

package_fail() {
  echo "package: $*" >&2
  return 1
}

package_check_deb() {
  local deb=$1 version=$2 dest=$3 depends f
  [ -f "$deb" ] || package_fail "$deb was not made" || return 1
  depends=$(dpkg-deb -f "$deb" Depends)
  for f in libc6 libx11-6 libxtst6 libwayland-client0 libxkbcommon0; do
    [[ $depends == *"$f"* ]] || package_fail "Depends lacks $f: $depends" || return 1
  done
  # A real install, into a root of its own with an empty package database.
  mkdir -p "$dest/var/lib/dpkg/info" "$dest/var/lib/dpkg/updates"
  touch "$dest/var/lib/dpkg/status"
  dpkg --root="$dest" --force-depends --force-not-root --log=/dev/null -i "$deb" >/dev/null 2>&1 ||
    package_fail "dpkg could not install $deb" || return 1
  for f in usr/bin/tapster usr/share/man/man1/tapster.1.gz usr/share/doc/tapster/README.md; do
    [ -f "$dest/$f" ] || package_fail "$f is not installed" || return 1
  done
  # Programs ship stripped: their function names come from the table embedded in them, and
  # the debug data stays beside the build.
  # Outputs are read whole before grep -q looks: a writer cut off by it fails the pipe.
  local sections
  for f in "$dest"/usr/bin/*; do
    sections=$(readelf -S "$f")
    grep -qE ' \.(symtab|debug_info) ' <<<"$sections" && package_fail "$f is not stripped" && return 1
    grep -q ' \.tapsym ' <<<"$sections" || package_fail "$f has no function-name table" || return 1
  done
  ! grep -q '\.debug$' <<<"$(dpkg-deb -c "$deb")" || package_fail "the package holds debug files" || return 1
  echo "package: $(basename "$deb") $(du -k "$deb" | cut -f1) kB, installed $(du -sk "$dest/usr" | cut -f1) kB"
  [ "$("$dest/usr/bin/tapster" --version)" = "Tapster $version" ] ||
    package_fail "the installed tapster does not tell its version" || return 1
  grep -q '^Key names' <<<"$("$dest/usr/bin/tapster" --help)" ||
    package_fail "the installed tapster gives no help" || return 1
  local warnings
  warnings=$(zcat "$dest/usr/share/man/man1/tapster.1.gz" | groff -ww -man -Tutf8 -z 2>&1)
  [ -z "$warnings" ] || package_fail "the installed manual page warns: $warnings"
}

package_check_zip() {
  local zip=$1 version=$2 dest=$3 win=$4 out
  [ -f "$zip" ] || package_fail "$zip was not made" || return 1
  mkdir -p "$dest" && (cd "$dest" && unzip -q "$zip") || package_fail "cannot unpack $zip" || return 1
  [ -f "$dest/tapster.exe" ] || package_fail "the zip holds no tapster.exe" || return 1
  if [ -n "$(find "$win" -maxdepth 3 -iname frontwin.exe)" ]; then
    [ -f "$dest/Frontwin.exe" ] || package_fail "the zip holds no Frontwin.exe" || return 1
  fi
  # PE machine field: 0x14c is 32-bit x86.
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$dest/tapster.exe" | tr -d ' ')
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$dest/tapster.exe" | tr -d ' ')
  [ "$machine" = 014c ] || package_fail "tapster.exe is not a 32-bit program ($machine)" || return 1
  local rc=0
  out=$(TAPSTER_BUILD_DIR="$win" bash "$root/tools/wine-run.sh" "$dest/tapster.exe" --version) || rc=$?
  bash "$root/tools/wine-env.sh" stop "$win" >/dev/null 2>&1 || true
  if [ $rc -eq 77 ]; then
    echo "package: this machine cannot run 32-bit programs; tapster.exe was not run"
    return 0
  fi
  [ "$rc" -eq 0 ] && [ "${out%$'\r'}" = "Tapster $version" ] ||
    package_fail "tapster.exe under Wine: status $rc, output \"$out\""
}

# 30 s per target keeps the whole step within a few minutes.
run_fuzz() {
  bash "$root/tools/fuzz.sh" "${FUZZ_SECONDS:-30}"
}

mkdir -p build
for c in "${configs[@]}"; do
  if [ "$c" = package ]; then
    package_check || failed+=("$c")
    continue
  fi
  if [ "$c" = fuzz ]; then
    run_fuzz || failed+=("$c")
    continue
  fi
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
