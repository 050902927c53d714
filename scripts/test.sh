#!/bin/bash
# Every test of every build: the Windows programs under wine64 (the win32
# build cannot run on these machines, so it is only compiled and linked), the
# portable core with sanitizers on the host, then a bounded fuzzing run.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

ctest --preset win64 2>&1 | tee -a "$log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
scripts/wine-session.sh stop build/win64
ctest --preset host 2>&1 | tee -a "$log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
if [ -x scripts/fuzz.sh ]; then
  if scripts/fuzz.sh; then fuzz="1 passed, 0 failed"; else fuzz="0 passed, 1 failed"; status=1; fi
  echo "fuzzing: $fuzz"
fi

# One closing line for the whole run, summed over both ctest runs.
passed=0
failed=0
while read -r total bad; do
  passed=$((passed + total - bad))
  failed=$((failed + bad))
done < <(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\2 \1/p' "$log")
echo
echo "tests: $passed passed, $failed failed"
exit $status
