// Compress-then-decode helpers shared by the codec tests.
#pragma once

#include <vector>

#include "AvDecode.h"
#include "Codecs.h"
#include "TestSupport.h"

namespace test {

inline qt::PixelRows rowsOf(const Image& img) {
  qt::PixelRows r;
  r.base = img.bgrx.data();
  r.stride = ptrdiff_t(img.width) * 4;
  r.width = img.width;
  r.height = img.height;
  return r;
}

// Compresses with the codec's own module through the shared entry (which
// also enforces the worst-case bound), then decodes with libavcodec.
inline Decoded roundTrip(OSType codec, const Image& img, CodecQ quality, size_t* size = nullptr) {
  std::vector<uint8_t> buf(qt::maxCompressedSize(codec, img.width, img.height, quality));
  size_t n = qt::compressRows(codec, rowsOf(img), quality, buf.data(), buf.size());
  if (size) *size = n;
  if (n == 0) {
    Decoded failed;
    failed.error = "compress failed";
    return failed;
  }
  return avDecode(codec, img.width, img.height, 24, buf.data(), n);
}

}  // namespace test
