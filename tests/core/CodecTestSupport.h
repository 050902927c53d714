// Compress-then-decode helpers shared by the codec tests.
#pragma once

#include <utility>
#include <vector>

#include "AvDecode.h"
#include "Codecs.h"
#include "Handles.h"
#include "TestSupport.h"

namespace test {

// A pixel map over an image, allocated as the DLL allocates its pixel maps.
struct PixMapFixture {
  explicit PixMapFixture(Image img, int16_t left = 0, int16_t top = 0) : image(std::move(img)) {
    handle = reinterpret_cast<PixMapHandle>(qt::NewHandle(sizeof(PixMap)));
    PixMap& pm = **handle;
    pm.baseAddr = reinterpret_cast<Ptr>(image.bgrx.data());
    pm.rowBytes = int16_t(kPixMapFlag | (image.width * 4));
    pm.bounds = Rect{top, left, int16_t(top + image.height), int16_t(left + image.width)};
    pm.pixelSize = 32;
    pm.cmpCount = 3;
    pm.cmpSize = 8;
    pm.pixelFormat = k32BGRAPixelFormat;
    pm.rowStride = image.width * 4;
  }
  ~PixMapFixture() { qt::DisposeHandle(reinterpret_cast<Handle>(handle)); }
  Rect all() const { return (**handle).bounds; }
  Image image;
  PixMapHandle handle;
};

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
