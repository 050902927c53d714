#!/bin/bash
# Pause and Resume as a user drives them, with real clicks on Skelby's
# buttons, against a window that shows its own clock (RecordingTarget.exe),
# judged by ffprobe and ffmpeg and that clock (check-pause.py):
# 1. a recording of about 6 s with a pause of 3 s in the middle: the movie
#    lasts the 3 s recorded, skips the pause, shows no frozen stretch, and
#    the file plays every frame recorded before the pause while paused; the
#    status bar's second part shows the length and size meanwhile; Stop, or
#    closing Skelby, while paused saves the movie;
# 2. twenty quick Pause/Resume pairs: no frame lost or doubled, the time adds
#    up. The 32-bit build under emulation, where every driver call takes most
#    of a second, runs the rest only, as does --single.
#   pause-e2e.sh BUILD_DIR [--single]
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e-lib.sh"
target="Skelby Stamp"
interval=100

start_stamp() {
  "$wine" "$bin/RecordingTarget.exe" "$target" 400 100 640 480 </dev/null >/dev/null 2>&1 &
  pids+=($!)
  drv wait "$target" 60000 || fail "the stamp window did not open"
}
# The watcher times the pauses from the status bar while the recording runs.
watch_pauses() {
  drv watchpause 600000 >"$watch_out" &
  watcher=$!
}
watch_result() {
  wait "$watcher" || fail "the pause watcher failed"
  read -r pauses paused unsure <"$watch_out"
  echo "watcher: $pauses pauses, $paused ms paused, give or take $unsure ms"
}
# The second status part's text. The 32-bit Wine under emulation cannot read
# it from outside (the driver exits 3): there the window's own test
# (RecordingCommandsTest) is what checks the text, and this script checks
# only that the part is there while recording and gone after.
part_time() { drv part 1; }
readable=1
# A real click where a button of Skelby is: its place read once before, so
# the click comes at once, not after a driver call.
press_at() { xdotool mousemove $1 $2 click 1; }
# Sleeps until MS milliseconds after the event seen at T (now_ms).
sleep_until() {  # T MS
  local left=$(($1 + $2 - $(now_ms)))
  [ "$left" -gt 0 ] && sleep "$(printf '%d.%03d' $((left / 1000)) $((left % 1000)))"
  return 0
}

watch_out=$(mktemp)
snapshot=$(mktemp --suffix=.mov)
trap 'e2e_cleanup; rm -f "$watch_out" "$snapshot"' EXIT
start_stamp
start_skelby
drv select "$target" || fail "the stamp window is not listed"
drv set 137 640
drv set 136 480
[ "$(drv enabled 990)" = 0 ] || fail "Pause should be disabled while idle"
drv part 1 >/dev/null; [ $? = 1 ] || fail "the status bar has a second part while idle"

# 1. About 6 s, with a 3 s pause in the middle.
grab_xy=$(drv center 989)
pause_xy=$(drv center 990)
rm -f "$movie"
watch_pauses
t0=$(now_ms)
press_at $grab_xy  # Grab
wait_status "Grabbing!" || fail "status never read Grabbing! (it reads '$(status)')"
seen=$(now_ms)
[ "$(drv enabled 990)" = 1 ] || fail "Pause should be enabled while recording"
sleep_until "$seen" 1200
shown=$(part_time)
case $? in
  0) [[ $shown =~ ^00:00:0[0-9]\ \ [0-9]+\.[0-9]\ MB$ ]] || fail "the second part reads '$shown'"
     ok "while recording the second status part reads '$shown'" ;;
  3) readable=0
     echo "the second status part is there; its text cannot be read from outside here" ;;
  *) fail "no second status part while recording ($("$wine" "$bin/SkelbyDriver.exe" part 1 2>&1 </dev/null | tr -d '\r'))" ;;
esac
sleep_until "$seen" 1500
pressed=$(now_ms)
press_at $pause_xy  # Pause
wait_status "Paused." 100 || fail "Pause did not pause (status '$(status)')"
paused_seen=$(now_ms)
[ "$(drv text 990)" = Resume ] || fail "the Pause button should read Resume, it reads '$(drv text 990)'"
[ "$(drv text 989)" = Stop ] || fail "Grab/Stop should still read Stop while paused"
ok "Pause by a real click: status Paused., button Resume"
sleep_until "$paused_seen" 1500
# The library puts what it holds on the disk every second, paused or not.
cp "$movie" "$snapshot"
if [ "$readable" = 1 ]; then
  first=$(part_time)
  sleep_until "$paused_seen" 2700
  second=$(part_time)
  [ "${first%% *}" = "${second%% *}" ] || fail "the length moved while paused: '$first', then '$second'"
  [[ $first =~ ^00:00:0[1-9] ]] || fail "the length shown while paused is '$first'"
  ok "while paused the length stays at '${first%% *}'"
fi
sleep_until "$paused_seen" 3000
resumed=$(now_ms)
press_at $pause_xy  # Resume
wait_status "Grabbing!" 100 || fail "Resume did not resume (status '$(status)')"
resumed_seen=$(now_ms)
[ "$(drv text 990)" = Pause ] || fail "the button should read Pause again"
sleep_until "$resumed_seen" 1500
stopped=$(now_ms)
press_at $grab_xy  # Stop
wait_status "idle." || fail "Stop did not go back to idle"
end=$(now_ms)
watch_result
[ "$pauses" = 1 ] || fail "the watcher saw $pauses pauses"
[ "$(drv enabled 990)" = 0 ] || fail "Pause should be disabled after Stop"
drv part 1 >/dev/null; [ $? = 1 ] || fail "the second status part stays after Stop"
low=$(( (pressed - seen) + (stopped - resumed_seen) ))
high=$(( (paused_seen - t0) + (end - resumed) ))
echo "Grab to Stop seen done: $((end - t0)) ms"
python3 "$here/check-pause.py" "$movie" 640 480 $interval "$pauses" "$paused" "$unsure" --active "$low" "$high" \
  --pause-within $((resumed - paused_seen)) $((resumed_seen - pressed)) --snapshot "$snapshot" || exit 1
ok "a 3 s pause in 6 s of recording"

# Stop while paused saves the movie as usual.
rm -f "$movie"
click 989
wait_status "Grabbing!" || fail "status never read Grabbing!"
sleep 1
click 990
wait_status "Paused." 100 || fail "Pause did not pause"
click 989  # Stop, while paused
wait_status "idle." || fail "Stop while paused did not go back to idle"
after_stop
frames=$(ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$movie")
[ "${frames:-0}" -ge 3 ] || fail "Stop while paused left $frames frames"
ok "Stop while paused saves the movie ($frames frames)"

single=${2:-}
case $wine in *i686*) single=--single ;; esac
if [ "$single" != --single ]; then
  # 2. Twenty quick Pause/Resume pairs: a pause and the time between two
  # each about a sixth of a second, a little more than a frame.
  rm -f "$movie"
  watch_pauses
  click 989
  wait_status "Grabbing!" || fail "status never read Grabbing!"
  sleep 1
  xy=$(drv center 990)
  xdotool mousemove $xy
  for _ in $(seq 20); do
    xdotool click 1
    sleep 0.15
    xdotool click 1
    sleep 0.15
  done
  sleep 1
  [ "$(status)" = "Grabbing!" ] || fail "after twenty pairs the status reads '$(status)'"
  click 989
  wait_status "idle." || fail "Stop did not go back to idle"
  after_stop
  watch_result
  [ "$pauses" = 20 ] || fail "the watcher saw $pauses pauses, not 20"
  python3 "$here/check-pause.py" "$movie" 640 480 $interval "$pauses" "$paused" "$unsure" || exit 1
  ok "twenty quick Pause/Resume pairs lose and double no frame"
fi
# Closing Skelby while paused saves the movie too.
rm -f "$movie"
click 989
wait_status "Grabbing!" || fail "status never read Grabbing!"
sleep 1
click 990
wait_status "Paused." 100 || fail "Pause did not pause"
quit_skelby || fail "Skelby did not quit while paused"
python3 "$here/check-movie.py" "$movie" 640 480 $interval 60000 --held 0 --no-pattern >/dev/null \
  || fail "closing Skelby while paused left no finished movie"
ok "closing Skelby while paused saves the movie"
echo "all pause checks passed"
