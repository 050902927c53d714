// The SSE2 implementation of the I420 conversion: sixteen pixels of a pair
// of rows at a time, the same integer steps as the portable code in
// I420Kernels.h; the columns left over go through that code itself. The
// i686 build compiles this file alone with -msse2 and calls into it only
// once the processor has said it has SSE2.
#include "I420Kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "PixelLanesSse2.h"

namespace qt::i420 {
namespace {

using Lanes = sse2::PixelLanes;
constexpr auto lanes = sse2::pixelLanes;
constexpr auto pairOf = sse2::weightPair;

// (b x cb + g x cg + r x cr + round) >> bits on eight lanes, through 32
// bits, then `offset` added: the scalar formula lane by lane.
template <int bits>
inline __m128i weigh(const Lanes& p, __m128i bg, __m128i r0, __m128i round, __m128i offset) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(p.b, p.g), bg),
                                                 _mm_madd_epi16(_mm_unpacklo_epi16(p.r, zero), r0)),
                                   round);
  const __m128i hi = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(p.b, p.g), bg),
                                                 _mm_madd_epi16(_mm_unpackhi_epi16(p.r, zero), r0)),
                                   round);
  return _mm_add_epi16(_mm_packs_epi32(_mm_srai_epi32(lo, bits), _mm_srai_epi32(hi, bits)), offset);
}

void convertPairs(const PixelRows& src, int firstPair, int endPair, const Planes& out) {
  const __m128i yBG = pairOf(kYB, kYG), yR = pairOf(kYR, 0);
  const __m128i cbBG = pairOf(kCbB, kCbG), cbR = pairOf(kCbR, 0);
  const __m128i crBG = pairOf(kCrB, kCrG), crR = pairOf(kCrR, 0);
  const __m128i yRound = _mm_set1_epi32(1 << 14), cRound = _mm_set1_epi32(1 << 16);
  const __m128i yOffset = _mm_set1_epi16(16), cOffset = _mm_set1_epi16(128), one = _mm_set1_epi16(1);
  // Sums of 2 x 2 pixels: the two rows added, then neighbouring lanes.
  auto sum2x2 = [one](__m128i above0, __m128i below0, __m128i above1, __m128i below1) {
    return _mm_packs_epi32(_mm_madd_epi16(_mm_add_epi16(above0, below0), one),
                           _mm_madd_epi16(_mm_add_epi16(above1, below1), one));
  };
  const int wide = src.width & ~15;
  for (int p = firstPair; p < endPair; ++p) {
    const int top = 2 * p;
    const uint8_t* above = src.row(top);
    const uint8_t* below = src.row(top + 1 < src.height ? top + 1 : top);
    uint8_t* y0 = out.y + top * out.yStride;
    uint8_t* y1 = y0 + out.yStride;
    uint8_t* cb = out.cb + p * out.cStride;
    uint8_t* cr = out.cr + p * out.cStride;
    for (int x = 0; x < wide; x += 16) {
      const Lanes a[2] = {lanes(above + 4 * x), lanes(above + 4 * x + 32)};
      const Lanes b[2] = {lanes(below + 4 * x), lanes(below + 4 * x + 32)};
      const __m128i ya = _mm_packus_epi16(weigh<15>(a[0], yBG, yR, yRound, yOffset),
                                          weigh<15>(a[1], yBG, yR, yRound, yOffset));
      const __m128i yb = _mm_packus_epi16(weigh<15>(b[0], yBG, yR, yRound, yOffset),
                                          weigh<15>(b[1], yBG, yR, yRound, yOffset));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(y0 + x), ya);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(y1 + x), yb);
      const Lanes sum = {sum2x2(a[0].b, b[0].b, a[1].b, b[1].b), sum2x2(a[0].g, b[0].g, a[1].g, b[1].g),
                         sum2x2(a[0].r, b[0].r, a[1].r, b[1].r)};
      const __m128i u = weigh<17>(sum, cbBG, cbR, cRound, cOffset);
      const __m128i v = weigh<17>(sum, crBG, crR, cRound, cOffset);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(cb + x / 2), _mm_packus_epi16(u, u));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(cr + x / 2), _mm_packus_epi16(v, v));
    }
    convertTail(above, below, wide, src.width, y0, y1, cb, cr);
  }
}

const Kernels kSse2Kernels = {convertPairs};

}  // namespace

const Kernels* sse2Kernels() { return &kSse2Kernels; }

}  // namespace qt::i420

#else

namespace qt::i420 {
const Kernels* sse2Kernels() { return nullptr; }
}  // namespace qt::i420

#endif
