// Animation ('rle '): QuickTime's run-length codec, 24-bit, key frames only.
//
// Lossless at every quality. Each frame codes every pixel of every line
// (header 0: all lines follow), because a reader keeps the previous frame's
// pixels wherever a frame skips.
//
// Lines are coded independently, so the frame is cut into bands of lines
// (about 65536 pixels each) coded on every processor at once, each at the
// place its worst case would take in the output, and then moved together.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PixelRows.h"

namespace qt::animation {

// Worst-case bytes of one frame.
uint64_t maxSize(int width, int height);

// Writes one frame into `out` (at least maxSize bytes); returns its size.
size_t compress(const PixelRows& src, uint8_t* out);

}  // namespace qt::animation
