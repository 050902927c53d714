#include "I420Kernels.h"

#include "JpegKernels.h"
#include "Workers.h"

namespace qt::i420 {
namespace {

void convertPairs(const PixelRows& src, int firstPair, int endPair, const Planes& out) {
  for (int p = firstPair; p < endPair; ++p) {
    const int top = 2 * p;
    const int bottom = top + 1 < src.height ? top + 1 : top;
    convertTail(src.row(top), src.row(bottom), 0, src.width, out.y + top * out.yStride,
                out.y + (top + 1) * out.yStride, out.cb + p * out.cStride, out.cr + p * out.cStride);
  }
}

// Row pairs per band: about 64 KB of source pixels at 1920 wide.
constexpr uint64_t kPixelsPerBand = 16384;

}  // namespace

const Kernels kPortableKernels = {convertPairs};

const Kernels& fastestKernels() {
  // The same test as the JPEG coder's: the processor does not change.
  static const Kernels& fastest =
      jpeg::processorHasSse2() && sse2Kernels() ? *sse2Kernels() : kPortableKernels;
  return fastest;
}

void convert(const PixelRows& src, const Planes& out, const Kernels& kernels) {
  const int pairs = (src.height + 1) / 2;
  const workers::RowBands bands(uint64_t(src.width) * 2, pairs, kPixelsPerBand);
  // Conversion is far cheaper per pixel than any codec: worth the helper
  // threads only on large frames.
  workers::run(
      bands.count, uint64_t(src.width) * uint64_t(src.height),
      [&](int band) { kernels.convertPairs(src, bands.first(band), bands.end(band), out); },
      4 * workers::kInlinePixels);
}

}  // namespace qt::i420
