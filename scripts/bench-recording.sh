#!/bin/bash
# Recording speed under wine64 + Xvfb, measured against what the recorded
# window itself shows. The run has a Wine session of its own (prefix, Xvfb
# screen and Wine desktop of 2560x1440), so that a 1920x1080 client area fits
# on the screen whole; the tests' sessions are left as they are.
#
# For each row, in the same run and on the same target window:
#  - FrameCost.exe makes the recorder's copy of the window's client area by
#    itself, 150 times before the recording and 150 times after it: the
#    median milliseconds of one copy (the better of the two runs) and the
#    frame rate that caps any recording of it. The client size it reads back
#    must be the size asked for, and the movie's frames that size too;
#    otherwise the row is refused.
#  - skelby.exe records the window for SECONDS. RecordingTarget.exe draws its
#    own millisecond clock into a strip of large black and white blocks, so
#    every decoded frame tells when the window was copied: a frame whose stamp
#    did not change is a stale copy, a stamp that goes back is a frame out of
#    order, a strip whose two rows disagree is a torn copy.
# After the table, NonePathBench.exe times the None codec's path to the file.
# Columns: copy-alone ms and fps limit; frames and fps (frames over the sum
# of their durations); fps over the limit; fresh frames; stamps forward;
# torn frames; durations min / median / max; the durations after the first
# against the target's clock from the first frame to the last; the whole sum
# against the wall clock from Grab to Stop (which includes the driver's own
# start-up of about a fifth of a second per command).
#   scripts/bench-recording.sh [BUILD_DIR] [SECONDS] [ROWS]
# ROWS, a regular expression, keeps only the rows whose "WxH CODEC INTERVAL"
# it matches (e.g. '1920x1080 None').
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
seconds=${2:-10}
only=${3:-}
bin=$build/bin
for p in skelby SkelbyDriver FrameCost RecordingTarget; do
  [ -x "$bin/$p.exe" ] || { echo "build first: cmake --preset win64 && cmake --build --preset win64" >&2; exit 2; }
done
export SKELBY_WINE_SESSION=bench SKELBY_WINE_SCREEN=2560x1440
screen_width=2560
"$root/scripts/wine-session.sh" start "$build" || exit 1
eval "$("$root/scripts/wine-session.sh" env "$build")"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
movie=$WINEPREFIX/drive_c/grabbed.mov
scratch=$(mktemp -d)
pids=()
finish() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  "$root/scripts/wine-session.sh" stop "$build"
  rm -rf "$scratch"
}
trap finish EXIT
drv() { "$wine" "$bin/SkelbyDriver.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
now_ms() { date +%s%3N; }
row=0

run() {  # WIDTH HEIGHT CODEC INTERVAL
  local w=$1 h=$2 codec=$3 interval=$4 title t0 wall x
  [[ "${w}x$h $codec $interval" =~ $only ]] || return 0
  row=$((row + 1))
  title="Stamp $row ${w}x${h}"
  # At the right edge of the screen, clear of Skelby's window on the left.
  x=$((screen_width - w - 40))
  "$wine" "$bin/RecordingTarget.exe" "$title" "$x" 0 "$w" "$h" </dev/null >/dev/null 2>&1 &
  pids+=($!)
  drv wait "$title" 15000 || { echo "| ${w}x${h} | $codec | $interval | no target window |"; return 1; }
  sleep 0.5
  "$wine" "$bin/FrameCost.exe" "$title" 150 </dev/null 2>/dev/null | tr -d '\r' >"$scratch/cost"
  if ! grep -qx "client ${w}x${h}" "$scratch/cost"; then
    echo "| ${w}x${h} | $codec | $interval | refused: the client area is $(sed -n 's/^client //p' "$scratch/cost") |"
    kill "${pids[-1]}" 2>/dev/null
    return 1
  fi
  drv settings "$codec" "$interval" || { echo "settings dialog not driven" >&2; return 1; }
  sleep 0.5
  drv refresh
  drv select "$title"
  drv set 137 "$w"
  drv set 136 "$h"
  rm -f "$movie"
  t0=$(now_ms)
  drv press 989
  sleep "$seconds"
  drv press 989
  for _ in $(seq 100); do [ "$(drv text 1000)" = "idle." ] && break; sleep 0.1; done
  wall=$(($(now_ms) - t0))
  # The copy alone again, after the recording: the machine is shared, and
  # the row's limit is the better of the two.
  "$wine" "$bin/FrameCost.exe" "$title" 150 </dev/null 2>/dev/null | tr -d '\r' >"$scratch/cost-after"
  kill "${pids[-1]}" 2>/dev/null
  python3 - "$movie" "$w" "$h" "$codec" "$interval" "$wall" "$scratch/cost" "$scratch/cost-after" <<'PY'
import json, statistics, subprocess, sys
movie, w, h, codec, interval, wall = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], \
    int(sys.argv[5]), int(sys.argv[6])
# The copy's median over each run of copies, the better of the run before
# the recording and the one after: a median is not moved by a few copies
# that another program's work made slow.
copies = []
for cost in sys.argv[7:9]:
    figures = dict(line.split(None, 1) for line in open(cost) if " " in line)
    if "median_ms" in figures:
        copies.append(float(figures["median_ms"]))
    client = figures.get("client", "?").strip()
copy_ms = min(copies)
limit = 1000.0 / copy_ms
head = "| %s | %s | %d | %.1f | %.1f |" % (client, codec, interval, copy_ms, limit)
out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                      "stream=width,height:packet=duration", "-of", "json", movie], capture_output=True, text=True)
probe = json.loads(out.stdout or "{}")
d = [int(p["duration"]) for p in probe.get("packets", [])]
if not d:
    print(head + " no movie |"); sys.exit(0)
stream = probe["streams"][0]
if (stream["width"], stream["height"]) != (w, h):
    print(head + " the movie is %dx%d |" % (stream["width"], stream["height"])); sys.exit(0)
# The stamp: 24 bits from the left, block = w / 32 pixels square, bit i at
# x = (4 + i) * block, the value at y = block, its inverse at y = 2 * block.
block, bits = w // 32, 24
strip = 3 * block
raw = subprocess.run(["ffmpeg", "-v", "error", "-i", movie, "-fps_mode", "passthrough", "-vf", "crop=%d:%d:0:0" % (w, strip),
                      "-f", "rawvideo", "-pix_fmt", "gray", "-"], capture_output=True).stdout
size = w * strip
stamps, torn = [], 0
for f in range(len(raw) // size):
    frame = raw[f * size:(f + 1) * size]
    def bit(i, r):
        x, y = (4 + i) * block + block // 2, r * block + block // 2
        return frame[y * w + x] > 127
    value = [bit(i, 1) for i in range(bits)]
    if any(bit(i, 2) == value[i] for i in range(bits)):
        torn += 1
        stamps.append(None)
        continue
    stamps.append(sum(1 << (bits - 1 - i) for i, b in enumerate(value) if b))
if len(stamps) != len(d):
    print(head + " %d frames in the file, %d decoded |" % (len(d), len(stamps))); sys.exit(0)
read = [s for s in stamps if s is not None]
fresh = sum(1 for a, b in zip(stamps, stamps[1:]) if a is not None and b is not None and b != a)
pairs = sum(1 for a, b in zip(stamps, stamps[1:]) if a is not None and b is not None)
forward = all(b >= a for a, b in zip(read, read[1:]))
total = sum(d)
fps = len(d) * 1000.0 / total
span = read[-1] - read[0] if len(read) > 1 else 0
after_first = total - d[0]
print(head + " %d | %.1f | %.2f | %.1f%% | %s | %d | %d / %d / %d | %d / %d = %.1f%% | %d / %d = %.1f%% |" % (
    len(d), fps, fps / limit, 100.0 * fresh / max(pairs, 1), "yes" if forward else "NO", torn,
    min(d), statistics.median(d), max(d), after_first, span, 100.0 * after_first / max(span, 1),
    total, wall, 100.0 * total / wall))
PY
}

(cd "$bin" && exec "$wine" skelby.exe </dev/null >/dev/null 2>&1) &
pids+=($!)
drv wait Skelby 15000 || { echo "Skelby did not open" >&2; exit 1; }
sleep 0.5
echo "| client size read back | codec | interval ms | copy ms | limit fps | frames | fps | fps / limit | fresh | forward | torn | duration min / median / max ms | sum after first / first-to-last ms | sum / wall ms |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
run 1280 720 Animation 33
for size in "1280 720" "1920 1080"; do
  for codec in Animation None "Photo - JPEG" PNG; do
    run $size "$codec" 1
  done
done
drv close
# The None codec's path from the DIB section to the file at 1920x1080, step
# by step (bench/wine/NonePathBench.cpp), on the same disk as the movies.
if [ -z "$only" ] && [ -x "$bin/NonePathBench.exe" ]; then
  echo
  (cd "$bin" && "$wine" NonePathBench.exe 120 1920 1080 'C:\' </dev/null 2>&1 | tr -d '\r')
fi
