#!/bin/bash
# What the window shows is what Skelby records, driven by real clicks and
# typing: the movie's size is the size the fields show, a size that cannot
# be recorded is refused out loud, the recorded rectangle holds under clicks
# in the list and on "Capture Borders", a target that closes is found
# again by its own title and measured again, and a target resized while it
# is recorded is recorded whole. ffprobe and ffmpeg judge.
#   sizes-e2e.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e-lib.sh"
pattern="Skelby Pattern"
other="Skelby Other"
refused="This size cannot be recorded. Width and Height must be numbers up to 32767, and Width x Height at most 67108864 pixels (for example 8192 x 8192)."

check() { python3 "$here/check-movie.py" "$@" || fail "the movie does not hold what was recorded"; }
fields() { echo "$(drv text 137)x$(drv text 136)"; }

rm -f "$movie"
start_pattern "$pattern"
start_pattern "$other" 0 50 620 400 300
start_skelby

# 1. The size recorded is the size shown, from the very first Grab.
[ "$(fields)" = "640x480" ] || fail "the fields should start at 640 x 480, they show $(fields)"
click_item "$pattern"
click 989  # Grab
record_started=$(now_ms)
wait_status "Grabbing!" || fail "status never read Grabbing! (it reads '$(status)')"
sleep 1.5
click 989  # Stop
wait_status "idle." || fail "Stop did not go back to idle"
wall=$(($(now_ms) - record_started))
after_stop
check "$movie" 640 480 100 "$wall"
ok "untouched fields record 640 x 480, as they show"

drv set 137 16
drv set 136 0
record_for 1.2
[ "$(fields)" = "320x240" ] || fail "after 16 x 0 the fields should show 320 x 240, they show $(fields)"
check "$movie" 320 240 100 "$wall" --held "$held" --no-pattern
ok "16 x 0 records 320 x 240 and the fields say so"

# A double-click while grabbing fills the fields; the next Grab uses them.
drv press 989
wait_status "Grabbing!" || fail "status never read Grabbing!"
click_item "$other" dbl
sleep 0.5
[ "$(fields)" = "400x300" ] || fail "the double-click should show 400 x 300, the fields show $(fields)"
drv press 989
wait_status "idle." || fail "Stop did not go back to idle"
after_stop
record_for 1.2
check "$movie" 400 300 100 "$wall" --held "$held"
ok "after a double-click while grabbing, the next Grab records the 400 x 300 shown"

# 2. Sizes that cannot be recorded are refused with a message; no file.
click_item "$pattern"
for size in "32768 240" "65535 240" "65536 240" "99999999 240" "65537 65537" "65552 240" "8193 8192"; do
  set -- $size
  drv set 137 "$1"
  drv set 136 "$2"
  rm -f "$movie"
  drv press 989
  expect_box "$refused"
  sleep 0.3
  [ "$(drv text 989)" = "Grab" ] && [ "$(drv enabled 137)" = "1" ] || fail "$1 x $2: the window should stay idle"
  [ ! -e "$movie" ] || fail "$1 x $2: a movie was written"
  [ "$(fields)" = "$1x$2" ] || fail "$1 x $2: the fields changed to $(fields)"
done
ok "32768, 65535, 65536, 99999999, 65537 x 65537, 65552 and 8193 x 8192 are refused, no file"

# Typed by a user, a 10-digit width arrives whole and is refused, not cut.
drv set 137 ""
click 137
xdotool type --delay 20 4294967297
[ "$(drv text 137)" = "4294967297" ] || fail "the typed width reads '$(drv text 137)'"
drv set 136 17
click 989
expect_box "$refused"
[ ! -e "$movie" ] || fail "the typed width wrote a movie"
ok "a typed 4294967297 shows whole and is refused"

# The largest side that can be recorded is recorded.
drv set 137 32767
record_for 1.2
check "$movie" 32767 17 100 "$wall" --held "$held" --no-pattern
ok "32767 x 17 records at 32767 x 17"

# 3. The recorded rectangle holds under a click in the list and a click on
# "Capture Borders"; both change the label and the next recording.
drv set 137 320
drv set 136 240
click_item "$pattern"
click 989
record_started=$(now_ms)
wait_status "Grabbing!" || fail "status never read Grabbing!"
sleep 0.7
click_item "$other"
click 1003  # Capture Borders
sleep 1.5
label=$(drv text 1001)
click 989
wait_status "idle." || fail "Stop did not go back to idle"
wall=$(($(now_ms) - record_started))
after_stop
check "$movie" 320 240 100 "$wall"
ok "the pattern's client area is recorded whole after a list click and a border click"
case $label in
  "Window Size : "*) ok "the label follows the click: '$label'" ;;
  *) fail "the label should show the other window with borders, it shows '$label'" ;;
esac
read -r ow oh < <(echo "$label" | sed 's/.*: *\([0-9]*\)x\([0-9]*\)/\1 \2/')
[ "$ow" -gt 400 ] && [ "$oh" -gt 300 ] || fail "the label's size $ow x $oh is not the whole window"
record_for 1.2
check "$movie" 320 240 100 "$wall" --held "$held" --no-pattern
ok "the next recording takes the other window with its borders"
click 1003  # borders off again

# 4. A target that closes is looked for by the title being recorded, and
# measured again when it comes back at another size.
returning="Skelby Returning"
start_pattern "$returning" 2500
click_item "$returning"
click 989
record_started=$(now_ms)
wait_status "Grabbing!" || fail "status never read Grabbing!"
click_item Skelby  # the selection now names another window
wait_status "Grabbing." 60 || fail "the closed target was not let go (status '$(status)')"
start_pattern "$returning" 0 420 120 320 200
wait_status "Grabbing!" 80 || fail "the returning target was not found (status '$(status)')"
sleep 1.5
click 989
wait_status "idle." || fail "Stop did not go back to idle"
wall=$(($(now_ms) - record_started))
after_stop
check "$movie" 320 240 100 "$wall"
ok "the target came back by its title and was copied whole at its new size"

# 5. A target resized while it is recorded is recorded whole at its new
# size: the pattern's four blocks stay in the four corners of the frame.
resized="Skelby Resized"
start_pattern "$resized" 0 420 120 640 480
click_item "$resized"
click 989
record_started=$(now_ms)
wait_status "Grabbing!" || fail "status never read Grabbing!"
sleep 1
drv resize "$resized" 400 300
sleep 1.5
click 989
wait_status "idle." || fail "Stop did not go back to idle"
wall=$(($(now_ms) - record_started))
after_stop
check "$movie" 320 240 100 "$wall"
ok "a target resized mid-recording is recorded whole at its new size"

quit_skelby || fail "Skelby did not quit"
echo "all size and target checks passed"
