#!/bin/bash
# Skelby's dialogs and messages, driven by real clicks and typing: Grab with
# no window chosen, dialogs and message boxes modal to the main window (no
# start inside another, no destination changed under a recording), what is
# refused while grabbing looks refused, and a long name typed in the save
# dialog is refused with a message instead of crashing Skelby.
#   dialogs-e2e.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e-lib.sh"
pattern="Skelby Pattern"
destination_label() { drv text -1; }  # the first unnamed control is the destination label
idle() { [ "$(drv text 989)" = "Grab" ] && [ "$(status)" != "Grabbing." ] && [ "$(status)" != "Grabbing!" ]; }
# A path of LENGTH characters on c:\ ending in .mov, typed whole, or with
# "relative" typed as a name that the dialog puts into its folder, c:\.
long_name() {  # LENGTH [relative]
  local stem
  stem=$(head -c $(($1 - 7)) /dev/zero | tr '\0' a)
  if [ "${2:-}" = relative ]; then echo "$stem.mov"; else echo "c:\\$stem.mov"; fi
}
type_name() {  # NAME: typed into the save dialog's name box, then Enter
  local xy
  xy=$(drv namebox 5000) || fail "the save dialog did not open"
  xdotool mousemove $xy click 1
  xdotool key End
  xdotool key --repeat 40 BackSpace
  xdotool type --delay 4 "$1"
  xdotool key Return
}

rm -f "$movie"
start_pattern "$pattern"
start_skelby

# 7. Grab with no window chosen asks for one and stays idle; no file.
click 989
[ "$(drv boxowner 5000)" = main ] || fail "the message should be owned by the main window"
expect_box "Choose the window to record first: click its title in the list."
sleep 0.3
idle || fail "Grab with no window chosen should stay idle (status '$(status)')"
[ ! -e "$movie" ] || fail "Grab with no window chosen wrote a movie"
ok "Grab with no window chosen asks for one, stays idle, writes nothing"

# Refresh empties the selection: Grab then asks again, whatever title was
# chosen before, and the file at the destination is left as it was.
click_item "$pattern"
sleep 0.3
case $(drv text 1001) in *" : "*x*) ;; *) fail "choosing the pattern showed no size" ;; esac
click 988  # Refresh
sleep 0.5
printf 'a movie of the user' >"$movie"
before=$(stat -c '%i %s %Y' "$movie")
click 989
expect_box "Choose the window to record first: click its title in the list."
sleep 0.3
idle || fail "Grab after Refresh should stay idle (status '$(status)')"
[ "$(stat -c '%i %s %Y' "$movie" 2>/dev/null)" = "$before" ] && [ "$(cat "$movie")" = "a movie of the user" ] \
  || fail "Grab after Refresh touched the destination file"
rm -f "$movie"
ok "Refresh then Grab asks for a window and leaves the destination file untouched"

# 5. The save dialog is modal to the main window: no Grab while it is up.
click_item "$pattern"
click 1002  # ...
drv namebox 5000 >/dev/null || fail "the save dialog did not open"
[ "$(drv mainenabled)" = 0 ] || fail "the main window should be disabled under the save dialog"
drv press 989  # a Grab that reaches the window all the same
sleep 1
idle || fail "a Grab ran under the save dialog"
drv cancel || fail "the save dialog could not be cancelled"
sleep 0.5
[ "$(drv mainenabled)" = 1 ] || fail "the main window should be enabled again"
ok "the save dialog is modal to the main window; no Grab under it"

# A failing start's message is modal too: no second start inside it.
drv destination 'c:\no-such-folder\grabbed.mov' || fail "the save dialog could not be driven"
sleep 0.5
click 989
[ "$(drv boxowner 5000)" = main ] || fail "the movie writer's message should be owned by the main window"
[ "$(drv mainenabled)" = 0 ] || fail "the main window should be disabled under the message"
drv press 989  # a second Grab, while the first start's message is up
sleep 1
box=$(drv box 3000) || fail "no message for a destination in a missing folder"
case $box in
  "Impossible To Create Movie File : Error "*) ;;
  *) fail "unexpected message '$box'" ;;
esac
if box=$(drv box 1500); then fail "a second start ran inside the first: '$box'"; fi
sleep 0.3
idle || fail "the window should be idle after the failed start"
ok "the failed start's message is modal to the main window; no start inside it"
drv destination 'c:\grabbed.mov' || fail "the save dialog could not be driven back"
sleep 0.5
[ "$(destination_label)" = 'c:\grabbed.mov' ] || fail "the destination reads '$(destination_label)'"

# 6. What is refused while grabbing looks refused.
[ "$(drv enabled 1002)" = 1 ] || fail "... should be enabled while idle"
click 989
wait_status "Grabbing!" || fail "status never read Grabbing! (it reads '$(status)')"
[ "$(drv enabled 1002)" = 0 ] || fail "... should be disabled while grabbing"
[ "$(drv enabled 137)" = 0 ] || fail "the Width field should be disabled while grabbing"
click 1002
drv press 999  # Settings, as the menu would send it
if box=$(drv box 1500); then fail "a dialog opened while grabbing: '$box'"; fi
drv namebox 500 >/dev/null && fail "the save dialog opened while grabbing"
click 989
wait_status "idle." || fail "Stop did not go back to idle"
[ "$(drv enabled 1002)" = 1 ] || fail "... should be enabled again after Stop"
ok "... and Settings are disabled and refused while grabbing"

# 8. A long name typed in the save dialog gives the message; Skelby lives.
message="Impossible To Create Movie File : Error -37"
for case in "266" "256 relative"; do
  set -- $case
  length=$1
  click 1002
  type_name "$(long_name $case)"
  expect_box "$message"
  skelby_alive || fail "Skelby died on a $length-character name"
  drv namebox 2000 >/dev/null || fail "the save dialog should stay open for another name"
  drv cancel || fail "the save dialog could not be cancelled"
  sleep 0.5
  [ "$(destination_label)" = 'c:\grabbed.mov' ] || fail "a refused name changed the destination"
  ok "a typed $length-character name is refused with '$message'; Skelby lives"
done
name=$(long_name 255)
click 1002
type_name "$name"
sleep 1
if box=$(drv box 1000); then fail "a 255-character name was refused: '$box'"; fi
[ "$(destination_label)" = "$name" ] || fail "the 255-character name was not taken"
ok "a typed 255-character name is taken"
drv destination 'c:\grabbed.mov' || fail "the save dialog could not be driven back"
sleep 0.5

quit_skelby || fail "Skelby did not quit"
echo "all dialog checks passed"
