#!/bin/bash
# Skelby records a pattern window as a user would drive it, and ffprobe and
# ffmpeg judge the movies. A QuickTime.qts that cannot write movies (Grab
# answers "Error -4", unimplemented) fails the test, saying so.
#   record-e2e.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e-lib.sh"
pattern="Skelby Pattern"

rm -f "$movie"
start_pattern "$pattern"
start_skelby

# 1. Driven with real clicks: cursor on, 320 x 240 from a 640 x 480 client.
drv select "$pattern" || fail "the pattern window is not listed"
drv set 137 320
drv set 136 240
click 1005  # Capture Cursor
read -r cx cy < <(drv client "$pattern")
xdotool mousemove $((cx + 200)) $((cy + 100))
t0=$(now_ms)
click 989   # Grab
# Either the recording starts or Skelby says why it cannot.
for _ in $(seq 60); do
  [ "$(drv text 989)" = "Stop" ] && break
  if box=$(drv box 200); then
    # -4 is unimpErr: a QuickTime.qts without the movie operations.
    case $box in
      *"Error -4") fail "QuickTime.qts cannot create movies (Skelby says: $box)" ;;
      *) fail "unexpected message at Grab: '$box'" ;;
    esac
  fi
done
[ "$(drv text 989)" = "Stop" ] || fail "the Grab button should read Stop, it reads '$(drv text 989)'"
[ "$(drv enabled 137)" = "0" ] || fail "the Width field should be disabled while grabbing"
wait_status "Grabbing!" || fail "status never read Grabbing! (it reads '$(status)')"
seen=$(now_ms)
ok "Grab pressed by a real click: button Stop, fields disabled, status Grabbing!"
xdotool mousemove $((cx + 200)) $((cy + 100))
sleep 3
held=$(($(now_ms) - seen))
click 989   # Stop
wait_status "idle." || fail "Stop did not go back to idle"
wall=$(( $(now_ms) - t0 ))
[ "$(drv text 989)" = "Grab" ] || fail "the button should read Grab after Stop"
[ "$(drv enabled 137)" = "1" ] || fail "the Width field should be enabled after Stop"
ok "Stop by a real click: button Grab, fields enabled, status idle."
[ -s "$movie" ] || fail "no movie file after Stop"
# The pointer is over the pattern window, whose cursor belongs to another
# process: Wine cannot read its shape (GetIconInfo fails), so the standard
# arrow is drawn at the pointer, client (200, 100) halved to (100, 50).
python3 "$here/check-movie.py" "$movie" 320 240 100 "$wall" --held "$held" --arrow 100 50 || exit 1
ok "over another process's window the arrow is drawn at the pointer"

# 1b. The cursor, recording Skelby's own window at its client size (the
# double-click copies it into the fields), the arrow over a plain spot.
drv select Skelby dbl
read -r sx sy < <(drv client Skelby)
xdotool mousemove $((sx + 160)) $((sy + 275))
record_for 1.5
read -r w h < <(drv text 1001 | sed 's/.*: *\([0-9]*\)x\([0-9]*\)/\1 \2/')
python3 "$here/check-movie.py" "$movie" "$w" "$h" 100 "$wall" --held "$held" --no-pattern --arrow 160 275 \
  || exit 1

# 2. Stop then Grab writes a new movie over the same file; odd sizes.
click 1005  # cursor off again
drv select "$pattern" || fail "the pattern window is not listed"
for size in "17 0 17 240" "16 100 320 100" "0 17 320 17"; do
  set -- $size
  drv set 137 "$1"
  drv set 136 "$2"
  before=$(stat -c %Y.%s "$movie")
  record_for 1.5
  [ "$(stat -c %Y.%s "$movie")" != "$before" ] || fail "the movie file was not replaced"
  python3 "$here/check-movie.py" "$movie" "$3" "$4" 100 "$wall" --held "$held" --no-pattern \
    || fail "Width $1 Height $2 should record at $3 x $4"
  ok "Width $1, Height $2 records at $3 x $4 over the same file"
done

# 3. Bad input: a folder that does not exist.
drv destination 'c:\no-such-folder\grabbed.mov' || fail "the save dialog could not be driven"
sleep 0.5
[ "$(drv text 989)" = "Grab" ] || fail "setting the destination changed the button"
drv press 989
box=$(drv box 5000) || fail "no message for a destination in a missing folder"
case $box in
  "Impossible To Create Movie File : Error "*) ok "missing folder: '$box'" ;;
  *) fail "unexpected message '$box'" ;;
esac
sleep 0.3
[ "$(drv text 989)" = "Grab" ] && [ "$(drv enabled 137)" = "1" ] || fail "the window should stay idle"
ok "after the failed start the window is idle"
rm -f "$movie"  # so the dialog asks no overwrite question
drv destination 'c:\grabbed.mov' || fail "the save dialog could not be driven back"
sleep 0.5
quit_skelby || fail "Skelby did not quit"

# 4. Closing Skelby while grabbing leaves a finished movie.
rm -f "$movie"
start_skelby
drv select "$pattern" || fail "the pattern window is not listed"
drv set 137 320
drv set 136 240
t0=$(now_ms)
drv press 989
wait_status "Grabbing!" || fail "status never read Grabbing!"
seen=$(now_ms)
sleep 2
held=$(($(now_ms) - seen))
quit_skelby || fail "Skelby did not quit while grabbing"
wall=$(($(now_ms) - t0))
python3 "$here/check-movie.py" "$movie" 320 240 100 "$wall" --held "$held" \
  || fail "closing while grabbing left no playable movie"
ok "closing Skelby while grabbing leaves a playable movie"

# 5. A target that closes mid-recording, and one minimised before Grab.
# Skelby is up first, so the target is still there to be chosen and found.
start_skelby
start_pattern "Skelby Closing" 1500
drv select "Skelby Closing" || fail "the closing target was gone before it was chosen"
drv check 1005 1
drv press 989
# It closes 1.5 s after the status first reads "Grabbing!", which a slow
# driver may not see in time: the window going is the event to wait for.
drv gone "Skelby Closing" 60000 || fail "the target never closed (status '$(status)')"
skelby_alive || fail "Skelby died when its target closed"
[ "$(drv text 989)" = "Stop" ] || fail "Skelby should still be recording"
drv press 989
wait_status "idle." || fail "Stop did not go back to idle"
ffprobe -v error "$movie" >/dev/null || fail "the movie of a closed target does not play"
frames=$(ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$movie")
[ "${frames:-0}" -ge 2 ] || fail "the target was not recorded before it closed ($frames frames)"
ok "a target closing mid-recording crashes nothing, the movie plays ($frames frames before it closed)"

# A target minimised before Grab is waited for, not recorded as nothing:
# restored, it is found, measured whole and recorded.
minimised="Skelby Minimised"
start_pattern "$minimised"
drv select "$minimised" || fail "the target is not listed"
drv set 137 320
drv set 136 240
drv check 1005 0  # no cursor over the pattern's blocks
drv minimise "$minimised"
for _ in $(seq 50); do [ "$(drv iconic "$minimised")" = 1 ] && break; sleep 0.1; done
[ "$(drv iconic "$minimised")" = 1 ] || fail "the target did not minimise"
rm -f "$movie"
t0=$(now_ms)
drv press 989
wait_status "Grabbing." 100 || fail "Grab did not start (status '$(status)')"
sleep 1.5
[ "$(status)" = "Grabbing." ] || fail "a minimised target was taken as found (status '$(status)')"
ok "a minimised target is waited for: status '$(status)'"
drv restore "$minimised"
wait_status "Grabbing!" || fail "the restored target was not found (status '$(status)')"
seen=$(now_ms)
sleep 2
held=$(($(now_ms) - seen))
drv press 989
wait_status "idle." || fail "Stop did not go back to idle"
wall=$(($(now_ms) - t0))
python3 "$here/check-movie.py" "$movie" 320 240 100 "$wall" --held "$held" \
  || fail "the movie of a target minimised before Grab does not show it"
ok "a target minimised before Grab and restored after is recorded"
quit_skelby || fail "Skelby did not quit"
echo "all end-to-end checks passed"
