#!/bin/bash
# Runs a Windows program under Wine with the prefix and display of its build folder
# (the folder that holds CMakeCache.txt above the program, or $TAPSTER_BUILD_DIR).
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"

if [ $# -lt 1 ]; then
  echo "usage: $0 [--can-run] program.exe [arguments...]" >&2
  exit 2
fi
# --can-run: only tell (status 0 or 77) whether the program can run here.
check_only=
if [ "$1" = --can-run ]; then
  check_only=1
  shift
fi

build=${TAPSTER_BUILD_DIR:-}
if [ -z "$build" ]; then
  build=$(cd "$(dirname "$1")" && pwd)
  while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do
    build=$(dirname "$build")
  done
  [ -f "$build/CMakeCache.txt" ] || build=$(cd "$(dirname "$1")" && pwd)
fi

# PE machine field: 0x14c is 32-bit x86.
pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
machine=$(od -An -tx2 -j$((${pe:-0} + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
if [ "$machine" = 014c ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  # Reported to CTest as skipped (SKIP_RETURN_CODE 77), not as passed.
  echo "wine-run: this machine cannot run 32-bit programs, so $1 cannot run under Wine" >&2
  exit 77
fi

[ -z "$check_only" ] || exit 0

# The 32-bit loader hands a 64-bit program to a process of its own, which signals sent to
# this one would never reach.
if [ "$machine" = 8664 ] && [ -x /usr/lib/wine/wine64 ]; then
  WINE_ENV_LOADER=/usr/lib/wine/wine64
fi

wine_env_setup "$build" || exit 125
exec "$WINE_ENV_LOADER" "$@"
