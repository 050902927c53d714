#!/bin/bash
# Every test of every build: the 64-bit Windows programs under wine64, the
# portable core with sanitizers on the host, the 32-bit Windows programs under
# 32-bit Wine in an i386 root (test-i686.sh), the 64-bit ones at display
# scalings under Wine 10 in a trixie root (test-wine10.sh), then a bounded
# fuzzing run.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0
log=$(mktemp)
i686_log=$(mktemp)
wine10_log=$(mktemp)
trap 'rm -f "$log" "$i686_log" "$wine10_log"' EXIT

ctest --preset win64 2>&1 | tee -a "$log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
scripts/wine-session.sh stop build/win64
ctest --preset host 2>&1 | tee -a "$log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
scripts/test-i686.sh 2>&1 | tee "$i686_log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
cat "$i686_log" >>"$log"
# A machine that could not run them has said why; the run fails, and the
# closing line counts that as a failure rather than leaving it out.
grep -q 'tests passed, .* failed out of' "$i686_log" || i686_missing=1
scripts/test-wine10.sh 2>&1 | tee "$wine10_log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
cat "$wine10_log" >>"$log"
grep -q 'tests passed, .* failed out of' "$wine10_log" || wine10_missing=1
if [ -x scripts/fuzz.sh ]; then
  if scripts/fuzz.sh; then fuzz="1 passed, 0 failed"; else fuzz="0 passed, 1 failed"; status=1; fi
  echo "fuzzing: $fuzz"
fi

# One closing line for the whole run, summed over the ctest runs.
passed=0
failed=$((${i686_missing:-0} + ${wine10_missing:-0}))
while read -r total bad; do
  passed=$((passed + total - bad))
  failed=$((failed + bad))
done < <(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\2 \1/p' "$log")
echo
echo "tests: $passed passed, $failed failed"
exit $status
