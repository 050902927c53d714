#!/bin/bash
# Runs one Windows program of a build folder under that build's Wine (wine64,
# or the 32-bit Wine of the i386 root for the 32-bit build), inside the build
# folder's Wine session (started on demand). ctest uses it as the emulator.
set -euo pipefail
exe=$1
shift
dir=$(cd "$(dirname "$exe")" && pwd)
build=$dir
while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do
  build=$(dirname "$build")
done
[ -f "$build/CMakeCache.txt" ] || { echo "wine-run: $exe is not in a build folder" >&2; exit 2; }
here=$(dirname "$0")
"$here/wine-session.sh" start "$build"
eval "$("$here/wine-session.sh" env "$build")"
exec "$SKELBY_WINE" "$exe" "$@"
