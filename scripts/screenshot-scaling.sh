#!/bin/bash
# Takes pictures of Skelby's main window and of its Export Settings dialog at
# a display scaling, from a real run under Wine 10 (which scales as Windows
# does) in the trixie root, up while wine10-root.sh's session runs:
#   scripts/wine10-root.sh session scripts/screenshot-scaling.sh BUILD_DIR DPI MAIN.png SETTINGS.png
# The main window shows a DPI-aware demo window chosen (a double-click copied
# its size into Width and Height). Each picture is checked as the tests check
# the layout: every text whole, nothing over anything else.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
dpi=$2
main_png=$3
settings_png=$4
target="Skelby Demo"
export SKELBY_WINE_ROOT=wine10 SKELBY_WINE_SESSION=pictures-wine10-$dpi SKELBY_WINE_DPI=$dpi \
  SKELBY_WINE_SCREEN=1600x1200
. "$here/../tests/capture/e2e/e2e-lib.sh"
work=$(mktemp -d)
trap 'e2e_cleanup; "$here/wine-session.sh" stop "$build"; rm -rf "$work"' EXIT

start_pattern "$target" 0 700 100 320 240 aware
start_skelby
drv select "$target" dbl || fail "'$target' is not in Skelby's list"
[ "$(drv text 137)x$(drv text 136)" = 320x240 ] || fail "the fields do not show the demo's 320 x 240"
xdotool mousemove 1500 1100

picture() {  # WINDOW OUT.png
  shoot_layout "$1" "$work" || fail "the $1 window could not be shot"
  python3 "$here/../tests/capture/e2e/check-layout.py" "$work" "$1" >/dev/null \
    || fail "the $1 window's layout at $dpi dpi does not hold"
  read -r x0 y0 x1 y1 < <(awk -F'\t' '$1 == "window" { print $3 }' "$work/$1.txt")
  convert "$work/$1.png" -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage "$2"
}
picture main "$main_png"
picture settings "$settings_png"
drv dismiss || fail "the Export Settings dialog could not be cancelled"
quit_skelby || fail "Skelby did not quit"
echo "screenshot: $main_png; $settings_png (at $dpi dpi, every text whole)"
