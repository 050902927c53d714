// None ('raw '): uncompressed 24-bit R, G, B, each row padded with zeros to
// a multiple of four bytes. Rows must start on an even byte; two-byte padding
// alone is misread by ffmpeg whenever 3 x width leaves 1 modulo 4 (it then
// assumes four-byte rows or none), while four-byte rows read right at every
// width. Bands of rows are converted on every processor at once, with a
// byte shuffle (SSSE3) where the processor has one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PixelRows.h"

namespace qt::raw {

uint64_t rowBytes(int width);
uint64_t maxSize(int width, int height);
size_t compress(const PixelRows& src, uint8_t* out);

// One row of 32-bit B, G, R, X pixels as packed R, G, B bytes, the fastest
// way this processor has (PNG's rows are the same bytes).
void toRgb(const uint8_t* bgrx, int width, uint8_t* rgb);

}  // namespace qt::raw
