// PNG ('png '): each sample is a whole PNG file, 8-bit RGB, compressed with
// zlib. Lossless at every quality; the quality buys effort instead:
//   below normal      row filter Up,        zlib level 1
//   normal            row filter Up,        zlib level 3
//   high              adaptive row filters, zlib level 4
//   maximum, lossless adaptive row filters, zlib level 6
// Screen content repeats rows a lot, which Up turns into zeros cheaply.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PixelRows.h"
#include "QuickTimeTypes.h"

namespace qt::png {

uint64_t maxSize(int width, int height, CodecQ quality);

// Writes one PNG file into `out`; returns its size, or 0 when zlib fails
// (out of memory) or the output would exceed `capacity`.
size_t compress(const PixelRows& src, CodecQ quality, uint8_t* out, size_t capacity);

}  // namespace qt::png
