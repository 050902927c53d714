#!/bin/bash
# Recordings survive what goes wrong, driven through skelby.exe as a user
# would meet it, judged by ffprobe and ffmpeg:
# 1. skelby.exe killed (kill -9) at random moments of 6-second recordings:
#    every movie plays, up to at most 2 s before the kill;
# 2. the disk fills during a recording (full-disk.so preloaded into Skelby
#    caps files named full-disk*): one message, the window back to idle, the
#    movie plays to the last frame that fitted;
# 3. the disk fills so far that the movie itself cannot be written: the
#    message says so, Stop stays; room made and Stop pressed again saves it;
# 4. the same at exit: Grab and Stop at the Retry box do nothing, Retry
#    after room is made saves the movie.
# 5. skelby.exe killed 90 s into a recording of small frames (Photo - JPEG
#    at 160 x 120, a frame each 100 ms): the movie plays up to at most 2 s
#    before the kill, however long the recording.
# Copies of the file taken during the recordings of 1, and the files their
# kills leave, also play to their end in VLC 3 (its own mp4 reader), which
# exits with the frames ffmpeg reads, byte for byte; GStreamer reads the
# killed files' length from their header as that of their frames.
#   survive-e2e.sh BUILD_DIR FULL_DISK_SO
set -uo pipefail
build=$(cd "$1" && pwd)
shim=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e-lib.sh"
pattern="Skelby Survivor"
limit_file=$build/full-disk-e2e-limit
export SKELBY_FULL_DISK_LIMIT=$limit_file
full=$WINEPREFIX/drive_c/full-disk-e2e.mov

# Frames, their decoded count and how long they play, of a movie of
# W x H (320 x 240 unless given): "FRAMES DECODED PLAYS_MS", or nothing when
# ffprobe refuses it. A movie cut short by a kill reads from its fragments,
# whose last frame has no duration of its own: it plays up to where that
# frame starts.
movie_facts() {  # MOVIE [W H]
  local packets count plays decoded
  packets=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts,duration -of csv=p=0 "$1") || return 1
  count=$(grep -c . <<<"$packets")
  plays=$(awk -F, '{pts = $1; d = $2} END {print pts + (d ~ /^[0-9]+$/ ? d : 0)}' <<<"$packets")
  decoded=$(ffmpeg -nostdin -v error -i "$1" -vsync passthrough -f rawvideo -pix_fmt rgb24 - | wc -c)
  echo "$count $((decoded / (${2:-320} * ${3:-240} * 3))) $plays"
}

# VLC plays MOVIE to its end and exits, with the frames ffmpeg reads, byte
# for byte: prints their count, or why not. VLC refuses to run as root, so
# it runs as nobody, on a copy in a folder of its own; its stream output
# reports each frame it read with its MD5. That output holds back the last
# frame of an Animation movie (finished movies too: 29 of 30 for a finished
# ordinary movie), so the last frame may be missing from its list; any
# other difference fails.
vlc_plays() {  # MOVIE
  local dir rc vlc ff
  dir=$(mktemp -d)
  chmod 777 "$dir"
  cp "$1" "$dir/movie.mov" && chmod 644 "$dir/movie.mov"
  timeout 60 setpriv --reuid=nobody --regid=nogroup --clear-groups \
    cvlc --play-and-exit --intf dummy --vout dummy --aout dummy "$dir/movie.mov" \
    --sout "#stats{output=$dir/stats.txt}" >"$dir/vlc.log" 2>&1
  rc=$?
  if [ "$rc" -eq 124 ]; then
    echo "VLC was still playing after 60 s"
  elif [ "$rc" -ne 0 ] || [ ! -s "$dir/stats.txt" ]; then
    echo "VLC failed ($rc): $(tail -n 3 "$dir/vlc.log")"
  else
    vlc=$(grep -v '^#' "$dir/stats.txt" | cut -f7)
    ff=$(ffmpeg -nostdin -v error -i "$dir/movie.mov" -c copy -f framemd5 - | grep -v '^#' | awk -F', *' '{print $6}')
    if [ "$vlc" != "$ff" ] && [ "$vlc" != "$(head -n -1 <<<"$ff")" ]; then
      echo "VLC read $(grep -c . <<<"$vlc") frames, ffmpeg $(grep -c . <<<"$ff"), or not the same bytes"
    else
      grep -c . <<<"$vlc"
      rc=0
      rm -rf "$dir"
      return 0
    fi
  fi
  rm -rf "$dir"
  return 1
}

# How long GStreamer says MOVIE plays, in ms: the duration its qtdemux
# takes from the movie's header ('mehd' while fragments are written).
gst_ms() {  # MOVIE
  timeout 60 gst-discoverer-1.0 "$1" 2>/dev/null |
    sed -n 's/^ *Duration: \([0-9]*\):\([0-9]*\):\([0-9]*\)\.\([0-9]\{3\}\).*/\1 \2 \3 \4/p' |
    awk '{print (($1 * 60 + $2) * 60 + $3) * 1000 + $4}'
}

start_pattern "$pattern"

# 1. Killed mid-recording.
for kill_after in $(python3 -c 'import random; print(" ".join("%.1f" % random.uniform(1, 6) for _ in range(4)))'); do
  rm -f "$movie"
  start_skelby
  drv select "$pattern" || fail "the pattern window is not listed"
  drv set 137 320
  drv set 136 240
  drv press 989
  wait_status "Grabbing!" || fail "status never read Grabbing!"
  t0=$(now_ms)
  # Copies of the file as it stands, about every 0.7 s, until the kill.
  copies=()
  deadline=$((t0 + $(python3 -c "print(int($kill_after * 1000))")))
  while [ "$(now_ms)" -lt "$deadline" ]; do
    sleep 0.7
    copy=$(mktemp --suffix=.mov)
    cp "$movie" "$copy"
    copies+=("$copy")
  done
  kill -9 "$skelby_pid"
  killed=$(($(now_ms) - t0))
  wait "$skelby_pid" 2>/dev/null
  read -r frames decoded sum < <(movie_facts "$movie") || fail "killed after $killed ms: the movie does not open"
  [ "$frames" -ge 1 ] && [ "$decoded" -eq "$frames" ] \
    || fail "killed after $killed ms: $frames frames, $decoded decoded"
  [ "$sum" -ge $((killed - 2000)) ] || fail "killed after $killed ms: the movie holds only $sum ms"
  played=$(vlc_plays "$movie") || fail "killed after $killed ms: $played"
  # The header says about how long the frames play: up to the last one's
  # end, or the fragment before it's when the kill fell between the write
  # that reveals a fragment and the one after it that updates the header.
  header=$(gst_ms "$movie")
  [ -n "$header" ] && [ "$header" -ge $((sum - 1500)) ] && [ "$header" -le $((sum + 1000)) ] \
    || fail "killed after $killed ms: GStreamer says the movie plays '$header' ms, its frames $sum ms"
  ok "killed $killed ms into a recording: $frames frames, $sum ms play ($header ms by its header); VLC plays it to its end ($played frames)"
  for copy in "${copies[@]}"; do
    played=$(vlc_plays "$copy") || fail "a copy taken during the recording: $played"
    rm -f "$copy"
    ok "a copy taken during the recording plays to its end in VLC: $played frames"
  done
done

# 2. The disk fills while recording: what fitted plays.
echo $((1 << 30)) >"$limit_file"
rm -f "$full"
start_skelby "$shim"
drv destination 'c:\full-disk-e2e.mov' || fail "the save dialog could not be driven"
sleep 0.5
drv settings None 100 || fail "the settings dialog could not be driven"
sleep 0.5
drv select "$pattern" || fail "the pattern window is not listed"
drv set 137 320
drv set 136 240
drv press 989
wait_status "Grabbing!" || fail "status never read Grabbing!"
sleep 1.5
# Room for half a frame more.
echo $(($(stat -c %s "$full") + 320 * 240 * 3 / 2)) >"$limit_file"
box=$(drv box 10000) || fail "no message when the disk filled"
case $box in
  "Recording stopped: the movie file could not take more frames : Error -34"*"keeps everything recorded"*)
    ok "disk full: '${box%%$'\n'*}'" ;;
  *) fail "unexpected message '$box'" ;;
esac
wait_status "idle." || fail "the window did not go back to idle (status '$(status)')"
[ "$(drv text 989)" = "Grab" ] || fail "the button should read Grab"
[ "$(stat -c %s "$full")" -le "$(cat "$limit_file")" ] || fail "the file grew past the full disk"
read -r frames decoded sum < <(movie_facts "$full") || fail "the movie of a full disk does not open"
[ "$frames" -ge 3 ] && [ "$decoded" -eq "$frames" ] || fail "full disk: $frames frames, $decoded decoded"
ok "the movie of a full disk plays: $frames frames, $sum ms"

# 3. Full up to the last byte: the movie itself does not fit until room is made.
echo $((1 << 30)) >"$limit_file"
drv press 989
wait_status "Grabbing!" || fail "status never read Grabbing!"
sleep 1.5
echo $(($(stat -c %s "$full") + 10)) >"$limit_file"
box=$(drv box 10000) || fail "no message when the disk filled"
case $box in
  *"The movie could not be saved : Error -34"*"press Stop to try again"*) ok "no room for the movie: told so" ;;
  *) fail "unexpected message '$box'" ;;
esac
sleep 0.5
[ "$(drv text 989)" = "Stop" ] || fail "the button should stay Stop, it reads '$(drv text 989)'"
[ "$(status)" != "idle." ] || fail "the status says idle. over a movie not saved"
ok "not saved: button Stop, status '$(status)'"
echo $((1 << 30)) >"$limit_file"  # the user makes room
drv press 989
wait_status "idle." || fail "Stop did not save the movie (status '$(status)')"
after_stop
[ "$(drv text 989)" = "Grab" ] || fail "the button should read Grab once saved"
read -r frames decoded sum < <(movie_facts "$full") || fail "the movie saved by the second Stop does not open"
[ "$frames" -ge 3 ] && [ "$decoded" -eq "$frames" ] || fail "saved late: $frames frames, $decoded decoded"
ok "room made and Stop pressed again: saved, $frames frames, $sum ms"

# 4. Exit while the movie does not fit: at the Retry box, Grab and Stop
#    (clicked, and posted as a click that reaches the window all the same)
#    do nothing, above all no new movie over the one being saved; room made
#    and Retry chosen, the movie is saved whole.
echo $((1 << 30)) >"$limit_file"
drv press 989
wait_status "Grabbing!" || fail "status never read Grabbing!"
sleep 1.5
echo $(($(stat -c %s "$full") + 10)) >"$limit_file"
drv menu 162  # Misc > Exit
[ "$(drv boxowner 10000)" = main ] || fail "the Retry box should be owned by the main window"
[ "$(drv mainenabled)" = 0 ] || fail "the main window should take no clicks under the Retry box"
before=$(stat -c '%i %s' "$full")
click 989
drv press 989
sleep 1
drv press 989
sleep 1
skelby_alive || fail "Skelby died at the Retry box"
[ "$(drv boxcount)" = 1 ] || fail "Grab or Stop at the Retry box brought up another box ($(drv boxcount) up)"
[ "$(stat -c '%i %s' "$full")" = "$before" ] || fail "Grab or Stop at the Retry box touched the movie file"
read -r frames decoded sum < <(movie_facts "$full") || fail "the movie at the Retry box does not open"
[ "$frames" -ge 1 ] || fail "the movie at the Retry box holds $frames frames"
ok "Grab and Stop at exit's Retry box change nothing: one box, the file as it was ($frames frames to its last fragment)"
echo $((1 << 30)) >"$limit_file"  # the user makes room
box=$(drv retry 5000) || fail "no Retry box to answer"
case $box in
  "The movie could not be saved : Error -34"*Retry*) ;;
  *) fail "unexpected Retry box '$box'" ;;
esac
for _ in $(seq 300); do skelby_alive || break; sleep 0.1; done
skelby_alive && fail "Skelby did not quit after Retry saved the movie"
read -r frames2 decoded sum < <(movie_facts "$full") || fail "the movie saved at exit does not open"
[ "$frames2" -ge "$frames" ] && [ "$decoded" -eq "$frames2" ] || fail "saved at exit: $frames2 frames, $decoded decoded"
ok "room made and Retry chosen at exit: saved, $frames2 frames, $sum ms"
rm -f "$full" "$limit_file"

# 5. Killed after a minute and a half of small frames.
rm -f "$movie"
start_skelby
drv settings "Photo - JPEG" 100 || fail "the settings dialog could not be driven"
sleep 0.5
drv select "$pattern" || fail "the pattern window is not listed"
drv set 137 160
drv set 136 120
drv press 989
wait_status "Grabbing!" || fail "status never read Grabbing!"
t0=$(now_ms)
sleep 90
kill -9 "$skelby_pid"
killed=$(($(now_ms) - t0))
wait "$skelby_pid" 2>/dev/null
read -r frames decoded plays < <(movie_facts "$movie" 160 120) || fail "killed after $killed ms: the movie does not open"
size=$(stat -c %s "$movie")
[ "$frames" -ge 1 ] && [ "$decoded" -eq "$frames" ] || fail "killed after $killed ms: $frames frames, $decoded decoded"
[ "$plays" -ge $((killed - 2000)) ] || fail "killed after $killed ms of small frames: the movie plays only $plays ms"
played=$(vlc_plays "$movie") || fail "killed after $killed ms of small frames: $played"
ok "killed $killed ms into a recording of small frames ($frames frames, $((size / frames)) bytes each): $plays ms play; VLC plays it to its end ($played frames)"
echo "all survival checks passed"
