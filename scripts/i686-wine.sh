#!/bin/bash
# 32-bit Wine of the i386 root, for the 32-bit build's programs: what wine64
# is to the 64-bit build (wine-session.sh names it as SKELBY_WINE).
#   i686-wine.sh PROGRAM [ARG...]
exec "$(dirname "$0")/i686-root.sh" run wine "$@"
