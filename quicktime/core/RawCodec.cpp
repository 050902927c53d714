#include "RawCodec.h"

namespace qt::raw {

uint64_t rowBytes(int width) { return (uint64_t(width) * 3 + 3) & ~uint64_t(3); }

uint64_t maxSize(int width, int height) { return rowBytes(width) * uint64_t(height); }

size_t compress(const PixelRows& src, uint8_t* out) {
  const size_t stride = size_t(rowBytes(src.width));
  for (int y = 0; y < src.height; ++y) {
    const uint8_t* p = src.row(y);
    uint8_t* o = out + stride * size_t(y);
    for (int x = 0; x < src.width; ++x, p += 4, o += 3) {
      o[0] = p[2];
      o[1] = p[1];
      o[2] = p[0];
    }
    for (uint8_t* end = out + stride * size_t(y + 1); o < end;) *o++ = 0;  // padding
  }
  return stride * size_t(src.height);
}

}  // namespace qt::raw
