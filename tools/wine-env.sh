#!/bin/bash
# Wine set-up shared by every run in one build folder: a private Wine prefix made once and
# one Xvfb display that all Wine programs of that folder use (Wine's desktop belongs to the
# prefix's wineserver, so one prefix must keep one display).
#
#   tools/wine-env.sh start <build dir>   make the prefix and start the display; prints DISPLAY
#   tools/wine-env.sh stop <build dir>    stop the prefix's wineserver and the display
#   source tools/wine-env.sh; wine_env_setup <build dir>   same as start, exports the variables
# TAPSTER_WINEDEBUG, when set, takes the place of Wine's silence (WINEDEBUG=-all), e.g.
# +keyboard,+key to see how Wine translates the keys it is given.

wine_env_export() {
  local dir=$1
  export WINEPREFIX="$dir/wineprefix"
  export WINEDEBUG=${TAPSTER_WINEDEBUG:--all}
  # No Mono or Gecko download dialogs in a fresh prefix.
  export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
  WINE_ENV_STATE="$dir/wine-env"
  # Debian's "wine" prefers the 32-bit loader even where the kernel cannot run 32-bit code.
  if [ -z "${WINE_ENV_LOADER:-}" ]; then
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
      WINE_ENV_LOADER=/usr/lib/wine/wine
    else
      WINE_ENV_LOADER=/usr/lib/wine/wine64
    fi
  fi
  export WINELOADER=$WINE_ENV_LOADER
}

wine_env_xvfb_alive() {
  local pid
  pid=$(cat "$WINE_ENV_STATE/xvfb.pid" 2>/dev/null) || return 1
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && [ -s "$WINE_ENV_STATE/display" ]
}

wine_env_start_xvfb() {
  rm -f "$WINE_ENV_STATE/display" "$WINE_ENV_STATE/xvfb.pid"
  # Apps of the old display would keep a desktop that no longer exists.
  wineserver -k >/dev/null 2>&1 9>&- || true
  # -displayfd picks a free display and reports it once the server accepts clients.
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -maxclients 512 \
    3>"$WINE_ENV_STATE/display.tmp" 9>&- </dev/null >"$WINE_ENV_STATE/xvfb.log" 2>&1 &
  echo $! >"$WINE_ENV_STATE/xvfb.pid"
  local i
  for ((i = 0; i < 300; i++)); do
    if [ -s "$WINE_ENV_STATE/display.tmp" ]; then
      mv "$WINE_ENV_STATE/display.tmp" "$WINE_ENV_STATE/display"
      return 0
    fi
    kill -0 "$(cat "$WINE_ENV_STATE/xvfb.pid")" 2>/dev/null || break
    sleep 0.05
  done
  echo "wine-env: Xvfb did not start (see $WINE_ENV_STATE/xvfb.log)" >&2
  return 1
}

wine_env_setup() {
  local dir
  dir=$(cd "$1" && pwd) || return 1
  wine_env_export "$dir"
  mkdir -p "$WINE_ENV_STATE" || return 1
  (
    flock 9
    if ! wine_env_xvfb_alive; then
      wine_env_start_xvfb || exit 1
    fi
    export DISPLAY=":$(tr -d '[:space:]' <"$WINE_ENV_STATE/display")"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$WINE_ENV_LOADER" wineboot -i </dev/null >"$WINE_ENV_STATE/wineboot.log" 2>&1 9>&- &&
        wineserver -w </dev/null >/dev/null 2>&1 9>&-
      if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-env: wineboot failed (see $WINE_ENV_STATE/wineboot.log)" >&2
        exit 1
      fi
    fi
    # A crash must end the program: winedbg would sit on its dialog or spin on the fault.
    if [ ! -f "$WINE_ENV_STATE/no-debugger" ]; then
      # Without a value Wine falls back to winedbg; a debugger that cannot start ends the
      # program with its fault code.
      local key='Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
      printf '%s\r\n' 'REGEDIT4' '' "[HKEY_LOCAL_MACHINE\\$key]" \
        '"Debugger"="tapster-no-debugger.exe %ld %ld"' '"Auto"="1"' '' \
        "[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\${key#Software\\}]" \
        '"Debugger"="tapster-no-debugger.exe %ld %ld"' '"Auto"="1"' '' \
        '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' '"ShowCrashDialog"=dword:00000000' '' \
        >"$WINE_ENV_STATE/no-debugger.reg"
      local reg="$WINE_ENV_STATE/no-debugger.reg"
      "$WINE_ENV_LOADER" regedit /S "Z:${reg//\//\\}" \
        </dev/null >>"$WINE_ENV_STATE/wineboot.log" 2>&1 9>&- &&
        touch "$WINE_ENV_STATE/no-debugger"
    fi
    # A server that outlives each program by 30 s spares the next one Wine's start-up of
    # its system processes (a new one exits at once when one is running already).
    local server=/usr/lib/wine/wineserver64
    [ -x "$server" ] || server=/usr/lib/wine/wineserver32
    "$server" -p30 </dev/null >/dev/null 2>&1 9>&- || true
  ) 9>"$WINE_ENV_STATE/lock" || return 1
  export DISPLAY=":$(tr -d '[:space:]' <"$WINE_ENV_STATE/display")"
}

wine_env_stop() {
  local dir
  dir=$(cd "$1" && pwd) || return 1
  wine_env_export "$dir"
  [ -d "$WINE_ENV_STATE" ] || return 0
  (
    flock 9
    wineserver -k >/dev/null 2>&1 || true
    local pid
    pid=$(cat "$WINE_ENV_STATE/xvfb.pid" 2>/dev/null)
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill "$pid"
    fi
    rm -f "$WINE_ENV_STATE/xvfb.pid" "$WINE_ENV_STATE/display"
  ) 9>"$WINE_ENV_STATE/lock"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "$1" in
  start)
    [ -n "$2" ] || { echo "usage: $0 start|stop <build dir>" >&2; exit 2; }
    wine_env_setup "$2" && echo "$DISPLAY"
    ;;
  stop)
    [ -n "$2" ] || { echo "usage: $0 start|stop <build dir>" >&2; exit 2; }
    wine_env_stop "$2"
    ;;
  *)
    echo "usage: $0 start|stop <build dir>" >&2
    exit 2
    ;;
  esac
fi
