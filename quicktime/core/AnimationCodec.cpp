#include "AnimationCodec.h"

#include <cstring>

namespace qt::animation {
namespace {

constexpr int kMaxLiteral = 127;           // positive code: that many literal pixels
constexpr int kMaxRun = 128;               // negative code: one pixel repeated
constexpr uint8_t kNoSkip = 1;             // skip byte: skip - 1 pixels = none
constexpr uint8_t kEndOfLine = 0xFF;       // code -1
constexpr uint32_t kRgbMask = 0x00FFFFFF;  // ignore the undefined X byte

inline uint32_t pixel(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v & kRgbMask;  // little-endian B, G, R, X in memory
}

inline uint8_t* putRgb(uint8_t* o, const uint8_t* bgrx) {
  o[0] = bgrx[2];
  o[1] = bgrx[1];
  o[2] = bgrx[0];
  return o + 3;
}

uint8_t* literal(uint8_t* o, const uint8_t* px, int count) {
  while (count > 0) {
    int n = count < kMaxLiteral ? count : kMaxLiteral;
    *o++ = uint8_t(n);
    for (int i = 0; i < n; ++i) o = putRgb(o, px + 4 * i);
    px += 4 * n;
    count -= n;
  }
  return o;
}

// One line: runs of two or more equal pixels become repeat codes (4 bytes
// for up to 128 pixels); anything else is gathered into literals. A run of 2
// costs 4 bytes against 6 as literal pixels, so taking every run is never
// worse than merging it into the surrounding literal (at most one extra code
// byte for splitting the literal).
uint8_t* line(uint8_t* o, const uint8_t* px, int width) {
  *o++ = kNoSkip;
  int pending = 0;  // first pixel of the literal not yet written
  int x = 0;
  while (x < width) {
    const uint32_t v = pixel(px + 4 * x);
    int run = 1;
    while (x + run < width && run < kMaxRun && pixel(px + 4 * (x + run)) == v) ++run;
    if (run < 2) {
      ++x;
      continue;
    }
    o = literal(o, px + 4 * pending, x - pending);
    *o++ = uint8_t(-run);
    o = putRgb(o, px + 4 * x);
    x += run;
    pending = x;
  }
  o = literal(o, px + 4 * pending, width - pending);
  *o++ = kEndOfLine;
  return o;
}

}  // namespace

uint64_t maxSize(int width, int height) {
  const uint64_t w = uint64_t(width), h = uint64_t(height);
  return 4               // sample size
         + 2             // header: all lines
         + h * (1        // skip byte
                + 4 * w  // every code byte stands for at least one 3-byte pixel
                + 1);    // end of line
}

size_t compress(const PixelRows& src, uint8_t* out) {
  uint8_t* o = out + 6;
  for (int y = 0; y < src.height; ++y) o = line(o, src.row(y), src.width);
  const size_t size = size_t(o - out);
  out[0] = uint8_t(size >> 24);
  out[1] = uint8_t(size >> 16);
  out[2] = uint8_t(size >> 8);
  out[3] = uint8_t(size);
  out[4] = 0;  // header 0: every line follows
  out[5] = 0;
  return size;
}

}  // namespace qt::animation
