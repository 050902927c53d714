// The Photo - JPEG coder's per-block work has two implementations, SSE2 and
// portable, that must write the same bytes: here the kernels are compared
// value for value (random and extreme input), then whole frames byte for
// byte (the benchmark's window captures, random frames of odd sizes, every
// quality, several thread counts). The kernels are also held to the
// textbook colour conversion and DCT, and fixed frames to the bytes the host
// build wrote, so that the i686, x86-64 and host builds agree.
//
// No libavcodec here: the Windows builds run this too (decoding is
// JpegCodecTest's, on the host).
#include "JpegKernels.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "JpegCodec.h"
#include "Workers.h"

namespace {

using qt::jpeg::kBlock;
using qt::jpeg::Kernels;
using qt::jpeg::QBlock;
using qt::jpeg::Quantizer;

constexpr double kPi = 3.14159265358979323846;

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
};

uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Reads an 8-bit RGB, non-interlaced PNG (what the fixtures are) into B, G,
// R, X rows. Returns an empty frame on anything else.
Frame readPng(const std::string& path) {
  Frame f;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return f;
  std::vector<uint8_t> png;
  uint8_t buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, file)) > 0;) png.insert(png.end(), buf, buf + n);
  std::fclose(file);
  std::vector<uint8_t> idat;
  int width = 0, height = 0;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = be32(&png[at]);
    const uint8_t* type = &png[at + 4];
    const uint8_t* data = &png[at + 8];
    if (at + 12 + length > png.size()) return f;
    if (std::memcmp(type, "IHDR", 4) == 0) {
      width = int(be32(data));
      height = int(be32(data + 4));
      if (data[8] != 8 || data[9] != 2 || data[12] != 0) return f;  // 8-bit RGB, not interlaced
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      idat.insert(idat.end(), data, data + length);
    }
    at += 12 + length;
  }
  const size_t stride = size_t(width) * 3;
  std::vector<uint8_t> raw(size_t(height) * (stride + 1));
  uLongf rawSize = uLongf(raw.size());
  if (width <= 0 || uncompress(raw.data(), &rawSize, idat.data(), uLong(idat.size())) != Z_OK ||
      rawSize != raw.size())
    return f;
  std::vector<uint8_t> line(stride), last(stride, 0);
  f.width = width;
  f.height = height;
  f.bgrx.resize(size_t(width) * size_t(height) * 4);
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = &raw[size_t(y) * (stride + 1)];
    for (size_t i = 0; i < stride; ++i) {
      const int a = i >= 3 ? line[i - 3] : 0, b = last[i], c = i >= 3 ? last[i - 3] : 0;
      int predicted = 0;
      switch (in[0]) {
        case 1:
          predicted = a;
          break;
        case 2:
          predicted = b;
          break;
        case 3:
          predicted = (a + b) / 2;
          break;
        case 4: {
          const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
          predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
          break;
        }
      }
      line[i] = uint8_t(in[1 + i] + predicted);
    }
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &f.bgrx[(size_t(y) * size_t(width) + size_t(x)) * 4];
      p[0] = line[size_t(x) * 3 + 2];
      p[1] = line[size_t(x) * 3 + 1];
      p[2] = line[size_t(x) * 3];
      p[3] = 0;
    }
    last.swap(line);
  }
  return f;
}

Frame fixture(const char* name) {
  Frame f = readPng(std::string(SKELBY_FIXTURES) + "/" + name);
  EXPECT_GT(f.width, 0) << "cannot read " << SKELBY_FIXTURES << "/" << name;
  return f;
}

// Random pixels, or random rectangles of one colour with random text-like
// dots over them (flat MCUs, edges and detail, as a screen has).
Frame randomFrame(int width, int height, uint32_t seed, bool screen) {
  Frame f{width, height, std::vector<uint8_t>(size_t(width) * size_t(height) * 4)};
  std::mt19937 rng(seed);
  if (!screen) {
    for (uint8_t& b : f.bgrx) b = uint8_t(rng());
    return f;
  }
  for (int i = 0; i < 12; ++i) {
    const int x0 = int(rng() % uint32_t(width)), y0 = int(rng() % uint32_t(height));
    const int x1 = x0 + 1 + int(rng() % uint32_t(width)), y1 = y0 + 1 + int(rng() % uint32_t(height));
    const uint32_t colour = rng();
    for (int y = y0; y < y1 && y < height; ++y)
      for (int x = x0; x < x1 && x < width; ++x)
        std::memcpy(&f.bgrx[(size_t(y) * size_t(width) + size_t(x)) * 4], &colour, 4);
  }
  for (size_t i = 0; i < f.bgrx.size() / 4 / 8; ++i) {
    const size_t at = (rng() % (f.bgrx.size() / 4)) * 4;
    f.bgrx[at] = f.bgrx[at + 1] = f.bgrx[at + 2] = uint8_t(rng() % 64);
  }
  return f;
}

const CodecQ kQualities[] = {codecMinQuality,  codecLowQuality, codecNormalQuality,
                             codecHighQuality, codecMaxQuality, codecLosslessQuality};

// Threads for one scope.
struct Threads {
  explicit Threads(int n) { qt::workers::setThreadCount(n); }
  ~Threads() { qt::workers::setThreadCount(0); }
};

std::vector<uint8_t> encode(const Frame& f, CodecQ q, qt::jpeg::Path path) {
  std::vector<uint8_t> out(qt::jpeg::maxSize(f.width, f.height, q));
  out.resize(qt::jpeg::compress(f.rows(), q, out.data(), path));
  return out;
}

// Where the two first differ, for the failure message.
std::string firstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) +
         ", first difference at byte " + std::to_string(i);
}

void expectSameBytesOnBothPaths(const Frame& f, const std::string& what) {
  for (CodecQ q : kQualities) {
    std::vector<uint8_t> portable;
    {
      Threads one(1);
      portable = encode(f, q, qt::jpeg::Path::portable);
    }
    ASSERT_GT(portable.size(), 100u) << what;
    for (int threads : {1, 3}) {
      Threads t(threads);
      const std::vector<uint8_t> fastest = encode(f, q, qt::jpeg::Path::fastest);
      EXPECT_TRUE(fastest == portable)
          << what << " " << f.width << "x" << f.height << " quality " << q << " on " << threads
          << " threads: " << firstDifference(fastest, portable);
    }
  }
}

const Kernels& sse2() { return *qt::jpeg::sse2Kernels(); }

TEST(JpegKernels, Sse2IsTheFastestPathOnX86) {
#if defined(__x86_64__) || defined(__i386__)
  ASSERT_NE(qt::jpeg::sse2Kernels(), nullptr);
  EXPECT_TRUE(qt::jpeg::processorHasSse2());
  EXPECT_TRUE(qt::jpeg::fastestIsSse2());
#else
  GTEST_SKIP() << "not an x86 build";
#endif
}

TEST(JpegKernels, ColourConversionIsTheSameOnBothPathsAndNearTheTextbook) {
  const double kConversionError = 0.125 + 3 * 255 * 0.5 / 16384;
  if (!qt::jpeg::fastestIsSse2()) GTEST_SKIP() << "no SSE2 here";
  std::mt19937 rng(21);
  std::vector<uint8_t> pixels(16 * 64);
  for (int round = 0; round < 400; ++round) {
    // Random bytes, and every 50th MCU only the extremes 0 and 255.
    for (uint8_t& b : pixels) b = round % 50 == 0 ? uint8_t(rng() & 1 ? 255 : 0) : uint8_t(rng());
    const uint8_t* rows[16];
    for (int r = 0; r < 16; ++r) rows[r] = pixels.data() + 64 * r;
    alignas(16) int16_t y1[4][kBlock], cb1[kBlock], cr1[kBlock];
    alignas(16) int16_t y2[4][kBlock], cb2[kBlock], cr2[kBlock];
    qt::jpeg::kPortableKernels.convert420(rows, y1, cb1, cr1);
    sse2().convert420(rows, y2, cb2, cr2);
    ASSERT_EQ(std::memcmp(y1, y2, sizeof y1), 0) << "luma, round " << round;
    ASSERT_EQ(std::memcmp(cb1, cb2, sizeof cb1), 0) << "Cb, round " << round;
    ASSERT_EQ(std::memcmp(cr1, cr2, sizeof cr1), 0) << "Cr, round " << round;
    // JFIF's full-range conversion, in doubles. Ours rounds to a quarter
    // level (an eighth off at most) with coefficients of 2^-14 (three of
    // them, each at most half a unit off, on values up to 255: 0.024).
    for (int r = 0; r < 16; ++r)
      for (int c = 0; c < 16; ++c) {
        const uint8_t* p = rows[r] + 4 * c;
        const double y = 0.299 * p[2] + 0.587 * p[1] + 0.114 * p[0];
        ASSERT_NEAR(y1[(r / 8) * 2 + c / 8][(r % 8) * 8 + c % 8] / 4.0 + 128, y, kConversionError)
            << r << "," << c;
      }
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) {
        double b = 0, g = 0, rr = 0;
        for (int k = 0; k < 4; ++k) {
          const uint8_t* p = rows[2 * r + k / 2] + 4 * (2 * c + k % 2);
          b += p[0] / 4.0;
          g += p[1] / 4.0;
          rr += p[2] / 4.0;
        }
        ASSERT_NEAR(cb1[r * 8 + c] / 4.0, -0.168736 * rr - 0.331264 * g + 0.5 * b, kConversionError);
        ASSERT_NEAR(cr1[r * 8 + c] / 4.0, 0.5 * rr - 0.418688 * g - 0.081312 * b, kConversionError);
      }
  }
}

// The libjpeg scaling of the usual luminance table (ITU T.81 Annex K) at a
// quality, fitted as the coder fits its own tables.
void annexKTable(int quality, uint8_t out[kBlock]) {
  static const uint8_t kLuma[kBlock] = {
      16, 11,  10,  16, 24, 40, 51, 61, 12,  12,  14,  19,  26, 58, 60, 55,  14,  13,  16,  24, 40, 57,
      69, 56,  14,  17, 22, 29, 51, 87, 80,  62,  18,  22,  37, 56, 68, 109, 103, 77,  24,  35, 55, 64,
      81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98,  112, 100, 103, 99};
  const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  for (int i = 0; i < kBlock; ++i) {
    const int v = (kLuma[i] * scale + 50) / 100;
    out[i] = uint8_t(v < 1 ? 1 : v > 255 ? 255 : v);
  }
  qt::jpeg::fitQuant(out);
}

// A quantised block written out in zig-zag order, zeros included.
std::vector<int> zigzagOf(const QBlock& b) {
  std::vector<int> out(kBlock, 0);
  out[0] = b.coef[0];
  for (int k = 1; k < kBlock; ++k)
    if (b.nonzero >> k & 1) out[size_t(k)] = b.coef[k];
  return out;
}

TEST(JpegKernels, QuantisedTransformIsTheSameOnBothPathsAndWithinAStepOfTheTextbook) {
  if (!qt::jpeg::fastestIsSse2()) GTEST_SKIP() << "no SSE2 here";
  // Natural index of each zig-zag position (ITU T.81 figure A.6).
  static const int kZigzag[kBlock] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                      12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                      35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                      58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
  double basis[8][8];  // cos((2x + 1) u pi / 16)
  for (int x = 0; x < 8; ++x)
    for (int u = 0; u < 8; ++u) basis[x][u] = std::cos((2 * x + 1) * u * kPi / 16);
  std::mt19937 rng(2121);
  for (int quality : {30, 75, 90, 100}) {
    uint8_t table[kBlock];
    annexKTable(quality, table);
    const Quantizer q = qt::jpeg::makeQuantizer(table);
    int worst = 0;
    for (int round = 0; round < 3000; ++round) {
      alignas(16) int16_t s[kBlock];
      // Random samples over the whole range, smooth ones, the extremes in a
      // checkerboard (the largest coefficients), and flat blocks.
      const int kind = round % 4;
      for (int i = 0; i < kBlock; ++i) {
        const int x = i % 8, y = i / 8;
        s[i] = kind == 0   ? int16_t(int(rng() % 1021) - 512)
               : kind == 1 ? int16_t(200 * std::sin(x * 0.4 + round) + 150 * std::cos(y * 0.7))
               : kind == 2 ? int16_t(((x + y + round) & 1) ? 508 : -512)
                           : int16_t(int(round % 1021) - 512);
      }
      QBlock a{}, b{};
      qt::jpeg::kPortableKernels.quantize(s, q, a);
      sse2().quantize(s, q, b);
      const std::vector<int> za = zigzagOf(a), zb = zigzagOf(b);
      ASSERT_EQ(za, zb) << "quality " << quality << ", round " << round;
      // The orthonormal DCT of the samples in levels, each coefficient
      // divided by its step and rounded as the coder rounds (to nearest at
      // DC, a third of a step up at AC).
      for (int k = 0; k < kBlock; ++k) {
        const int n = kZigzag[k], u = n % 8, v = n / 8;
        double sum = 0;
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x) sum += s[y * 8 + x] / 4.0 * basis[x][u] * basis[y][v];
        const double coefficient = sum * (u ? 1 : std::sqrt(0.5)) * (v ? 1 : std::sqrt(0.5)) / 4;
        const double steps = std::fabs(coefficient) / table[n];
        const int magnitude = std::min(1023, int(steps + (k == 0 ? 0.5 : 1.0 / 3)));
        const int expected = coefficient < 0 ? -magnitude : magnitude;
        const int error = std::abs(za[size_t(k)] - expected);
        worst = std::max(worst, error);
        // Steps of one (quality 100) are finer than the 16-bit transform's
        // own error; every coarser step keeps it within one.
        ASSERT_LE(error, quality < 100 ? 1 : 2) << "quality " << quality << ", round " << round
                                                << ", coefficient " << k << ": " << steps << " steps";
      }
    }
    std::printf("quality %d: at most %d step(s) from the textbook\n", quality, worst);
  }
}

TEST(JpegKernels, FixturesWriteTheSameBytesOnBothPaths) {
  for (const char* name : {"editor.png", "dialog.png", "sheet.png"}) {
    const Frame f = fixture(name);
    ASSERT_GT(f.width, 0);
    expectSameBytesOnBothPaths(f, name);
  }
}

TEST(JpegKernels, RandomFramesOfOddSizesWriteTheSameBytesOnBothPaths) {
  const int sizes[][2] = {{1, 1}, {7, 3}, {17, 9}, {33, 31}, {640, 480}, {641, 313}, {1283, 37}};
  uint32_t seed = 1;
  for (const auto& wh : sizes)
    for (bool screen : {false, true})
      expectSameBytesOnBothPaths(randomFrame(wh[0], wh[1], seed++, screen), screen ? "screen" : "noise");
}

uint64_t fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
  return h;
}

// The same bytes on every build: these are what the host build writes for a
// fixture and a random frame; the i686 and x86-64 builds must write them too.
// A change to the coder that changes its output on purpose updates them.
TEST(JpegKernels, FixedFramesWriteTheBytesTheHostBuildWrote) {
  struct Case {
    const char* what;
    CodecQ quality;
    uint64_t hash;
  };
  const Frame editor = fixture("editor.png");
  ASSERT_GT(editor.width, 0);
  const Frame random = randomFrame(333, 217, 7, true);
  const Case cases[] = {
      {"editor", codecNormalQuality, 0xc642454240e148f3ull},
      {"editor", codecHighQuality, 0x34a5bba1882552e7ull},
      {"random", codecNormalQuality, 0x6c32135a5e5d206dull},
      {"random", codecLosslessQuality, 0x609e30e2e3120085ull},
  };
  for (const Case& c : cases)
    for (qt::jpeg::Path path : {qt::jpeg::Path::fastest, qt::jpeg::Path::portable}) {
      const Frame& f = std::string(c.what) == "editor" ? editor : random;
      const uint64_t hash = fnv1a(encode(f, c.quality, path));
      EXPECT_EQ(hash, c.hash) << c.what << " at quality " << c.quality << std::hex << ": 0x" << hash;
    }
}

}  // namespace
