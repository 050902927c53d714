#!/bin/bash
# check-imports.sh OBJDUMP DLL: fails when the DLL imports anything but the
# system's own DLLs, which every Windows has.
set -euo pipefail
imports=$("$1" -p "$2" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
echo "imports: $(echo $imports)"
[ -n "$imports" ] || { echo "no import table read" >&2; exit 1; }
for dll in $imports; do
  case $dll in
    kernel32.dll|gdi32.dll|user32.dll|msvcrt.dll|advapi32.dll) ;;
    *) echo "unexpected import: $dll" >&2; exit 1 ;;
  esac
done
