#!/bin/bash
# Runs one Windows program of a build folder under wine64, inside that build
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
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
exec "$wine64" "$exe" "$@"
