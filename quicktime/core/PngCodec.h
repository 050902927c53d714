// PNG ('png '): each sample is a whole PNG file, 8-bit RGB, compressed with
// zlib. Lossless at every quality; the quality buys zlib effort instead:
//   below normal 1, normal 3, from high up level 6 with shorter hash chains
//   (faster than plain 6 and no larger on window captures).
// Rows are not filtered: on window captures (flat panels, text, grids)
// deflate's exact matches of repeated glyphs and rows beat every PNG row
// filter, which turn equal pixels into unequal differences; measured on the
// bench fixtures, filter None at level 6 is 15% smaller than Up or Paeth.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PixelRows.h"
#include "QuickTimeTypes.h"

namespace qt::png {

uint64_t maxSize(int width, int height, CodecQ quality);

// Writes one PNG file into `out`; returns its size, or 0 when zlib fails
// (out of memory) or `capacity` is below maxSize. The rows are deflated in
// bands on every processor and the bands joined into one zlib stream.
size_t compress(const PixelRows& src, CodecQ quality, uint8_t* out, size_t capacity);

}  // namespace qt::png
