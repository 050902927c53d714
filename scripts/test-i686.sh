#!/bin/bash
# The 32-bit build's tests (make test-i686; make test runs them too): every
# ctest test of build/win32, its programs under 32-bit Wine in the i386 root,
# which i686-root.sh brings up for the run and down after it. Arguments go to
# ctest (for example -R QuickTimeEntries).
set -uo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --in-session ]; then
  shift
  # The build's Wine session (Xvfb on the host, wineserver in the root) ends
  # before the root goes down, also when the run is interrupted.
  trap 'scripts/wine-session.sh stop build/win32' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  ctest --preset win32 "$@"
  exit
fi
if [ ! -f build/win32/CMakeCache.txt ]; then
  echo "i686: cannot run the 32-bit tests: build/win32 is not built (make build-win32)" >&2
  exit 2
fi
exec scripts/i686-root.sh session "$0" --in-session "$@"
