#!/bin/bash
# Wine 10 of the trixie root, for the 64-bit build's programs under display
# scaling: what wine64 is to the 64-bit build (wine-session.sh names it as
# SKELBY_WINE when SKELBY_WINE_ROOT=wine10).
#   wine10-wine.sh PROGRAM [ARG...]
exec "$(dirname "$0")/wine10-root.sh" run wine "$@"
