// The source pixels of one compression: 32-bit B, G, R, X pixels (a DIB
// section's layout; X is undefined and ignored), rows top-down, `stride`
// bytes apart.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qt {

struct PixelRows {
  const uint8_t* base = nullptr;
  ptrdiff_t stride = 0;
  int width = 0;
  int height = 0;
  const uint8_t* row(int y) const { return base + ptrdiff_t(y) * stride; }
};

}  // namespace qt
