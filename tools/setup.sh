#!/usr/bin/env bash
# Installs everything the builds, tests and demo need on a fresh Debian 12 machine.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

packages=(
  build-essential cmake ninja-build clang clang-format libclang-rt-14-dev
  googletest libgtest-dev libbenchmark-dev
  libx11-dev libxtst-dev libx11-xcb-dev libxcb1-dev xvfb x11-utils x11-xkb-utils openbox
  xdotool # the benchmark's yardstick only
  libwayland-dev libwayland-bin libxkbcommon-dev pkgconf # the Wayland backend
  wayland-protocols # the benchmark's many windows (xdg-shell)
  sway foot zenity wtype # Wayland tests, benchmark (wtype) and demo
  mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine64 wine32:i386
  groff-base mandoc man-db unzip x11-apps imagemagick
  python3 # the symbol table written into the Windows executables
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
