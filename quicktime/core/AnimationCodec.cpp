#include "AnimationCodec.h"

#include <cstring>
#include <vector>

#include "Workers.h"

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

constexpr size_t kHeaderBytes = 6;  // sample size, header
// Lines are coded independently, so a frame is cut into bands of lines
// that are coded apart and joined. A band is about this many pixels.
constexpr uint64_t kBandPixels = 65536;

uint64_t lineBound(int width) {
  return 1                     // skip byte
         + 4 * uint64_t(width)  // every code byte stands for at least one 3-byte pixel
         + 1;                  // end of line
}

int bandLines(int width) {
  const uint64_t lines = (kBandPixels + uint64_t(width) - 1) / uint64_t(width);
  return int(lines);
}

}  // namespace

uint64_t maxSize(int width, int height) { return kHeaderBytes + uint64_t(height) * lineBound(width); }

size_t compress(const PixelRows& src, uint8_t* out) {
  // Each band is coded at the place its worst case would take in `out`, so
  // bands never overlap; then they are moved down to follow one another.
  const int linesPerBand = bandLines(src.width);
  const int bands = (src.height + linesPerBand - 1) / linesPerBand;
  const size_t bandBound = size_t(lineBound(src.width)) * size_t(linesPerBand);
  uint8_t* const bandsStart = out + kHeaderBytes;
  constexpr int kSmallBands = 64;
  size_t smallEnds[kSmallBands];
  std::vector<size_t> manyEnds(bands > kSmallBands ? size_t(bands) : 0);
  size_t* ends = bands > kSmallBands ? manyEnds.data() : smallEnds;
  workers::run(bands, uint64_t(src.width) * uint64_t(src.height), [&](int b) {
    uint8_t* const start = bandsStart + bandBound * size_t(b);
    uint8_t* o = start;
    const int last = b * linesPerBand + linesPerBand < src.height ? b * linesPerBand + linesPerBand : src.height;
    for (int y = b * linesPerBand; y < last; ++y) o = line(o, src.row(y), src.width);
    ends[b] = size_t(o - start);
  });
  uint8_t* o = bandsStart + ends[0];
  for (int b = 1; b < bands; ++b) {
    std::memmove(o, bandsStart + bandBound * size_t(b), ends[b]);
    o += ends[b];
  }
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
