#!/bin/bash
# The keys that work from any window, pressed for real through the X server
# (xdotool key) while another program's window has the focus:
# 1. Ctrl+Alt+F9 pressed in the recorded window starts a recording and stops
#    it; Ctrl+Alt+F10 pauses and resumes it; ffprobe and ffmpeg judge the
#    movie; with nothing chosen in the list the key asks for a window, as
#    the click does;
# 2. a key that another program holds (KeyHolder.exe registers Ctrl+Alt+F9
#    first) is reported in the status bar, and the click on Grab still works.
#   keys-e2e.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e-lib.sh"
pattern="Skelby Keys Pattern"
holder="Skelby Key Holder"

# Xvfb's keyboard map gives Ctrl+Alt+F1..F12 to the X server itself (the
# switch between virtual terminals of a real X server), so that no program
# sees them; Windows has no such keys. Without those actions they reach Wine
# as they reach Windows.
setxkbmap -display "$DISPLAY" -option srvrkeys:none || fail "the X keyboard map could not be set"

# A real click into the window, which gives it the focus, then a key.
focus() {  # TITLE
  local x y
  read -r x y < <(drv client "$1")
  xdotool mousemove $((x + 20)) $((y + 20)) click 1
  for _ in $(seq 50); do [ "$(drv foreground)" = "$1" ] && return 0; sleep 0.1; done
  fail "'$1' did not take the focus (the foreground is '$(drv foreground)')"
}
key() { xdotool key --clearmodifiers "$1"; }

start_pattern "$pattern"
start_skelby
[ "$(status)" = idle ] || fail "with both keys free the status should read idle, it reads '$(status)'"

# With nothing chosen, the key asks for a window as the click does.
focus "$pattern"
key ctrl+alt+F9
box=$(drv box 5000) || fail "the Grab key with nothing chosen showed no message"
[ "$box" = "Choose the window to record first: click its title in the list." ] || fail "the key's message is '$box'"
ok "the Grab key with nothing chosen asks for a window"

# 1. Started and stopped from the recorded window.
drv select "$pattern" || fail "the pattern window is not listed"
drv set 137 320
drv set 136 240
rm -f "$movie"
focus "$pattern"
t0=$(now_ms)
key ctrl+alt+F9
wait_status "Grabbing!" || fail "the Grab key did not start a recording (status '$(status)')"
seen=$(now_ms)
[ "$(drv foreground)" = "$pattern" ] || fail "the recorded window lost the focus"
ok "Ctrl+Alt+F9 in the recorded window starts a recording"
sleep 1
key ctrl+alt+F10
wait_status "Paused." 100 || fail "the Pause key did not pause (status '$(status)')"
paused_at=$(now_ms)
sleep 1
resumed_at=$(now_ms)
key ctrl+alt+F10
wait_status "Grabbing!" 100 || fail "the Pause key did not resume (status '$(status)')"
ok "Ctrl+Alt+F10 pauses and resumes"
sleep 1
stop_pressed=$(now_ms)
key ctrl+alt+F9
wait_status "idle." || fail "the Grab key did not stop the recording (status '$(status)')"
wall=$(($(now_ms) - t0 - (resumed_at - paused_at)))
held=$((stop_pressed - seen - 1000 - (resumed_at - paused_at) ))
python3 "$here/check-movie.py" "$movie" 320 240 100 "$wall" --held "$held" || exit 1
ok "Ctrl+Alt+F9 stops it: the movie plays"
quit_skelby || fail "Skelby did not quit"

# 2. Ctrl+Alt+F9 held by another program.
"$wine" "$bin/KeyHolder.exe" "$holder" </dev/null >/dev/null 2>&1 &
pids+=($!)
drv wait "$holder" 60000 || fail "the program that holds the key did not start"
start_skelby
[ "$(status)" = "Ctrl+Alt+F9 in use by another program" ] || fail "the held key was not reported: '$(status)'"
ok "a key held elsewhere is reported: '$(status)'"
drv select "$pattern" || fail "the pattern window is not listed"
rm -f "$movie"
t0=$(now_ms)
click 989
wait_status "Grabbing!" || fail "the click on Grab did not start (status '$(status)')"
seen=$(now_ms)
# The other key is still Skelby's.
focus "$pattern"
key ctrl+alt+F10
wait_status "Paused." 100 || fail "Ctrl+Alt+F10 should still pause (status '$(status)')"
key ctrl+alt+F10
wait_status "Grabbing!" 100 || fail "Ctrl+Alt+F10 should still resume (status '$(status)')"
# The held key goes to its holder, not to Skelby.
key ctrl+alt+F9
sleep 1
[ "$(status)" = "Grabbing!" ] || fail "Skelby obeyed a key another program holds (status '$(status)')"
click 989
wait_status "idle." || fail "the click on Stop did not stop"
frames=$(ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$movie")
[ "${frames:-0}" -ge 3 ] || fail "the clicked recording holds $frames frames"
ok "with the key held elsewhere the clicks still record ($frames frames)"
quit_skelby || fail "Skelby did not quit"
echo "all key checks passed"
