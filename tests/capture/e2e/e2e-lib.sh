# Shared by the end-to-end scripts: Skelby and its target windows under the
# build folder's Wine session (wine64, or 32-bit Wine for the 32-bit build),
# worked from outside with SkelbyDriver.exe and real X clicks. Source it after
# setting `build` to the build folder:
#   build=$(cd "$1" && pwd); . "$(dirname "$0")/e2e-lib.sh"
# It starts the session, exports its variables and kills every program it
# started when the script exits. Waits end on what the driver sees (a window,
# a status, a button), never on a fixed delay alone: under emulation each
# driver call takes most of a second.
bin=$build/bin
e2e_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
"$e2e_root/scripts/wine-session.sh" start "$build"
eval "$("$e2e_root/scripts/wine-session.sh" env "$build")"
wine=$SKELBY_WINE
movie=$WINEPREFIX/drive_c/grabbed.mov
pids=()
skelby_pid=

drv() { "$wine" "$bin/SkelbyDriver.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
e2e_cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  pids=()
}
trap e2e_cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
ok() { echo "ok: $*"; }
now_ms() { date +%s%3N; }

# CLOSE_AFTER_MS: the window closes that long after Skelby's status first
# reads "Grabbing!" while it is open (the recording has found a target),
# however long Skelby took to get there.
start_pattern() {  # TITLE [CLOSE_AFTER_MS] [X Y W H]
  # Once in a while a busy Wine never shows a program's window (seen once, in
  # a whole test run); the target is not what is under test, so it gets a
  # second start.
  local try
  for try in 1 2; do
    "$wine" "$bin/PatternWindow.exe" "$1" "${3:-400}" "${4:-100}" "${5:-640}" "${6:-480}" "${2:-0}" \
      </dev/null >/dev/null 2>&1 &
    pids+=($!)
    drv wait "$1" 60000 && return 0
    echo "the pattern window '$1' did not open (try $try)"
    kill "${pids[-1]}" 2>/dev/null
  done
  fail "the pattern window '$1' did not open"
}
# Returns once Skelby answers its window's messages: its main loop runs.
# PRELOAD: a library loaded into Skelby alone (the full-disk preload); 32-bit
# Wine in the i386 root takes it through the root's own variable.
start_skelby() {  # [PRELOAD]
  local preload=()
  if [ -n "${1:-}" ]; then
    case $wine in
      *i686*) preload=("SKELBY_I686_LD_PRELOAD=$1") ;;
      *) preload=("LD_PRELOAD=$1") ;;
    esac
  fi
  (cd "$bin" && exec env "${preload[@]}" "$wine" skelby.exe </dev/null >/dev/null 2>&1) &
  skelby_pid=$!
  pids+=($skelby_pid)
  drv wait Skelby 60000 || fail "Skelby did not open"
  for _ in $(seq 100); do [ "$(drv text 989)" = Grab ] && return 0; sleep 0.1; done
  fail "Skelby's window opened but its Grab button never answered"
}
status() { drv text 1000; }
# TENTHS_OF_A_SECOND of wall time (default 30 s), at least one look.
wait_status() {  # TEXT [TENTHS_OF_A_SECOND]
  local until=$(($(now_ms) + ${2:-300} * 100))
  while :; do
    [ "$(status)" = "$1" ] && return 0
    [ "$(now_ms)" -lt "$until" ] || return 1
    sleep 0.1
  done
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
  for _ in $(seq 300); do skelby_alive || return 0; sleep 0.1; done
  return 1
}
# Grab (pressed), wait, then Stop. Sets wall to the milliseconds from the
# Grab press to the status back at idle (the recording lies within them) and
# held to those from the status read as "Grabbing!" to the Stop press (they
# lie within the recording): check-movie.py WALL_MS and --held MS.
record_for() {  # SECONDS
  local t0 seen
  t0=$(now_ms)
  drv press 989
  wait_status "Grabbing!" || fail "status never read Grabbing! (it reads '$(status)')"
  seen=$(now_ms)
  sleep "$1"
  held=$(($(now_ms) - seen))
  drv press 989
  wait_status "idle." || fail "Stop did not go back to idle"
  wall=$(($(now_ms) - t0))
  after_stop
}
# Skelby takes a Grab within the double-click time of a Stop (500 ms here)
# for the second click of a double-click on Stop and ignores it: a script
# that means a new recording waits that long, as a person would.
after_stop() { sleep 0.6; }
