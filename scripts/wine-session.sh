#!/bin/bash
# Starts or stops the Wine world of one build folder: its own prefix, its own
# Xvfb (display chosen by the server itself) and a persistent wineserver, so
# a test run pays the start-up cost once and depends on nothing the machine
# happens to have running.
#   wine-session.sh start BUILD_DIR   prints nothing; idempotent
#   wine-session.sh stop BUILD_DIR
#   wine-session.sh env BUILD_DIR     prints the variables to export, with
#                                     SKELBY_WINE: the program that runs one
#                                     of the build's programs (PROGRAM ARG...)
# A build folder can hold more than one session: SKELBY_WINE_SESSION=NAME
# gives one of its own (prefix, Xvfb and desktop) beside the tests' one, and
# SKELBY_WINE_SCREEN=WxH the size of its screen and Wine desktop (1280x1024
# by default). The desktop's size is written into the prefix when it is made,
# before its wineserver runs for the desktop, so a named session keeps one
# size for its life: the benchmark's runs on a screen larger than 1920x1080,
# and the tests' sessions stay as they are.
# The 32-bit build's Wine is the 32-bit one of the i386 root (i686-root.sh,
# up while scripts/test-i686.sh runs); the X server stays on the host, where
# the root's programs reach it too. SKELBY_WINE_ROOT=wine10 runs the 64-bit
# build under Wine 10 in the same way (wine10-root.sh, up while
# scripts/test-wine10.sh runs), and SKELBY_WINE_DPI=N gives a session's
# prefix the display scaling of N dots per inch (96 = 100%, 144 = 150%),
# written before its wineserver runs for the desktop: a named session keeps
# one scaling for its life, as it keeps its size.
set -euo pipefail
cmd=$1
build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
session=${SKELBY_WINE_SESSION:+-$SKELBY_WINE_SESSION}
screen=${SKELBY_WINE_SCREEN:-1280x1024}
[[ $screen =~ ^[0-9]+x[0-9]+$ ]] || { echo "wine-session: screen size WxH, not '$screen'" >&2; exit 2; }
dpi=${SKELBY_WINE_DPI:-}
[[ $dpi =~ ^[0-9]*$ ]] || { echo "wine-session: dpi a number, not '$dpi'" >&2; exit 2; }
state=$build/wine-session$session
export WINEPREFIX=$build/wineprefix$session
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

if grep -qx 'SKELBY_WINE_ARCH:INTERNAL=i686' "$build/CMakeCache.txt" 2>/dev/null; then
  program_wine=$here/i686-wine.sh
  wine=("$here/i686-root.sh" run wine)
  wineserver=("$here/i686-root.sh" run wineserver)
  wineboot=("$here/i686-root.sh" run wineboot)
elif [ "${SKELBY_WINE_ROOT:-}" = wine10 ]; then
  program_wine=$here/wine10-wine.sh
  wine=("$here/wine10-root.sh" run wine)
  wineserver=("$here/wine10-root.sh" run wineserver)
  wineboot=("$here/wine10-root.sh" run wineboot)
else
  program_wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  wine=("$program_wine")
  wineserver=(wineserver)
  wineboot=(wineboot)
fi

display_alive() {
  [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null
}

# The desktop process of this prefix: other build folders run their own.
desktop_running() {
  local p
  for p in $(pgrep -f 'explorer.exe /desktop'); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}

start() {
  mkdir -p "$state"
  exec 9>"$state/lock"
  flock 9
  if ! display_alive; then
    # -displayfd: the server picks a free display and tells us which.
    rm -f "$state/display"
    Xvfb -displayfd 8 -screen 0 ${screen}x24 -nolisten tcp 8>"$state/display" 9>&- \
      >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    for _ in $(seq 100); do
      [ -s "$state/display" ] && break
      sleep 0.1
    done
    [ -s "$state/display" ] || { echo "wine-session: Xvfb did not start" >&2; exit 1; }
  fi
  export DISPLAY=:$(head -n1 "$state/display")
  # A session that is up (its desktop runs, and so its server and services)
  # needs nothing more; each Wine program started here costs seconds under
  # emulation.
  if [ -f "$WINEPREFIX/system.reg" ] && desktop_running; then
    return 0
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "${wineboot[@]}" -i >/dev/null 2>&1 9>&- || true
    "${wineserver[@]}" -w
    # A crashing test program must fail its test, not wait for a click.
    "${wine[@]}" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 9>&-
    # One Wine desktop on the whole screen: windows get real captions and
    # menus as on Windows, and showing or hiding one does not wait for a
    # window manager that Xvfb does not have.
    "${wine[@]}" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 9>&-
    "${wine[@]}" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$screen" /f >/dev/null 2>&1 9>&-
    if [ -n "$dpi" ]; then
      "${wine[@]}" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 9>&-
    fi
    # Debian's Wine does not look in its own font folder; without Marlett the
    # caption buttons show as letters.
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    "${wineserver[@]}" -w
  fi
  "${wineserver[@]}" -p >/dev/null 2>&1 9>&- || true
  # Wine's background services and the desktop process start with the first
  # program of a session and inherit its output; started by a test, they
  # would hold ctest's pipe open forever. Start them here, on /dev/null.
  "${wine[@]}" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
  if ! desktop_running; then
    setsid "${wine[@]}" explorer.exe /desktop=Default,"$screen" </dev/null >/dev/null 2>&1 9>&- &
    sleep 1
  fi
}

stop() {
  "${wineserver[@]}" -k >/dev/null 2>&1 || true
  if display_alive; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
  fi
  rm -f "$state/xvfb.pid" "$state/display"
}

case $cmd in
  start) start ;;
  stop) stop ;;
  env)
    echo "export WINEPREFIX=$WINEPREFIX WINEDEBUG=$WINEDEBUG WINEDLLOVERRIDES='$WINEDLLOVERRIDES' SKELBY_WINE=$program_wine"
    [ -s "$state/display" ] && echo "export DISPLAY=:$(head -n1 "$state/display")"
    ;;
  *) echo "usage: $0 start|stop|env BUILD_DIR" >&2; exit 2 ;;
esac
