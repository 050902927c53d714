# Shared by the end-to-end scripts: Skelby and its target windows under the
# build folder's Wine session, worked from outside with SkelbyDriver.exe and
# real X clicks. Source it after setting `build` to the build folder:
#   build=$(cd "$1" && pwd); . "$(dirname "$0")/e2e-lib.sh"
# It starts the session, exports its variables and kills every program it
# started when the script exits.
bin=$build/bin
e2e_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
"$e2e_root/scripts/wine-session.sh" start "$build"
eval "$("$e2e_root/scripts/wine-session.sh" env "$build")"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
movie=$WINEPREFIX/drive_c/grabbed.mov
pids=()
skelby_pid=

drv() { "$wine" "$bin/SkelbyDriver.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
e2e_cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  pids=()
}
trap e2e_cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }
ok() { echo "ok: $*"; }
now_ms() { date +%s%3N; }

start_pattern() {  # TITLE [CLOSE_AFTER_MS] [X Y W H]
  "$wine" "$bin/PatternWindow.exe" "$1" "${3:-400}" "${4:-100}" "${5:-640}" "${6:-480}" "${2:-0}" \
    </dev/null >/dev/null 2>&1 &
  pids+=($!)
  drv wait "$1" 15000 || fail "the pattern window '$1' did not open"
}
start_skelby() {
  (cd "$bin" && exec "$wine" skelby.exe </dev/null >/dev/null 2>&1) &
  skelby_pid=$!
  pids+=($skelby_pid)
  drv wait Skelby 15000 || fail "Skelby did not open"
  sleep 0.5
}
status() { drv text 1000; }
wait_status() {  # TEXT [TENTHS_OF_A_SECOND]
  for _ in $(seq "${2:-50}"); do [ "$(status)" = "$1" ] && return 0; sleep 0.1; done
  return 1
}
# A user's click at a control's centre, through the X server.
click() {
  local xy
  xy=$(drv center "$1")
  xdotool mousemove $xy click 1
}
# A user's click, or double-click, on a list entry (the list read afresh).
click_item() {  # ENTRY [dbl]
  local xy
  drv refresh
  xy=$(drv item "$1") || fail "'$1' is not listed"
  if [ "${2:-}" = dbl ]; then
    xdotool mousemove $xy click --repeat 2 --delay 60 1
  else
    xdotool mousemove $xy click 1
  fi
}
# The next message box of Skelby must say TEXT; it is then dismissed.
expect_box() {  # TEXT [MS]
  local box
  box=$(drv box "${2:-5000}") || fail "no message box, expected '$1'"
  [ "$box" = "$1" ] || fail "the message box says '$box', expected '$1'"
}
skelby_alive() { kill -0 "$skelby_pid" 2>/dev/null; }
quit_skelby() {
  drv close
  for _ in $(seq 100); do skelby_alive || return 0; sleep 0.1; done
  return 1
}
# Grab (pressed), wait, then Stop; sets wall to the recorded milliseconds.
record_for() {  # SECONDS
  local t0
  t0=$(now_ms)
  drv press 989
  wait_status "Grabbing!" || fail "status never read Grabbing! (it reads '$(status)')"
  sleep "$1"
  drv press 989
  wait_status "idle." || fail "Stop did not go back to idle"
  wall=$(($(now_ms) - t0))
}
