#!/bin/bash
# Takes the README's picture of the main window: Skelby under wine64 on the
# build folder's virtual display, cropped to the window.
#   scripts/screenshot.sh [BUILD_DIR] [OUT.png]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build/win64}" && pwd)
out=${2:-docs/main-window.png}
"$here/wine-session.sh" start "$build"
eval "$("$here/wine-session.sh" env "$build")"
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
cd "$build/bin"
"$wine64" ./skelby.exe &
pid=$!
sleep 4
cd - >/dev/null
# The window sits at the desktop's top-left corner: 275 x 380 pixels.
import -window root -crop 275x380+0+0 +repage "$out"
kill "$pid" 2>/dev/null || true
echo "screenshot: $out"
