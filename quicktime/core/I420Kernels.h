// BGRX pixels to I420 (8-bit Y, then Cb and Cr at half size each way), the
// input of the H.264 encoder, in two implementations that write the same
// bytes: SSE2 and portable C++, as the JPEG coder's kernels are.
//
// BT.601 in limited range (Y 16..235, Cb and Cr 16..240), which is what an
// H.264 stream without a full-range flag means and what every player
// assumes for it; the stream says BT.601 in its VUI as well, since players
// take HD sizes for BT.709 otherwise. Each chroma sample is the mean of its
// 2 x 2 pixels.
//
// A frame of odd width or height is padded to even by repeating its last
// column or row: 4:2:0 H.264 has no odd sizes (its cropping works in steps
// of two), and a copy of the edge adds no false colour there.
//
// Integer arithmetic only, so the two implementations agree to the bit:
//   Y  = 16 + ((kYB B + kYG G + kYR R + 2^14) >> 15)
//   Cb = 128 + ((kCbB sB + kCbG sG + kCbR sR + 2^16) >> 17)
// with sB, sG, sR the sums of the four pixels; the coefficients are the
// BT.601 ones scaled by 219/255 (luma) or 224/255 (chroma) and 2^15, each
// set rounded so that white gives Y = 235 and grey gives Cb = Cr = 128.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PixelRows.h"

namespace qt::i420 {

constexpr int kYR = 8414, kYG = 16520, kYB = 3208;        // sum 28142 = 219/255 x 2^15
constexpr int kCbR = -4857, kCbG = -9535, kCbB = 14392;   // sum 0
constexpr int kCrR = 14392, kCrG = -12052, kCrB = -2340;  // sum 0

// Where the planes go. Luma is (width + 1) & ~1 by (height + 1) & ~1 of
// the source; each chroma plane half of that each way.
struct Planes {
  uint8_t* y = nullptr;
  uint8_t* cb = nullptr;
  uint8_t* cr = nullptr;
  ptrdiff_t yStride = 0;
  ptrdiff_t cStride = 0;
};

inline int evenUp(int n) { return n + (n & 1); }

// The helpers below have a copy in each file that uses them (an unnamed
// namespace): the i686 build compiles the SSE2 file for SSE2, and the
// portable path must not call a copy compiled there.
namespace {

inline uint8_t clampByte(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }
inline uint8_t lumaOf(int b, int g, int r) {
  return clampByte(16 + ((kYB * b + kYG * g + kYR * r + 16384) >> 15));
}
inline uint8_t blueDiffOf(int b4, int g4, int r4) {
  return clampByte(128 + ((kCbB * b4 + kCbG * g4 + kCbR * r4 + 65536) >> 17));
}
inline uint8_t redDiffOf(int b4, int g4, int r4) {
  return clampByte(128 + ((kCrB * b4 + kCrG * g4 + kCrR * r4 + 65536) >> 17));
}

// Columns [x, width) of one pair of rows, one pixel at a time; the column
// past an odd width repeats the last one.
inline void convertTail(const uint8_t* above, const uint8_t* below, int x, int width, uint8_t* y0,
                        uint8_t* y1, uint8_t* cb, uint8_t* cr) {
  for (; x < width; x += 2) {
    const uint8_t* p[4] = {above + 4 * x, above + 4 * (x + 1 < width ? x + 1 : x), below + 4 * x,
                           below + 4 * (x + 1 < width ? x + 1 : x)};
    y0[x] = lumaOf(p[0][0], p[0][1], p[0][2]);
    y0[x + 1] = lumaOf(p[1][0], p[1][1], p[1][2]);
    y1[x] = lumaOf(p[2][0], p[2][1], p[2][2]);
    y1[x + 1] = lumaOf(p[3][0], p[3][1], p[3][2]);
    const int b4 = p[0][0] + p[1][0] + p[2][0] + p[3][0];
    const int g4 = p[0][1] + p[1][1] + p[2][1] + p[3][1];
    const int r4 = p[0][2] + p[1][2] + p[2][2] + p[3][2];
    cb[x >> 1] = blueDiffOf(b4, g4, r4);
    cr[x >> 1] = redDiffOf(b4, g4, r4);
  }
}

}  // namespace

// The work of one implementation: row pairs [firstPair, endPair) of `src`
// (pair p is rows 2p and 2p + 1, the latter repeating the last row past an
// odd height) into `out`.
struct Kernels {
  void (*convertPairs)(const PixelRows& src, int firstPair, int endPair, const Planes& out);
};

extern const Kernels kPortableKernels;
// Null where this build has no SSE2 code (not an x86 target).
const Kernels* sse2Kernels();
// The fastest this processor runs, chosen once.
const Kernels& fastestKernels();

// The whole frame with the given kernels (the fastest by default), its
// bands spread over the codec threads for large frames.
void convert(const PixelRows& src, const Planes& out, const Kernels& kernels = fastestKernels());

}  // namespace qt::i420
