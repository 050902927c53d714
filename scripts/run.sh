#!/bin/bash
# Opens Skelby under Wine from a build folder. Without a DISPLAY it runs on a
# fresh virtual display and says which, so it can be watched or screenshot.
set -euo pipefail
build=$(cd "${1:-build/win64}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -z "${DISPLAY:-}" ]; then
  "$here/wine-session.sh" start "$build"
  eval "$("$here/wine-session.sh" env "$build")"
  echo "run: no DISPLAY, so Skelby opens on the virtual display $DISPLAY (Xvfb)."
  echo "run: look at it with: DISPLAY=$DISPLAY import -window root shot.png"
elif [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
fi
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
cd "$build/bin"
exec "$wine64" ./skelby.exe
