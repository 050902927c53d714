#!/bin/bash
# Takes a screenshot of the Export Settings dialog from the X server of a build
# folder's Wine session (ImageMagick `import -window root`), while the dialog
# test holds the dialog open, and checks that the title picture sits on the
# screen where the live dialog says its picture control is.
#   screenshot-export-settings.sh BUILD_DIR TEST_EXE OUT.png
# Copy OUT.png to docs/export-settings.png to refresh the documented picture.
set -euo pipefail
build=$(cd "$1" && pwd)
exe=$2
png=$3
here=$(cd "$(dirname "$0")" && pwd)
"$here/wine-session.sh" start "$build"
eval "$("$here/wine-session.sh" env "$build")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Wine's Z: drive is the root of the file system.
SKELBY_SCREENSHOT_DIR="Z:${work//\//\\}" \
  "$here/wine-run.sh" "$exe" --gtest_filter='ExportSettingsDialogTest.LayoutMatchesTheTemplate' \
  >"$work/test.log" 2>&1 &
test_pid=$!
for _ in $(seq 600); do
  [ -s "$work/dialog.txt" ] && break
  kill -0 $test_pid 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$work/dialog.txt" ]; then
  cat "$work/test.log"
  echo "the dialog test never showed the dialog" >&2
  exit 1
fi
read -r x y w h px py <"$work/dialog.txt"
import -window root "$work/screen.png"
touch "$work/done"
wait $test_pid || { cat "$work/test.log"; exit 1; }

convert "$work/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$png"
convert "$work/screen.png" -crop "160x120+${px}+${py}" +repage "$work/picture.png"
differing=$(compare -metric AE "$work/picture.png" "$here/../resources/title.bmp" null: 2>&1 || true)
echo "dialog at ${x},${y}, ${w} x ${h} pixels; title picture at ${px},${py}: ${differing} pixels differ"
[ "$differing" = "0" ]
