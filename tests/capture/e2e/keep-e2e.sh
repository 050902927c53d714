#!/bin/bash
# No movie is lost to a second click, a window never found or the end of the
# session, driven through skelby.exe with real clicks:
# 1. a double-click on Stop: the movie just saved stays as it is (same
#    inode, size and bytes), ffprobe reads it, and Skelby stays idle;
# 2. Grab on a window that closed after it was chosen, then Stop: the file
#    at the destination is left byte for byte, and the box says why;
# 3. the session ends (wineboot --end-session) during a recording: Skelby
#    saves the movie before it goes, a finished ordinary movie (ftyp wide
#    mdat moov) that ffprobe reads with every frame up to the end.
#   keep-e2e.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
# The end of the session ends every program of it, the Wine desktop with
# them: this script has a session of its own, which it stops when done.
export SKELBY_WINE_SESSION=keep
. "$here/e2e-lib.sh"
trap 'e2e_cleanup; "$e2e_root/scripts/wine-session.sh" stop "$build"' EXIT
pattern="Skelby Keeper"
vanishing="Skelby Vanishing"

# "inode size sha256" of a file.
identity() { echo "$(stat -c '%i %s' "$1") $(sha256sum <"$1" | cut -d' ' -f1)"; }
# The top-level atoms of a movie, in file order.
atoms() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
pos, names = 0, []
while pos + 8 <= len(data):
    size, kind = struct.unpack(">I4s", data[pos:pos + 8])
    if size == 1:
        size = struct.unpack(">Q", data[pos + 8:pos + 16])[0]
    names.append(kind.decode("latin-1"))
    if size < 8:
        break
    pos += size
print(" ".join(names))
PY
}
frames_of() { ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$1"; }
# Watches, for at least the system's double-click time and a margin, that
# Skelby stays idle: no status but "idle.", no button but Grab.
stays_idle() {
  local until=$(($(now_ms) + 1500))
  while [ "$(now_ms)" -lt "$until" ]; do
    [ "$(status)" = "idle." ] || return 1
    [ "$(drv text 989)" = "Grab" ] || return 1
  done
}

rm -f "$movie"
start_pattern "$pattern"
start_skelby
drv select "$pattern" || fail "the pattern window is not listed"
drv set 137 320
drv set 136 240

# 1. A double-click on Stop.
click 989  # Grab
wait_status "Grabbing!" || fail "status never read Grabbing! (it reads '$(status)')"
sleep 1.5
xy=$(drv center 989)
xdotool mousemove $xy click --repeat 2 --delay 80 1
wait_status "idle." || fail "Stop did not go back to idle (status '$(status)')"
saved=$(identity "$movie")
stays_idle || fail "the second click started something: status '$(status)', button '$(drv text 989)'"
[ "$(identity "$movie")" = "$saved" ] || fail "the saved movie changed: $saved, now $(identity "$movie")"
frames=$(frames_of "$movie") || fail "ffprobe does not read the saved movie"
[ "${frames:-0}" -ge 5 ] || fail "the saved movie holds $frames frames"
[ "$(atoms "$movie")" = "ftyp wide mdat moov" ] || fail "the saved movie reads '$(atoms "$movie")'"
ok "a double-click on Stop: Skelby idle, the movie of $frames frames kept as saved ($saved)"
# A deliberate Grab a moment later records as ever.
record_for 1.2
python3 "$here/check-movie.py" "$movie" 320 240 100 "$wall" --held "$held" || exit 1
ok "a Grab a moment later records a new movie"

# 2. Grab on a window that closed.
start_pattern "$vanishing"
drv refresh
drv select "$vanishing" || fail "'$vanishing' is not listed"
kill "${pids[-1]}"
drv gone "$vanishing" 30000 || fail "'$vanishing' did not close"
head -c 5000 /dev/urandom >"$movie"
before=$(identity "$movie")
cp "$movie" "$movie.before"
click 989  # Grab
wait_status "Grabbing." || fail "Grab did not start looking (status '$(status)')"
sleep 1
click 989  # Stop
expect_box "Nothing was recorded: no window titled \"$vanishing\" could be found." 10000
wait_status "idle." || fail "Stop did not go back to idle (status '$(status)')"
cmp -s "$movie" "$movie.before" || fail "the file at the destination changed"
[ "$(identity "$movie")" = "$before" ] || fail "the file at the destination is not the same file"
rm -f "$movie.before"
ok "Grab on a closed window, then Stop: told, and the file there left byte for byte"

# 3. The session ends during a recording.
rm -f "$movie"
drv select "$pattern" || fail "the pattern window is not listed"
t0=$(now_ms)
click 989  # Grab
wait_status "Grabbing!" || fail "status never read Grabbing! (it reads '$(status)')"
seen=$(now_ms)
sleep 3
ended=$(now_ms)
"$wine" wineboot --end-session </dev/null >/dev/null 2>&1 &
ender=$!
for _ in $(seq 600); do skelby_alive || break; sleep 0.1; done
skelby_alive && fail "Skelby did not end with the session"
wait "$ender"
held=$((ended - seen))
[ "$(atoms "$movie")" = "ftyp wide mdat moov" ] || fail "the movie left reads '$(atoms "$movie")'"
python3 "$here/check-movie.py" "$movie" 320 240 100 "$(($(now_ms) - t0))" --held "$held" || exit 1
ok "the session ended during a recording: a finished movie, every frame up to the end ($(frames_of "$movie") frames)"
echo "all keep checks passed"
