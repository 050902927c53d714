#!/bin/bash
# The display-scaling tests of the 64-bit build (make test runs them): ctest
# --preset wine10, their programs under Wine 10 in the trixie root, which
# wine10-root.sh brings up for the run and down after it. Arguments go to
# ctest (for example -R ScalingEndToEnd144).
set -uo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --in-session ]; then
  shift
  # Each scaling's Wine session (Xvfb on the host, wineserver in the root)
  # ends before the root goes down, also when the run is interrupted.
  stop_sessions() {
    local s
    for s in build/win64/wine-session-wine10-*; do
      [ -d "$s" ] && SKELBY_WINE_ROOT=wine10 SKELBY_WINE_SESSION=${s##*/wine-session-} \
        scripts/wine-session.sh stop build/win64
    done
  }
  trap stop_sessions EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  ctest --preset wine10 "$@"
  exit
fi
if [ ! -f build/win64/CMakeCache.txt ]; then
  echo "wine10: cannot run the Wine 10 tests: build/win64 is not built (make build-win64)" >&2
  exit 2
fi
exec scripts/wine10-root.sh session "$0" --in-session "$@"
