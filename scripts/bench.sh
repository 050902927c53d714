#!/bin/sh
# Builds the `bench` preset (Release) and prints the benchmark figures:
# our codecs against libavcodec's, then memory per frame and a 4 GiB movie.
set -eu
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench
build/bench/bench/codec_bench bench/fixtures
build/bench/bench/movie_bench build/bench/large.mov
