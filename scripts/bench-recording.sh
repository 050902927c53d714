#!/bin/bash
# Recording speed under wine64 + Xvfb: skelby.exe records a pattern window
# and ffprobe reads back what it wrote. Prints one table row per run:
# achieved frames per second, the spread of frame durations, and the sum of
# durations against the wall-clock time from Grab to Stop (which includes
# the driver's own start-up of about a fifth of a second per command).
#   scripts/bench-recording.sh [BUILD_DIR] [SECONDS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
seconds=${2:-10}
bin=$build/bin
[ -x "$bin/skelby.exe" ] && [ -x "$bin/SkelbyDriver.exe" ] || {
  echo "build first: cmake --preset win64 && cmake --build --preset win64" >&2; exit 2; }
"$root/scripts/wine-session.sh" start "$build"
eval "$("$root/scripts/wine-session.sh" env "$build")"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
movie=$WINEPREFIX/drive_c/grabbed.mov
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done' EXIT
drv() { "$wine" "$bin/SkelbyDriver.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
now_ms() { date +%s%3N; }

run() {  # WIDTH HEIGHT CODEC INTERVAL
  local title="Bench $1x$2" t0 wall
  "$wine" "$bin/PatternWindow.exe" "$title" 300 0 "$1" "$2" </dev/null >/dev/null 2>&1 &
  pids+=($!)
  drv wait "$title" 15000 || { echo "no pattern window" >&2; return 1; }
  drv settings "$3" "$4" || { echo "settings dialog not driven" >&2; return 1; }
  sleep 0.5
  drv select "$title"
  drv set 137 "$1"
  drv set 136 "$2"
  rm -f "$movie"
  t0=$(now_ms)
  drv press 989
  sleep "$seconds"
  drv press 989
  for _ in $(seq 100); do [ "$(drv text 1000)" = "idle." ] && break; sleep 0.1; done
  wall=$(( $(now_ms) - t0 ))
  python3 - "$movie" "$1x$2" "$3" "$4" "$wall" <<'PY'
import json, statistics, subprocess, sys
movie, size, codec, interval, wall = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                      "packet=duration", "-of", "json", movie], capture_output=True, text=True)
d = [int(p["duration"]) for p in json.loads(out.stdout or '{"packets":[]}').get("packets", [])]
if not d:
    print("| %s | %s | %d | no movie |" % (size, codec, interval)); sys.exit(0)
total = sum(d)
print("| %s | %s | %d | %d | %.1f | %d / %d / %d / %.1f | %d | %d | %.1f%% |" % (
    size, codec, interval, len(d), len(d) * 1000.0 / total, min(d), statistics.median(d), max(d),
    statistics.pstdev(d), total, wall, 100.0 * total / wall))
PY
  kill "${pids[-1]}" 2>/dev/null
}

(cd "$bin" && exec "$wine" skelby.exe </dev/null >/dev/null 2>&1) &
pids+=($!)
drv wait Skelby 15000 || { echo "Skelby did not open" >&2; exit 1; }
sleep 0.5
echo "| size | codec | interval ms | frames | fps | duration min / median / max / sd ms | sum ms | wall ms | sum/wall |"
echo "|---|---|---|---|---|---|---|---|---|"
run 1280 720 Animation 33
for codec in Animation None "Photo - JPEG" PNG; do
  run 1920 1080 "$codec" 1
done
drv close
