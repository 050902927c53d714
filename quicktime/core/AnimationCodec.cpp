#include "AnimationCodec.h"

#include <cstring>
#include <vector>

#include "RawCodec.h"
#include "Workers.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Pixels as R, G, B bytes: long stretches through the None codec's row
// conversion (a byte shuffle where the processor has one).
inline uint8_t* putPixels(uint8_t* o, const uint8_t* px, int count) {
  constexpr int kShuffleFrom = 16;  // below this the call costs more than it saves
  if (count >= kShuffleFrom) {
    raw::toRgb(px, count, o);
    return o + 3 * count;
  }
  for (int i = 0; i < count; ++i) o = putRgb(o, px + 4 * i);
  return o;
}

uint8_t* literal(uint8_t* o, const uint8_t* px, int count) {
  while (count > 0) {
    int n = count < kMaxLiteral ? count : kMaxLiteral;
    *o++ = uint8_t(n);
    o = putPixels(o, px, n);
    px += 4 * n;
    count -= n;
  }
  return o;
}

#if defined(__SSE2__)
inline int lowestBit(unsigned v) { return __builtin_ctz(v); }

// The first x' >= x whose pixel equals the next one, or width when none:
// four neighbouring pairs compared at once.
inline int nextPair(const uint8_t* px, int x, int width) {
  const __m128i rgb = _mm_set1_epi32(int(kRgbMask));
  for (; x + 5 <= width; x += 4) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 4 * x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 4 * x + 4));
    const __m128i differ = _mm_and_si128(_mm_xor_si128(a, b), rgb);
    const int equal = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(differ, _mm_setzero_si128())));
    if (equal) return x + lowestBit(unsigned(equal));
  }
  for (; x + 1 < width; ++x)
    if (pixel(px + 4 * x) == pixel(px + 4 * x + 4)) return x;
  return width;
}

// How many pixels from x on equal pixel x, at most `limit`: four at a time.
inline int runLength(const uint8_t* px, int x, int limit) {
  const uint32_t v = pixel(px + 4 * x);
  const __m128i rgb = _mm_set1_epi32(int(kRgbMask));
  const __m128i want = _mm_set1_epi32(int(v));
  int n = 1;
  for (; n + 4 <= limit; n += 4) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 4 * (x + n)));
    const int equal = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(c, rgb), want)));
    if (equal != 0xF) return n + lowestBit(unsigned(~equal));
  }
  while (n < limit && pixel(px + 4 * (x + n)) == v) ++n;
  return n;
}
#else
inline int nextPair(const uint8_t* px, int x, int width) {
  for (; x + 1 < width; ++x)
    if (pixel(px + 4 * x) == pixel(px + 4 * x + 4)) return x;
  return width;
}

inline int runLength(const uint8_t* px, int x, int limit) {
  const uint32_t v = pixel(px + 4 * x);
  int n = 1;
  while (n < limit && pixel(px + 4 * (x + n)) == v) ++n;
  return n;
}
#endif

// One line: runs of two or more equal pixels become repeat codes (4 bytes
// for up to 128 pixels); anything else is gathered into literals. A run of 2
// costs 4 bytes against 6 as literal pixels, so taking every run is never
// worse than merging it into the surrounding literal (at most one extra code
// byte for splitting the literal).
uint8_t* line(uint8_t* o, const uint8_t* px, int width) {
  *o++ = kNoSkip;
  int pending = 0;  // first pixel of the literal not yet written
  for (int x = nextPair(px, 0, width); x < width; x = nextPair(px, x, width)) {
    const int run = runLength(px, x, width - x < kMaxRun ? width - x : kMaxRun);
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
  return 1                      // skip byte
         + 4 * uint64_t(width)  // every code byte stands for at least one 3-byte pixel
         + 1;                   // end of line
}

}  // namespace

uint64_t maxSize(int width, int height) { return kHeaderBytes + uint64_t(height) * lineBound(width); }

size_t compress(const PixelRows& src, uint8_t* out) {
  // Each band is coded at the place its worst case would take in `out`, so
  // bands never overlap; then they are moved down to follow one another.
  const workers::RowBands bands(uint64_t(src.width), src.height, kBandPixels);
  const size_t bandBound = size_t(lineBound(src.width)) * size_t(bands.rowsPerBand);
  uint8_t* const bandsStart = out + kHeaderBytes;
  constexpr int kSmallBands = 64;
  size_t smallEnds[kSmallBands];
  std::vector<size_t> manyEnds(bands.count > kSmallBands ? size_t(bands.count) : 0);
  size_t* ends = bands.count > kSmallBands ? manyEnds.data() : smallEnds;
  workers::run(bands.count, uint64_t(src.width) * uint64_t(src.height), [&](int b) {
    uint8_t* const start = bandsStart + bandBound * size_t(b);
    uint8_t* o = start;
    for (int y = bands.first(b); y < bands.end(b); ++y) o = line(o, src.row(y), src.width);
    ends[b] = size_t(o - start);
  });
  uint8_t* o = bandsStart + ends[0];
  for (int b = 1; b < bands.count; ++b) {
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
