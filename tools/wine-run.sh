#!/bin/bash
# Runs a Windows program under Wine with the prefix and display of its build folder
# (the folder that holds CMakeCache.txt above the program, or $TAPSTER_BUILD_DIR).
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"

if [ $# -lt 1 ]; then
  echo "usage: $0 program.exe [arguments...]" >&2
  exit 2
fi

build=${TAPSTER_BUILD_DIR:-}
if [ -z "$build" ]; then
  build=$(cd "$(dirname "$1")" && pwd)
  while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do
    build=$(dirname "$build")
  done
  [ -f "$build/CMakeCache.txt" ] || build=$(cd "$(dirname "$1")" && pwd)
fi

wine_env_setup "$build" || exit 125
exec wine "$@"
