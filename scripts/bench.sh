#!/bin/sh
# Builds the `bench` preset (Release) and prints the benchmark figures:
# our codecs against libavcodec's, then H.264 on sequences of frames against
# Photo - JPEG and libx264, then memory per frame and a 4 GiB movie.
set -eu
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench
build/bench/bench/codec_bench bench/fixtures
echo
build/bench/bench/sequence_bench bench/fixtures
echo
build/bench/bench/movie_bench build/bench/large.mov
