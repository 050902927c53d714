#!/bin/bash
# The Debian trixie (amd64) root with Wine 10, in which the 64-bit build's
# programs also run: Wine 10 scales programs that are not DPI-aware as
# Windows does, which the host's Wine 8 does not, so the display-scaling
# tests run here. amd64 needs no emulation; the root lives in a per-machine
# cache outside the clone, built once (a few minutes), then only mounted.
#
#   wine10-root.sh session CMD [ARG...]
#       brings the root up (building it when missing), runs CMD on the host
#       and brings the root down again, also when CMD fails or the session
#       is interrupted: the root's processes ended, its mounts released.
#       Inside, the clone and /tmp are seen at their own paths, the host's X
#       servers are reachable, and `run` works.
#   wine10-root.sh run CMD [ARG...]
#       runs CMD inside the root, in the current folder when the root sees it.
#
# The cache is $SKELBY_WINE10_CACHE, by default ~/.cache/skelby-wine10. When
# the machine cannot do it, the session fails with one line that says why.
set -uo pipefail
tag=wine10
what="the Wine 10 tests"
cache=${SKELBY_WINE10_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/skelby-wine10}
suite=trixie
arch=amd64
build_minutes=5
# fonts-wine: Tahoma and Marlett, as the host's prefixes have them.
packages="wine wine64 fonts-wine"
. "$(dirname "$0")/root-lib.sh"

cmd=${1:-}
shift || true
case $cmd in
  session) root_session "$@" ;;
  run) root_run "$@" ;;
  *)
    echo "usage: $0 session CMD [ARG...] | run CMD [ARG...]" >&2
    exit 2
    ;;
esac
