#!/bin/bash
# Takes the README's pictures of Skelby at work, from a real recording under
# wine64 on a virtual display (the build folder's "pictures" session):
#   MAIN.png   the main window while it records the pattern window: the
#              target chosen in the list, the status bar at "Grabbing!"
#   FRAME.png  a frame of the movie that recording wrote, read back by ffmpeg
# The frame must show the pattern's four colours where the target has them.
#   scripts/screenshot.sh [BUILD_DIR] [MAIN.png] [FRAME.png]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build/win64}" && pwd)
main_png=${2:-docs/main-window.png}
frame_png=${3:-docs/recorded-frame.png}
target="Skelby Demo"
# The end-to-end scripts' driver and waits, in the build folder's
# "pictures" session, which is the pictures' alone: it goes with them.
export SKELBY_WINE_SESSION=pictures
. "$here/../tests/capture/e2e/e2e-lib.sh"
trap 'e2e_cleanup; "$here/wine-session.sh" stop "$build"' EXIT

rm -f "$movie"
# The target beside Skelby's window (275 x 380 at the desktop's corner).
start_pattern "$target" 0 300 0 320 240
start_skelby
# A double-click copies the target's 320 x 240 into Width and Height.
drv select "$target" dbl || fail "'$target' is not in Skelby's list"
drv press 989
wait_status "Grabbing!" || fail "the status bar never read 'Grabbing!' (it reads '$(status)')"
sleep 1
import -display "$DISPLAY" -window root -crop 275x380+0+0 +repage "$main_png"
sleep 1
drv press 989
wait_status "idle." || fail "the status bar never read 'idle.' (it reads '$(status)')"
drv close

frames=$(ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$movie")
[ "${frames:-0}" -ge 2 ] || fail "the movie holds ${frames:-no} frames"
size=$(ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0:s=x "$movie")
[ "$size" = 320x240 ] || fail "the movie is $size, not the target's 320x240"
ffmpeg -v error -y -i "$movie" -vf "select=eq(n\\,$((frames / 2)))" -frames:v 1 "$frame_png"
# The pattern's quadrants: red, green, blue and yellow.
for probe in "60,40 ff0000" "260,40 00ff00" "60,200 0000ff" "260,200 ffff00"; do
  set -- $probe
  colour=$(convert "$frame_png" -format "%[hex:p{$1}]" info: | cut -c1-6 | tr 'A-F' 'a-f')
  [ "$colour" = "$2" ] || fail "frame $((frames / 2)) shows $colour at $1, the target has $2 there"
done
echo "screenshot: $main_png; $frame_png (frame $((frames / 2)) of $frames, $size, the target's colours)"
