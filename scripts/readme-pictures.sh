#!/bin/bash
# Makes every picture of the README again, each from a real run of the
# 64-bit build under wine64 (`make pictures`):
#   docs/make-run.png        what `make run` shows without a display
#   docs/main-window.png     Skelby recording the demo window
#   docs/recorded-frame.png  a frame of the movie it wrote, read by ffmpeg
#   docs/export-settings.png the Export Settings dialog
# and, under Wine 10 in the trixie root (wine10-root.sh), which scales as
# Windows does, the main window and Export Settings at 100% and 150%:
#   docs/main-window-100.png, docs/export-settings-100.png (96 dpi)
#   docs/main-window-150.png, docs/export-settings-150.png (144 dpi)
# A picture whose pixels came out the same is left as it was, so only true
# changes reach the repository.
#   scripts/readme-pictures.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build/win64}" && pwd)
cd "$here/.."
new=$(mktemp -d)
trap 'rm -rf "$new"' EXIT
scripts/screenshot-run.sh "$build" "$new/make-run.png"
scripts/screenshot.sh "$build" "$new/main-window.png" "$new/recorded-frame.png"
# The dialog test that holds the dialog open, beside its fake QuickTime.qts.
scripts/screenshot-export-settings.sh "$build" "$build/tests/movie/fakeqt/MovieOutputFakeTest.exe" \
  "$new/export-settings.png"
scripts/wine-session.sh stop "$build"
for scaling in "96 100" "144 150"; do
  set -- $scaling
  scripts/wine10-root.sh session scripts/screenshot-scaling.sh "$build" "$1" \
    "$new/main-window-$2.png" "$new/export-settings-$2.png"
done
for png in "$new"/*.png; do
  old=docs/$(basename "$png")
  if [ -f "$old" ] && [ "$(compare -metric AE "$old" "$png" null: 2>&1 || true)" = 0 ]; then
    echo "pictures: $old unchanged"
  else
    cp "$png" "$old"
    echo "pictures: $old new"
  fi
done
