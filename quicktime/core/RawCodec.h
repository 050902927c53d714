// None ('raw '): uncompressed 24-bit R, G, B, each row padded to an even
// number of bytes as QuickTime's readers expect.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PixelRows.h"

namespace qt::raw {

uint64_t rowBytes(int width);
uint64_t maxSize(int width, int height);
size_t compress(const PixelRows& src, uint8_t* out);

}  // namespace qt::raw
