// The BGRX to I420 conversion in front of the H.264 encoder: the SSE2 and
// portable paths write the same bytes on random frames of odd sizes, both
// stay within one level of the textbook BT.601 formulas, and odd sizes are
// padded by repeating the last column and row. No libavcodec here: the
// Windows builds run this too.
#include "I420Kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "Workers.h"

namespace {

using qt::i420::Kernels;

struct Frame {
  int width = 0, height = 0;
  std::vector<uint8_t> bgrx;
  qt::PixelRows rows() const {
    qt::PixelRows r;
    r.base = bgrx.data();
    r.stride = ptrdiff_t(width) * 4;
    r.width = width;
    r.height = height;
    return r;
  }
  const uint8_t* at(int x, int y) const { return &bgrx[(size_t(y) * size_t(width) + size_t(x)) * 4]; }
};

// Noise, or flat rectangles with dots over them (as a screen has).
Frame randomFrame(int width, int height, uint32_t seed, bool screen) {
  Frame f{width, height, std::vector<uint8_t>(size_t(width) * size_t(height) * 4)};
  std::mt19937 rng(seed);
  if (!screen) {
    for (uint8_t& b : f.bgrx) b = uint8_t(rng());
    return f;
  }
  for (int i = 0; i < 12; ++i) {
    const int x0 = int(rng() % unsigned(width)), y0 = int(rng() % unsigned(height));
    const int x1 = x0 + 1 + int(rng() % unsigned(width - x0)),
              y1 = y0 + 1 + int(rng() % unsigned(height - y0));
    const uint32_t colour = rng();
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        std::memcpy(&f.bgrx[(size_t(y) * size_t(width) + size_t(x)) * 4], &colour, 4);
  }
  for (int i = 0; i < width * height / 20; ++i) {
    uint8_t* p = &f.bgrx[(rng() % unsigned(width * height)) * 4];
    p[0] = p[1] = p[2] = uint8_t(rng() & 1 ? 0 : 255);
  }
  return f;
}

struct I420 {
  int width, height;  // of the planes: the frame's, rounded up to even
  std::vector<uint8_t> y, cb, cr;
  explicit I420(const Frame& f)
      : width(qt::i420::evenUp(f.width)),
        height(qt::i420::evenUp(f.height)),
        y(size_t(width) * size_t(height), 0xEE),
        cb(size_t(width / 2) * size_t(height / 2), 0xEE),
        cr(cb.size(), 0xEE) {}
  qt::i420::Planes planes() {
    qt::i420::Planes p;
    p.y = y.data();
    p.cb = cb.data();
    p.cr = cr.data();
    p.yStride = width;
    p.cStride = width / 2;
    return p;
  }
  bool operator==(const I420& o) const { return y == o.y && cb == o.cb && cr == o.cr; }
};

I420 convertWith(const Frame& f, const Kernels& k) {
  I420 out(f);
  k.convertPairs(f.rows(), 0, (f.height + 1) / 2, out.planes());
  return out;
}

const Kernels& sse2() {
  const Kernels* k = qt::i420::sse2Kernels();
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_NE(k, nullptr) << "an x86 build has the SSE2 path";
#endif
  return k ? *k : qt::i420::kPortableKernels;
}

TEST(I420Kernels, BothPathsWriteTheSameBytesOnRandomFramesOfOddSizes) {
  const int sizes[][2] = {{1, 1},   {7, 3},     {15, 2},    {16, 16},  {17, 9},
                          {33, 31}, {640, 480}, {641, 313}, {1283, 37}};
  uint32_t seed = 11;
  for (const auto& wh : sizes)
    for (bool screen : {false, true}) {
      const Frame f = randomFrame(wh[0], wh[1], seed++, screen);
      const I420 portable = convertWith(f, qt::i420::kPortableKernels);
      EXPECT_TRUE(convertWith(f, sse2()) == portable)
          << wh[0] << "x" << wh[1] << (screen ? " screen" : " noise");
      // The whole frame through the bands and threads, on the fastest path.
      I420 banded(f);
      qt::i420::convert(f.rows(), banded.planes());
      EXPECT_TRUE(banded == portable) << wh[0] << "x" << wh[1] << " in bands";
    }
}

TEST(I420Kernels, ValuesAreTheTextbookOnesWithinOneLevel) {
  const Frame f = randomFrame(97, 61, 5, false);
  const I420 out = convertWith(f, sse2());
  int worst = 0;
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x) {
      const uint8_t* p = f.at(x, y);
      const double luma = 16 + 219.0 / 255 * (0.299 * p[2] + 0.587 * p[1] + 0.114 * p[0]);
      worst = std::max(worst,
                       std::abs(out.y[size_t(y) * size_t(out.width) + size_t(x)] - int(std::lround(luma))));
    }
  for (int y = 0; y + 1 < f.height; y += 2)
    for (int x = 0; x + 1 < f.width; x += 2) {
      double b = 0, g = 0, r = 0;
      for (int i = 0; i < 4; ++i) {
        const uint8_t* p = f.at(x + (i & 1), y + (i >> 1));
        b += p[0] / 4.0, g += p[1] / 4.0, r += p[2] / 4.0;
      }
      const double cb = 128 + 224.0 / 255 * (-0.168736 * r - 0.331264 * g + 0.5 * b);
      const double cr = 128 + 224.0 / 255 * (0.5 * r - 0.418688 * g - 0.081312 * b);
      const size_t at = size_t(y / 2) * size_t(out.width / 2) + size_t(x / 2);
      worst = std::max(worst, std::abs(out.cb[at] - int(std::lround(cb))));
      worst = std::max(worst, std::abs(out.cr[at] - int(std::lround(cr))));
    }
  EXPECT_LE(worst, 1);

  // The corners of the range, exactly: black, white, red, green, blue.
  const struct {
    uint8_t b, g, r, y, cb, cr;
  } colours[] = {{0, 0, 0, 16, 128, 128},
                 {255, 255, 255, 235, 128, 128},
                 {0, 0, 255, 81, 90, 240},
                 {0, 255, 0, 145, 54, 34},
                 {255, 0, 0, 41, 240, 110}};
  for (const auto& c : colours) {
    Frame flat{2, 2, {c.b, c.g, c.r, 0, c.b, c.g, c.r, 0, c.b, c.g, c.r, 0, c.b, c.g, c.r, 0}};
    for (const Kernels* k : {&qt::i420::kPortableKernels, &sse2()}) {
      const I420 o = convertWith(flat, *k);
      EXPECT_EQ(o.y[0], c.y) << "BGR " << int(c.b) << "," << int(c.g) << "," << int(c.r);
      EXPECT_EQ(o.cb[0], c.cb) << "BGR " << int(c.b) << "," << int(c.g) << "," << int(c.r);
      EXPECT_EQ(o.cr[0], c.cr) << "BGR " << int(c.b) << "," << int(c.g) << "," << int(c.r);
    }
  }
}

TEST(I420Kernels, OddSizesRepeatTheLastColumnAndRow) {
  const Frame f = randomFrame(35, 19, 9, false);
  const I420 out = convertWith(f, sse2());
  ASSERT_EQ(out.width, 36);
  ASSERT_EQ(out.height, 20);
  for (int y = 0; y < out.height; ++y)
    EXPECT_EQ(out.y[size_t(y) * 36 + 35], out.y[size_t(y) * 36 + 34]) << "row " << y;
  for (int x = 0; x < out.width; ++x)
    EXPECT_EQ(out.y[size_t(19) * 36 + size_t(x)], out.y[size_t(18) * 36 + size_t(x)]);
  // The last chroma sample of a row is the mean of two real pixels, counted
  // twice: what a frame one column wider, repeating its last, would give.
  Frame wider{36, 19, std::vector<uint8_t>(size_t(36) * 19 * 4)};
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 36; ++x)
      std::memcpy(&wider.bgrx[(size_t(y) * 36 + size_t(x)) * 4], f.at(x < 35 ? x : 34, y), 4);
  EXPECT_TRUE(convertWith(wider, sse2()) == out);
}

}  // namespace
