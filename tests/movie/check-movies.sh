#!/bin/bash
# Checks the movies MovieOutputQuickTimeTest wrote, with ffprobe and ffmpeg:
# one video track of the frame's size, time base 1/1000, three frames of
# 100, 120 and 95 ms (315 ms in all), and decoded pixels equal to the ones
# drawn; and an H.264 movie that libavcodec's own decoder reads whole, each
# frame with its duration, key frames flagged, close to what was drawn. A
# Windows test that wrote no movie fails this check, which says so.
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

# H.264: 64 x 64, 30 frames of the durations the writer was given.
h264=$out/h264.mov
if [ ! -s "$h264" ] || [ ! -s "$out/h264.rgb" ]; then
  echo "FAIL: no H.264 movie written by MovieOutputQuickTimeTest"
  exit 1
fi
check "h264 codec" "h264,avc1" \
  "$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,codec_tag_string -of csv=p=0 "$h264")"
check "h264 size" "64x64" "$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=s=x:p=0 "$h264")"
check "h264 frame durations" "$(tr -d '\r\n' <"$out/h264.durations")" \
  "$(ffprobe -v error -select_streams v:0 -show_entries packet=duration -of csv=p=0 "$h264" | tr '\n' ' ')"
# K for a key frame: the first is one, and not every one is (the movie has stss).
keys=$(ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 "$h264" | cut -c1 | tr -d '\n')
if [[ $keys == K* ]] && [[ $keys == *_* ]]; then
  echo "ok   h264 key frames: $keys"
else
  echo "FAIL h264 key frames: the first must be one and not all, got $keys"
  fail=1
fi
ffmpeg -v error -y -c:v h264 -i "$h264" -vsync passthrough -f rawvideo -pix_fmt rgb24 "$decoded"
psnr=$(python3 - "$decoded" "$out/h264.rgb" <<'PY'
import math, sys
a, b = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
size = 64 * 64 * 3
if len(a) != len(b):
    print("decoded %d frames, drew %d" % (len(a) // size, len(b) // size))
    sys.exit(0)
worst = 99.0
for i in range(0, len(a), size):
    err = sum((x - y) * (x - y) for x, y in zip(a[i:i + size], b[i:i + size]))
    worst = min(worst, 99.0 if err == 0 else 10 * math.log10(255 * 255 * size / err))
print("%.2f" % worst)
PY
)
# Normal quality on flat colours (35.5 dB and more when measured): far
# above what a broken conversion or a frame decoded against the wrong
# reference gives.
if [[ $psnr =~ ^[0-9.]+$ ]] && python3 -c "import sys; sys.exit(0 if $psnr >= 33 else 1)"; then
  echo "ok   h264 pixels: every frame within $psnr dB of what was drawn (floor 33)"
else
  echo "FAIL h264 pixels: $psnr"
  fail=1
fi
exit $fail
