#!/bin/bash
# Every test of every build: the Windows programs under wine64 (the win32
# build cannot run on these machines, so it is only compiled and linked), the
# portable core with sanitizers on the host, then a bounded fuzzing run.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0
ctest --preset win64 || status=1
scripts/wine-session.sh stop build/win64
ctest --preset host || status=1
if [ -x scripts/fuzz.sh ]; then
  scripts/fuzz.sh || status=1
fi
exit $status
