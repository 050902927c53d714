#!/bin/bash
# Opens Skelby under Wine from a build folder.
# With a DISPLAY of the user's own, Skelby alone opens there.
# Without one, it runs on a virtual display of its own (Xvfb and a Wine
# desktop: the build folder's "run" session, apart from the tests' one), and a
# small window whose picture changes every tenth of a second opens first, so
# that the list has something to record: choose "Skelby Demo" and press Grab.
# The demo window closes with Skelby; the display stays up for the next run
# (`make clean` stops it).
#   scripts/run.sh [BUILD_DIR]
set -euo pipefail
build=$(cd "${1:-build/win64}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
demo_title="Skelby Demo"

if [ -n "${DISPLAY:-}" ]; then
  export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1 || true
  cd "$build/bin"
  exec "$wine64" ./skelby.exe
fi

export SKELBY_WINE_SESSION=run
"$here/wine-session.sh" start "$build"
eval "$("$here/wine-session.sh" env "$build")"
bin=$build/bin
demo_pid=
if [ -x "$bin/PatternWindow.exe" ]; then
  # Beside Skelby's window (275 x 380 at the desktop's corner), 320 x 240 inside.
  "$wine64" "$bin/PatternWindow.exe" "$demo_title" 300 0 320 240 </dev/null >/dev/null 2>&1 &
  demo_pid=$!
  trap 'kill $demo_pid 2>/dev/null || true' EXIT
  # Skelby lists the windows that are there when it starts.
  "$wine64" "$bin/SkelbyDriver.exe" wait "$demo_title" 60000 </dev/null >/dev/null 2>&1 ||
    echo "run: the demo window did not open; Skelby's list will not show it" >&2
fi
movie=$WINEPREFIX/drive_c/grabbed.mov
echo "run: no DISPLAY, so Skelby${demo_pid:+ and a window to record, \"$demo_title\",} run on the virtual display" \
  "$DISPLAY; watch it with: DISPLAY=$DISPLAY import -window root shot.png; the movie (c:\\grabbed.mov)" \
  "is $movie"
cd "$bin"
"$wine64" ./skelby.exe
