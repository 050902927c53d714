#!/bin/bash
# Checks the movies MovieOutputQuickTimeTest wrote, with ffprobe and ffmpeg:
# one video track of the frame's size, time base 1/1000, three frames of
# 100, 120 and 95 ms (315 ms in all), and decoded pixels equal to the ones
# drawn. A Windows test that wrote no movie fails this check, which says so.
set -euo pipefail
out=$1
movie=$out/animation.mov
if [ ! -s "$movie" ] || [ ! -s "$out/animation.rgb" ]; then
  echo "FAIL: no movie written by MovieOutputQuickTimeTest: nothing to check"
  exit 1
fi
size=$(tr -d '\r\n' <"$out/animation.size")
fail=0
check() {  # name expected actual
  if [ "$2" == "$3" ]; then echo "ok   $1: $3"; else echo "FAIL $1: expected $2, got $3"; fail=1; fi
}
streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$movie" | tr '\n' ' ')
check "streams" "video " "$streams"
check "codec" "qtrle" "$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of csv=p=0 "$movie")"
check "size" "$size" "$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=s=x:p=0 "$movie")"
check "time base" "1/1000" "$(ffprobe -v error -select_streams v:0 -show_entries stream=time_base -of csv=p=0 "$movie")"
check "frames" "3" "$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$movie")"
check "frame durations" "100 120 95 " "$(ffprobe -v error -select_streams v:0 -show_entries packet=duration -of csv=p=0 "$movie" | tr '\n' ' ')"
check "stream duration" "0.315000" "$(ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 "$movie")"
decoded=$(mktemp)
trap 'rm -f "$decoded"' EXIT
# One picture per sample, however long each lasts.
ffmpeg -v error -y -i "$movie" -vsync passthrough -f rawvideo -pix_fmt rgb24 "$decoded"
if cmp -s "$decoded" "$out/animation.rgb"; then
  echo "ok   pixels: $(stat -c %s "$decoded") bytes equal what was drawn"
else
  echo "FAIL pixels: decoded frames differ from what was drawn ($(cmp "$decoded" "$out/animation.rgb" | head -1))"
  fail=1
fi
exit $fail
