// None ('raw '): uncompressed 24-bit R, G, B, each row padded with zeros to
// a multiple of four bytes. Rows must start on an even byte; two-byte padding
// alone is misread by ffmpeg whenever 3 x width leaves 1 modulo 4 (it then
// assumes four-byte rows or none), while four-byte rows read right at every
// width.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PixelRows.h"

namespace qt::raw {

uint64_t rowBytes(int width);
uint64_t maxSize(int width, int height);
size_t compress(const PixelRows& src, uint8_t* out);

}  // namespace qt::raw
