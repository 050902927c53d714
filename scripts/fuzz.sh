#!/bin/sh
# Builds the libFuzzer targets (the `fuzz` preset, clang) and runs each for a
# bounded time. Exits non-zero when a target finds a crash or a mismatch.
# FUZZ_SECONDS overrides the time per target (default: 30 s shared among
# the targets, so adding one does not make `make test` longer).
set -eu
cd "$(dirname "$0")/.."
targets="fuzz_lossless_codecs fuzz_movie_writer"
count=$(echo "$targets" | wc -w)
seconds="${FUZZ_SECONDS:-$((30 / count))}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
status=0
for target in $targets; do
  corpus="build/fuzz/corpus/$target"
  log="build/fuzz/$target.log"
  mkdir -p "$corpus" build/fuzz/artifacts
  echo "fuzzing $target for ${seconds}s"
  if "build/fuzz/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/artifacts/$target-" "$corpus" >"$log" 2>&1; then
    tail -n 6 "$log"
  else
    tail -n 40 "$log"
    echo "$target FAILED (full log: $log)"
    status=1
  fi
done
exit $status
