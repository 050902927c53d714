// Differential fuzzing of the lossless codecs: a random image is compressed
// with Animation, None or PNG and decoded by libavcodec in the same process;
// any pixel that differs, any decode failure, or a size past the worst case
// aborts. Some inputs ask for a tall frame, large enough to be cut into
// bands and spread over threads, and compress it again on one thread: the
// bytes must be the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "AvDecode.h"
#include "Codecs.h"
#include "Workers.h"

namespace {

constexpr int kMaxSide = 96;
// Tall frames: up to 96 x 3061 pixels, past the size that runs on one thread.
constexpr int kTallStep = 12;
const OSType kLossless[] = {kAnimationCodecType, kRawCodecType, kPNGCodecType};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const OSType codec = kLossless[data[0] % 3];
  const int width = 1 + data[1] % kMaxSide;
  const bool tall = (data[0] & 0x80) != 0;
  const int threads = 2 + (data[0] >> 4 & 3);  // 2 to 5
  const int height = tall ? 1 + data[2] * kTallStep : 1 + data[2] % kMaxSide;
  const CodecQ quality = CodecQ(data[3] % 5) * 0x100;  // 0 .. lossless
  const uint8_t* pixels = data + 4;
  const size_t count = size - 4;

  // Pixels from the input, repeated to fill the frame, with a row stride
  // wider than the row so padding bugs show.
  const ptrdiff_t stride = ptrdiff_t(width) * 4 + 8;
  std::vector<uint8_t> image(size_t(stride) * size_t(height));
  std::vector<uint8_t> expected;
  expected.reserve(size_t(width) * size_t(height) * 3);
  size_t k = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x, k += 4) {
      uint8_t* p = image.data() + ptrdiff_t(y) * stride + x * 4;
      for (int c = 0; c < 4; ++c) p[c] = pixels[(k + size_t(c)) % count];
      expected.push_back(p[2]);
      expected.push_back(p[1]);
      expected.push_back(p[0]);
    }

  qt::PixelRows rows;
  rows.base = image.data();
  rows.stride = stride;
  rows.width = width;
  rows.height = height;
  std::vector<uint8_t> out(qt::maxCompressedSize(codec, width, height, quality));
  qt::workers::setThreadCount(threads);
  const size_t n = qt::compressRows(codec, rows, quality, out.data(), out.size());
  qt::workers::setThreadCount(0);
  if (n == 0) {
    std::fprintf(stderr, "compression failed\n");
    std::abort();
  }
  if (tall) {
    std::vector<uint8_t> one(out.size());
    qt::workers::setThreadCount(1);
    const size_t oneSize = qt::compressRows(codec, rows, quality, one.data(), one.size());
    qt::workers::setThreadCount(0);
    if (oneSize != n || std::memcmp(one.data(), out.data(), n) != 0) {
      std::fprintf(stderr, "codec %.4s %dx%d: %d threads wrote other bytes than one\n",
                   reinterpret_cast<const char*>(&codec), width, height, threads);
      std::abort();
    }
  }
  test::Decoded d = test::avDecode(codec, width, height, 24, out.data(), n);
  if (!d.ok || d.width != width || d.height != height || d.rgb != expected) {
    std::fprintf(stderr, "codec %.4s %dx%d quality %u: %s\n", reinterpret_cast<const char*>(&codec), width,
                 height, quality, d.ok ? "pixels differ" : d.error.c_str());
    std::abort();
  }
  return 0;
}
