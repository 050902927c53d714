#!/bin/bash
# format.sh [--check]: formats every C and C++ file of the repository with the
# checked-in .clang-format; with --check, changes nothing and fails when a
# file is not formatted.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --check ]; then
  clang-format --dry-run -Werror "${files[@]}"
  echo "${#files[@]} files formatted"
else
  clang-format -i "${files[@]}"
fi
