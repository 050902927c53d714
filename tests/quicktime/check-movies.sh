#!/bin/bash
# check-movies.sh FOLDER: reads the movies that QuickTimeOperationsTest wrote
# with programs nobody here wrote. Each line of FOLDER/manifest.txt is
#   file decoder width height durations floor
# (durations in ms, comma-separated, "-" for none; floor "exact" or a PSNR in dB).
# ffprobe must report the codec, size, time base 1/1000, frame count and each
# frame's duration (from the frames' times, for a file cut short); mediainfo must read it; ffmpeg must decode every frame to
# the pixels in FILE.rgb, bit for bit or above the floor.
set -uo pipefail
folder=$1
manifest=$folder/manifest.txt
[ -s "$manifest" ] || { echo "no manifest in $folder" >&2; exit 1; }
failures=0
fail() { echo "FAIL $file: $*" >&2; failures=$((failures + 1)); }

# The manifest is read on its own descriptor: ffmpeg would eat standard input.
while read -r -u 3 file decoder width height durations floor; do
  floor=${floor%$'\r'}  # written by a Windows program
  movie=$folder/$file
  probe=$(ffprobe -v error -select_streams v:0 \
    -show_entries stream=codec_name,width,height,time_base,nb_frames,duration -of default=nw=1 \
    "$movie") || { fail "ffprobe refused it"; continue; }
  if [ "$durations" = "-" ]; then
    # No samples: ffprobe counts no frame (nb_frames N/A) and the track lasts 0.
    expectedCount=0; expectedList=""; countLine="duration=0.000000"
  else
    expectedCount=$(echo "$durations" | tr ',' '\n' | wc -l); expectedList=$durations
    total=$(( $(echo "$durations" | tr ',' '+') ))
    countLine="nb_frames=$expectedCount"
    grep -qx "duration=$(printf '%d.%03d000' $((total / 1000)) $((total % 1000)))" <<<"$probe" \
      || fail "ffprobe: track does not last $total ms: $(echo $probe)"
  fi
  # Fragments carry no frame count: their packets are counted below.
  grep -qx "nb_frames=N/A" <<<"$probe" && [ "$expectedCount" -gt 0 ] && countLine="nb_frames=N/A"
  for want in "codec_name=$decoder" "width=$width" "height=$height" "time_base=1/1000" \
               "$countLine"; do
    grep -qx "$want" <<<"$probe" || fail "ffprobe: expected $want, got: $(echo $probe)"
  done
  # A file read from its fragments (one cut short) gives its samples no
  # duration of their own: each lasts until the next starts, the last until
  # the track ends.
  end=$(ffprobe -v error -select_streams v:0 -show_entries stream=duration_ts -of csv=p=0 "$movie")
  got=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts,duration -of csv=p=0 "$movie" \
        | awk -F, -v end="$end" '
            { pts[NR] = $1; d[NR] = $2 }
            END { for (i = 1; i <= NR; i++) {
                    if (d[i] !~ /^[0-9]+$/) d[i] = (i < NR ? pts[i + 1] : end) - pts[i]
                    printf "%s%s", (i > 1 ? "," : ""), d[i] } }')
  [ "$got" = "$expectedList" ] || fail "frame durations $got, expected $expectedList"
  mediainfo --Inform="Video;%Width%x%Height%" "$movie" | grep -qx "${width}x${height}" \
    || fail "mediainfo does not read a ${width}x${height} video track"

  if [ "$expectedCount" -gt 0 ]; then
    decoded=$(mktemp)
    ffmpeg -nostdin -v error -i "$movie" -vsync passthrough -f rawvideo -pix_fmt rgb24 -y "$decoded" \
      || fail "ffmpeg could not decode it"
    frameBytes=$((width * height * 3))
    size=$(stat -c %s "$decoded")
    [ "$size" -eq $((frameBytes * expectedCount)) ] \
      || fail "decoded $size bytes, expected $expectedCount frames of $frameBytes"
    if [ "$floor" = exact ]; then
      cmp -s "$decoded" "$movie.rgb" || fail "decoded pixels differ from the ones compressed"
    else
      python3 - "$decoded" "$movie.rgb" "$floor" "$frameBytes" <<'PY' || fail "PSNR below the floor"
import math, sys
a = open(sys.argv[1], 'rb').read(); b = open(sys.argv[2], 'rb').read()
floor = float(sys.argv[3]); n = int(sys.argv[4])
if len(a) != len(b) or not a: sys.exit(1)
worst = 99.0
for f in range(len(a) // n):
    x, y = a[f * n:(f + 1) * n], b[f * n:(f + 1) * n]
    mse = sum((p - q) * (p - q) for p, q in zip(x, y)) / n
    db = 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)
    worst = min(worst, db)
print("  lowest frame PSNR %.2f dB (floor %.1f)" % (worst, floor))
sys.exit(0 if worst >= floor else 1)
PY
    fi
    rm -f "$decoded"
  fi
  echo "ok $file: $decoder ${width}x${height} durations ${expectedList:-none}"
done 3<"$manifest"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
