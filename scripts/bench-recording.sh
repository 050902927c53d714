#!/bin/bash
# Recording speed under wine64 + Xvfb, measured against what the recorded
# window itself shows. The run has a Wine session of its own (prefix, Xvfb
# screen and Wine desktop of 2560x1440), so that a 1920x1080 client area fits
# on the screen whole; the tests' sessions are left as they are.
#
# For each row, in the same run and on the same target window, recordings
# and measures of the copy take turns (a measure, then three times a
# recording and a measure), so that both see the machine over the same
# stretch of time; this virtual machine's copy alone has been seen to move
# from 5 to 25 ms at 1920x1080 within minutes.
#  - FrameCost.exe makes the recorder's copy of the window's client area by
#    itself, 60 times: the median milliseconds of one copy. The row's limit
#    is the median of the measures' medians, the frame rate that caps any
#    recording of that window. The client size it reads back must be the
#    size asked for, and the movie's frames that size too; otherwise the row
#    is refused.
#  - FrameCost.exe then makes that copy into a movie writer's frame and adds
#    the frame to a scratch movie with the row's codec, 60 times: the median
#    of copy and addFrame together is what one frame costs the recorder's one
#    thread with that codec, and the rate it allows (again from the median of
#    the measures) is the most a recording with that codec can reach. Its
#    addFrame alone (compression and append; for H.264 the conversion to
#    I420 too) is also given as a ratio to the copy alone measured in the
#    same run: the codec's cost in the platform's own unit.
#  - skelby.exe, started for each recording alone, records the window for a
#    third of SECONDS. RecordingTarget.exe draws its own millisecond clock
#    into a strip of large black and white blocks, so every decoded frame
#    tells when the window was copied: a frame whose stamp did not change is a
#    stale copy, a stamp that goes back is a frame out of order, a strip
#    whose two rows disagree is a torn copy.
# After the table, NonePathBench.exe times the None codec's path to the file.
# Columns: copy-alone ms and fps limit; copy + addFrame ms and the codec's
# limit; addFrame over the copy alone; frames and fps (frames over the sum of their durations); fps over
# each limit; fresh frames; stamps forward; torn frames; durations min /
# median / max; the durations after the first against the target's clock
# from the first frame to the last; the whole sum against the wall clock from
# Grab to Stop (which includes the driver's own start-up of about a fifth of
# a second per command).
#   scripts/bench-recording.sh [BUILD_DIR] [SECONDS] [ROWS]
# ROWS, a regular expression, keeps only the rows whose "WxH CODEC INTERVAL"
# it matches (e.g. '1920x1080 None').
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
seconds=${2:-12}
# A row's recording time is cut into this many recordings, each followed by
# a measure of this many copies (and as many frames with the codec).
recordings=3
copies=60
each=$(python3 -c "print($seconds / $recordings)")
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

# Skelby runs only while it records: its main loop never waits, so an idle
# Skelby would keep a processor busy while the copy alone is measured, and
# make the limit it is held to lower than the machine's.
skelby_pid=
start_skelby() {
  (cd "$bin" && exec "$wine" skelby.exe </dev/null >/dev/null 2>&1) &
  skelby_pid=$!
  pids+=($skelby_pid)
  drv wait Skelby 15000 || { echo "Skelby did not open" >&2; return 1; }
  sleep 0.5
}
close_skelby() {
  drv close
  for _ in $(seq 100); do kill -0 "$skelby_pid" 2>/dev/null || return 0; sleep 0.1; done
  kill "$skelby_pid" 2>/dev/null
}

cost() {  # TITLE W H CODEC OUT
  "$wine" "$bin/FrameCost.exe" "$1" "$copies" "$2" "$3" "$4" 'C:\framecost.mov' </dev/null 2>/dev/null |
    tr -d '\r' >"$5"
}

run() {  # WIDTH HEIGHT CODEC INTERVAL
  local w=$1 h=$2 codec=$3 interval=$4 title t0 x k target
  [[ "${w}x$h $codec $interval" =~ $only ]] || return 0
  # H.264 is in the codec list only when OpenH264's DLL lies beside QuickTime.qts.
  if [ "$codec" = H.264 ] && ! compgen -G "$bin/openh264-2.3.1-win*.dll" >/dev/null; then
    echo "| ${w}x$h | $codec | $interval | no openh264-2.3.1 DLL in $bin |"
    return 0
  fi
  row=$((row + 1))
  title="Stamp $row ${w}x${h}"
  # At the right edge of the screen, clear of Skelby's window on the left.
  x=$((screen_width - w - 40))
  "$wine" "$bin/RecordingTarget.exe" "$title" "$x" 0 "$w" "$h" </dev/null >/dev/null 2>&1 &
  target=$!
  pids+=($target)
  drv wait "$title" 15000 || { echo "| ${w}x${h} | $codec | $interval | no target window |"; return 1; }
  sleep 0.5
  rm -f "$scratch"/cost.* "$scratch"/movie.* "$scratch"/wall.*
  cost "$title" "$w" "$h" "$codec" "$scratch/cost.0"
  if ! grep -qx "client ${w}x${h}" "$scratch/cost.0"; then
    echo "| ${w}x${h} | $codec | $interval | refused: the client area is $(sed -n 's/^client //p' "$scratch/cost.0") |"
    kill "$target" 2>/dev/null
    return 1
  fi
  # Recordings and measures of the copy take turns, so that both see the
  # machine as it was over the same stretch of time.
  for k in $(seq "$recordings"); do
    start_skelby || return 1
    drv settings "$codec" "$interval" || { echo "settings dialog not driven" >&2; return 1; }
    sleep 0.5
    drv select "$title"
    drv set 137 "$w"
    drv set 136 "$h"
    rm -f "$movie"
    t0=$(now_ms)
    drv press 989
    sleep "$each"
    drv press 989
    for _ in $(seq 100); do [ "$(drv text 1000)" = "idle." ] && break; sleep 0.1; done
    echo $(($(now_ms) - t0)) >"$scratch/wall.$k"
    close_skelby
    mv "$movie" "$scratch/movie.$k" 2>/dev/null
    cost "$title" "$w" "$h" "$codec" "$scratch/cost.$k"
  done
  kill "$target" 2>/dev/null
  python3 - "$scratch" "$recordings" "$w" "$h" "$codec" "$interval" <<'PY'
import json, statistics, subprocess, sys
scratch, recordings, w, h, codec, interval = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), \
    int(sys.argv[4]), sys.argv[5], int(sys.argv[6])
# Each measure of the copy gives the median of its copies (a median is not
# moved by a few copies that another program's work made slow), alone and
# followed by the codec's addFrame. The row's limits come from the median of
# those medians; the range shows how much the machine moved meanwhile.
copies, frames, adds, client = [], [], [], "?"
for k in range(recordings + 1):
    try:
        figures = dict(line.split(None, 1) for line in open("%s/cost.%d" % (scratch, k)) if " " in line)
    except OSError:
        continue
    if "median_ms" in figures:
        copies.append(float(figures["median_ms"]))
    if "frame_ms" in figures:
        frames.append(float(figures["frame_ms"]))
    if "add_ms" in figures:
        adds.append(float(figures["add_ms"]))
    client = figures.get("client", client).strip()
copy_ms = statistics.median(copies)
limit = 1000.0 / copy_ms
frame_ms = statistics.median(frames) if frames else float("nan")
codec_limit = 1000.0 / frame_ms
add_ms = statistics.median(adds) if adds else float("nan")
head = "| %s | %s | %d | %.1f (%.1f-%.1f) | %.1f | %.1f (%.1f-%.1f) | %.1f | %.2f |" % (
    client, codec, interval, copy_ms, min(copies), max(copies), limit, frame_ms,
    min(frames or [0]), max(frames or [0]), codec_limit, add_ms / copy_ms)
durations, fresh, pairs, torn, forward, after_first, span, wall = [], 0, 0, 0, True, 0, 0, 0
for k in range(1, recordings + 1):
    movie = "%s/movie.%d" % (scratch, k)
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                          "stream=width,height:packet=duration", "-of", "json", movie], capture_output=True, text=True)
    probe = json.loads(out.stdout or "{}")
    d = [int(p["duration"]) for p in probe.get("packets", [])]
    if not d:
        print(head + " no movie from recording %d |" % k); sys.exit(0)
    stream = probe["streams"][0]
    if (stream["width"], stream["height"]) != (w, h):
        print(head + " the movie is %dx%d |" % (stream["width"], stream["height"])); sys.exit(0)
    # The stamp: 24 bits from the left, block = w / 32 pixels square, bit i at
    # x = (4 + i) * block, the value at y = block, its inverse at y = 2 * block.
    block, bits = w // 32, 24
    strip = 3 * block
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", movie, "-fps_mode", "passthrough", "-vf",
                          "crop=%d:%d:0:0" % (w, strip), "-f", "rawvideo", "-pix_fmt", "gray", "-"],
                         capture_output=True).stdout
    size = w * strip
    stamps = []
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
    fresh += sum(1 for a, b in zip(stamps, stamps[1:]) if a is not None and b is not None and b != a)
    pairs += sum(1 for a, b in zip(stamps, stamps[1:]) if a is not None and b is not None)
    forward = forward and all(b >= a for a, b in zip(read, read[1:]))
    durations += d
    after_first += sum(d) - d[0]
    span += read[-1] - read[0] if len(read) > 1 else 0
    wall += int(open("%s/wall.%d" % (scratch, k)).read())
total = sum(durations)
fps = len(durations) * 1000.0 / total
print(head + " %d | %.1f | %.2f | %.2f | %.1f%% | %s | %d | %d / %d / %d | %d / %d = %.1f%% | %d / %d = %.1f%% |" % (
    len(durations), fps, fps / limit, fps / codec_limit, 100.0 * fresh / max(pairs, 1), "yes" if forward else "NO",
    torn, min(durations), statistics.median(durations), max(durations), after_first, span,
    100.0 * after_first / max(span, 1), total, wall, 100.0 * total / wall))
PY
}

echo "| client size read back | codec | interval ms | copy ms (range) | limit fps | copy + addFrame ms (range) | codec limit fps | addFrame / copy | frames | fps | fps / limit | fps / codec limit | fresh | forward | torn | duration min / median / max ms | sum after first / first-to-last ms | sum / wall ms |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
run 1280 720 Animation 33
for size in "1280 720" "1920 1080"; do
  for codec in Animation None "Photo - JPEG" PNG H.264; do
    run $size "$codec" 1
  done
done
# The None codec's path from the DIB section to the file at 1920x1080, step
# by step (bench/wine/NonePathBench.cpp), on the same disk as the movies.
if [ -z "$only" ] && [ -x "$bin/NonePathBench.exe" ]; then
  echo
  (cd "$bin" && "$wine" NonePathBench.exe 120 1920 1080 'C:\' </dev/null 2>&1 | tr -d '\r')
fi
