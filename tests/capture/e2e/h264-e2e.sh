#!/bin/bash
# Skelby records the pattern window with H.264, and ffprobe and libavcodec's
# own H.264 decoder judge the movies (check-h264.py): every frame decodes at
# its recorded time, close to the pattern, with a key frame first and none
# further than two seconds back.
# 1. Normal quality, a finished recording of 4 s;
# 2. Minimum quality, a finished recording of 3 s;
# 3. Normal quality, Skelby killed (kill -9) 2.5 to 4.5 s into a recording:
#    the movie plays up to at most 2 s before the kill.
# H.264 is listed only when the OpenH264 DLL lies beside QuickTime.qts in
# bin/; without it the test fails, saying so.
#   h264-e2e.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e-lib.sh"
pattern="Skelby H264 Pattern"
# PSNR floors against the pattern, per quality row (1 Minimum, 3 Normal).
floor_normal=38
floor_minimum=30

ls "$bin"/openh264-2.3.1-win*.dll >/dev/null 2>&1 || fail "no OpenH264 DLL in $bin beside QuickTime.qts"

# Chooses H.264 at quality ROW with 100 ms frames, 320 x 240 of the pattern.
choose_h264() {  # ROW
  drv settings H.264 100 "$1" || fail "H.264 is not in Settings' codec list (is the OpenH264 DLL loadable?)"
  sleep 0.5
  drv select "$pattern" || fail "the pattern window is not listed"
  drv set 137 320
  drv set 136 240
}
# Grab, and fail on any message instead of a recording.
grab() {
  drv press 989
  if box=$(drv box 1500); then fail "a message at Grab: '$box'"; fi
  wait_status "Grabbing!" || fail "status never read Grabbing! (it reads '$(status)')"
}

rm -f "$movie"
start_pattern "$pattern"
start_skelby

# 1. and 2. Finished recordings.
for take in "3 4 $floor_normal Normal" "1 3 $floor_minimum Minimum"; do
  set -- $take
  choose_h264 "$1"
  t0=$(now_ms)
  grab
  seen=$(now_ms)
  sleep "$2"
  held=$(($(now_ms) - seen))
  drv press 989
  wait_status "idle." || fail "Stop did not go back to idle"
  wall=$(($(now_ms) - t0))
  after_stop
  python3 "$here/check-h264.py" "$movie" 320 240 100 "$3" --wall "$wall" --held "$held" \
    || fail "the finished H.264 recording at $4 quality"
  ok "a finished H.264 recording at $4 quality: $(stat -c %s "$movie") bytes"
done

# 3. Killed mid-recording.
rm -f "$movie"
choose_h264 3
grab
t0=$(now_ms)
sleep "$(python3 -c 'import random; print("%.1f" % random.uniform(2.5, 4.5))')"
kill -9 "$skelby_pid"
killed=$(($(now_ms) - t0))
wait "$skelby_pid" 2>/dev/null
python3 "$here/check-h264.py" "$movie" 320 240 100 "$floor_normal" --killed "$killed" \
  || fail "the H.264 recording killed after $killed ms"
ok "an H.264 recording killed after $killed ms plays to its last fragment"
echo "all H.264 end-to-end checks passed"
