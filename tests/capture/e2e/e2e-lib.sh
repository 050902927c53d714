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
# however long Skelby took to get there. "aware": the target declares itself
# DPI-aware.
start_pattern() {  # TITLE [CLOSE_AFTER_MS] [X Y W H] [aware]
  # Once in a while a busy Wine never shows a program's window (seen once, in
  # a whole test run); the target is not what is under test, so it gets a
  # second start.
  local try
  for try in 1 2; do
    "$wine" "$bin/PatternWindow.exe" "$1" "${3:-400}" "${4:-100}" "${5:-640}" "${6:-480}" "${2:-0}" "${7:-}" \
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
# What check-layout.py judges a window by: the driver's list of its controls
# (WINDOW.txt), a screenshot of it as laid out (WINDOW.png), then one of each
# control that shows a text, given room, alone in the window
# (WINDOW-HANDLE.png, and where: WINDOW-HANDLE.txt), and put back. WINDOW: main or settings (the Export
# Settings dialog, opened and left up).
shoot_layout() {  # WINDOW DIR
  local id cls style rect handle dpi text x0 y0 x1 y1 w h gw gh gx gy wx0 wy0 wx1 wy1
  drv controls "$1" >"$2/$1.txt" || return 1
  sleep 0.3  # the dialog just opened is drawn
  import -display "$DISPLAY" -window root "$2/$1.png"
  read -r wx0 wy0 wx1 wy1 < <(awk -F'\t' '$1 == "window" { print $2 }' "$2/$1.txt")
  while IFS=$'\t' read -r id cls style rect handle dpi text; do
    case $cls in Static | Button) [ -n "$text" ] || continue ;; *) continue ;; esac
    read -r x0 y0 x1 y1 <<<"$rect"
    w=$((x1 - x0)) h=$((y1 - y0))
    # Three times as wide and high, about its centre, within the window.
    gw=$((w * 3 + 60)) gh=$((h * 3))
    [ $gw -le $((wx1 - wx0)) ] || gw=$((wx1 - wx0))
    [ $gh -le $((wy1 - wy0)) ] || gh=$((wy1 - wy0))
    gx=$((x0 - (gw - w) / 2)) gy=$((y0 - (gh - h) / 2))
    [ $gx -ge "$wx0" ] || gx=$wx0
    [ $gy -ge "$wy0" ] || gy=$wy0
    [ $((gx + gw)) -le "$wx1" ] || gx=$((wx1 - gw))
    [ $((gy + gh)) -le "$wy1" ] || gy=$((wy1 - gh))
    drv place "$handle" $gx $gy $gw $gh alone || return 1
    sleep 0.3  # Wine hands what was drawn to the X server on a timer
    import -display "$DISPLAY" -window root "$2/$1-$handle.png"
    echo "$gx $gy $((gx + gw)) $((gy + gh))" >"$2/$1-$handle.txt"
    drv place "$handle" "$x0" "$y0" "$w" "$h" || return 1
  done <"$2/$1.txt"
  sleep 0.3
}
# Skelby takes a Grab within the double-click time of a Stop (500 ms here)
# for the second click of a double-click on Stop and ignores it: a script
# that means a new recording waits that long, as a person would.
after_stop() { sleep 0.6; }
