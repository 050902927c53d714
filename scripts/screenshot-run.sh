#!/bin/bash
# Shows what `make run` gives on a machine without a display: runs
# scripts/run.sh with no DISPLAY, checks that the demo window is in Skelby's
# list as Skelby fills it at start (no Refresh), and takes the picture of
# both windows from the run's virtual display. Then closes Skelby, which ends
# run.sh and the demo window.
#   scripts/screenshot-run.sh [BUILD_DIR] [OUT.png]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build/win64}" && pwd)
out=${2:-docs/make-run.png}
demo_title="Skelby Demo"
log=$(mktemp)
# A run's display stays up after Skelby closes, for the next run; one that
# this script brought up goes with it.
state=$build/wine-session-run
was_up=
[ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null && was_up=1
finish() {
  rm -f "$log"
  [ -n "$was_up" ] || SKELBY_WINE_SESSION=run "$here/wine-session.sh" stop "$build"
}
trap finish EXIT

env -u DISPLAY "$here/run.sh" "$build" >"$log" 2>&1 &
run_pid=$!
# No Wine program of ours may start in the prefix before run.sh has set it
# up (its first start waits for the Wine server to end): its line says when.
until grep -q '^run: ' "$log"; do
  kill -0 $run_pid 2>/dev/null || { cat "$log"; echo "screenshot-run: run.sh ended early" >&2; exit 1; }
  sleep 0.2
done
eval "$(SKELBY_WINE_SESSION=run "$here/wine-session.sh" env "$build")"
drv() { "$SKELBY_WINE" "$build/bin/SkelbyDriver.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
drv wait Skelby 60000 || { cat "$log"; echo "screenshot-run: Skelby did not open" >&2; exit 1; }
# The list is filled before the window shows: wait until it answers.
for _ in $(seq 100); do [ "$(drv text 989)" = Grab ] && break; sleep 0.1; done
drv item "$demo_title" >/dev/null || { echo "screenshot-run: '$demo_title' is not in Skelby's list" >&2; exit 1; }
sleep 1
# Skelby at the desktop's corner, the demo window beside it.
import -display "$DISPLAY" -window root -crop 640x390+0+0 +repage "$out"
drv close
wait $run_pid || true
drv gone "$demo_title" 10000 || { echo "screenshot-run: the demo window stayed after Skelby closed" >&2; exit 1; }
grep '^run:' "$log"
echo "screenshot-run: '$demo_title' is listed; $out"
