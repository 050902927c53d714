// The SSE2 implementation of the JPEG kernels: eight 16-bit lanes at a time,
// the same operations in the same order as the portable code in
// JpegKernels.cpp. The i686 build compiles this file alone with -msse2 and
// calls into it only once the processor has said it has SSE2.
#include "JpegKernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "PixelLanesSse2.h"

namespace qt::jpeg {
namespace {

using Planes = sse2::PixelLanes;
constexpr auto planes = sse2::pixelLanes;
constexpr auto pairs = sse2::weightPair;

// Eight lanes of the transform (see forwardDct8).
struct Vec {
  __m128i v;
};
inline Vec operator+(Vec a, Vec b) { return Vec{_mm_add_epi16(a.v, b.v)}; }
inline Vec operator-(Vec a, Vec b) { return Vec{_mm_sub_epi16(a.v, b.v)}; }
inline Vec mulhi(Vec a, int c) { return Vec{_mm_mulhi_epi16(a.v, _mm_set1_epi16(int16_t(c)))}; }

// (b x cb + g x cg + r x cr + round) >> bits on eight lanes, through 32 bits.
template <int bits>
inline __m128i combine(const Planes& p, __m128i bg, __m128i r1) {
  const __m128i one = _mm_set1_epi16(1);
  const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(p.b, p.g), bg),
                                   _mm_madd_epi16(_mm_unpacklo_epi16(p.r, one), r1));
  const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(p.b, p.g), bg),
                                   _mm_madd_epi16(_mm_unpackhi_epi16(p.r, one), r1));
  return _mm_packs_epi32(_mm_srai_epi32(lo, bits), _mm_srai_epi32(hi, bits));
}

void convert420(const uint8_t* const rows[16], int16_t luma[4][kBlock], int16_t cb[kBlock],
                int16_t cr[kBlock]) {
  const __m128i yBG = pairs(kYB, kYG), yR = pairs(kYR, 2048);
  const __m128i cbBG = pairs(kCbB, kCbG), cbR = pairs(kCbR, 8192);
  const __m128i crBG = pairs(kCrB, kCrG), crR = pairs(kCrR, 8192);
  const __m128i shift = _mm_set1_epi16(512), one = _mm_set1_epi16(1);
  auto storeLuma = [&](const Planes p[2], int r) {
    for (int h = 0; h < 2; ++h) {
      const __m128i y = _mm_sub_epi16(combine<12>(p[h], yBG, yR), shift);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(luma[(r >> 3) * 2 + h] + (r & 7) * 8), y);
    }
  };
  // Sums of 2 x 2 pixels: the two rows added, then neighbouring lanes.
  auto sum2x2 = [one](__m128i above0, __m128i below0, __m128i above1, __m128i below1) {
    return _mm_packs_epi32(_mm_madd_epi16(_mm_add_epi16(above0, below0), one),
                           _mm_madd_epi16(_mm_add_epi16(above1, below1), one));
  };
  for (int r = 0; r < 16; r += 2) {
    const Planes above[2] = {planes(rows[r]), planes(rows[r] + 32)};
    const Planes below[2] = {planes(rows[r + 1]), planes(rows[r + 1] + 32)};
    storeLuma(above, r);
    storeLuma(below, r + 1);
    const Planes sum = {sum2x2(above[0].b, below[0].b, above[1].b, below[1].b),
                        sum2x2(above[0].g, below[0].g, above[1].g, below[1].g),
                        sum2x2(above[0].r, below[0].r, above[1].r, below[1].r)};
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cb + (r >> 1) * 8), combine<14>(sum, cbBG, cbR));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cr + (r >> 1) * 8), combine<14>(sum, crBG, crR));
  }
}

inline void transpose(Vec* d) {
  const __m128i a0 = _mm_unpacklo_epi16(d[0].v, d[1].v), a1 = _mm_unpackhi_epi16(d[0].v, d[1].v);
  const __m128i a2 = _mm_unpacklo_epi16(d[2].v, d[3].v), a3 = _mm_unpackhi_epi16(d[2].v, d[3].v);
  const __m128i a4 = _mm_unpacklo_epi16(d[4].v, d[5].v), a5 = _mm_unpackhi_epi16(d[4].v, d[5].v);
  const __m128i a6 = _mm_unpacklo_epi16(d[6].v, d[7].v), a7 = _mm_unpackhi_epi16(d[6].v, d[7].v);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  d[0].v = _mm_unpacklo_epi64(b0, b4);
  d[1].v = _mm_unpackhi_epi64(b0, b4);
  d[2].v = _mm_unpacklo_epi64(b1, b5);
  d[3].v = _mm_unpackhi_epi64(b1, b5);
  d[4].v = _mm_unpacklo_epi64(b2, b6);
  d[5].v = _mm_unpackhi_epi64(b2, b6);
  d[6].v = _mm_unpacklo_epi64(b3, b7);
  d[7].v = _mm_unpackhi_epi64(b3, b7);
}

void quantize(const int16_t samples[kBlock], const Quantizer& q, QBlock& out) {
  Vec d[8];
  for (int r = 0; r < 8; ++r) d[r].v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 8 * r));
  // A flat block (most of a screen) needs no transform.
  const __m128i first = _mm_unpacklo_epi64(_mm_shufflelo_epi16(d[0].v, 0), _mm_shufflelo_epi16(d[0].v, 0));
  __m128i same = _mm_cmpeq_epi16(d[0].v, first);
  for (int r = 1; r < 8; ++r) same = _mm_and_si128(same, _mm_cmpeq_epi16(d[r].v, first));
  if (_mm_movemask_epi8(same) == 0xFFFF) {
    out.coef[0] = flatDc(samples[0], q);
    out.nonzero = 0;
    return;
  }
  for (int r = 0; r < 8; ++r) d[r].v = _mm_slli_epi16(d[r].v, 2);
  forwardDct8(d);  // down the columns: each lane is one
  const __m128i four = _mm_set1_epi16(4);
  for (int r = 0; r < 8; ++r) d[r].v = _mm_srai_epi16(_mm_add_epi16(d[r].v, four), 3);
  transpose(d);
  forwardDct8(d);  // the rows; d[u] now holds horizontal frequency u
  alignas(16) int16_t coef[kBlock];
  const __m128i limit = _mm_set1_epi16(1023);
  const __m128i* add = reinterpret_cast<const __m128i*>(q.add);
  const __m128i* mul = reinterpret_cast<const __m128i*>(q.multiplier);
  const __m128i* scale = reinterpret_cast<const __m128i*>(q.scale);
  for (int u = 0; u < 8; ++u) {
    const __m128i sign = _mm_srai_epi16(d[u].v, 15);
    __m128i a = _mm_add_epi16(_mm_sub_epi16(_mm_xor_si128(d[u].v, sign), sign), _mm_load_si128(add + u));
    a = _mm_mulhi_epu16(_mm_mulhi_epu16(a, _mm_load_si128(mul + u)), _mm_load_si128(scale + u));
    a = _mm_min_epi16(a, limit);
    _mm_store_si128(reinterpret_cast<__m128i*>(coef + 8 * u), _mm_sub_epi16(_mm_xor_si128(a, sign), sign));
  }
  // Bit i set when coefficient i is not zero; saturating packs keep a
  // non-zero value non-zero.
  const __m128i* c = reinterpret_cast<const __m128i*>(coef);
  const __m128i zero = _mm_setzero_si128();
  uint64_t natural = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i zeros = _mm_cmpeq_epi8(_mm_packs_epi16(c[2 * i], c[2 * i + 1]), zero);
    natural |= uint64_t(~unsigned(_mm_movemask_epi8(zeros)) & 0xFFFFu) << (16 * i);
  }
  out.coef[0] = coef[0];
  natural &= ~uint64_t(1);
  uint64_t nz = 0;
  while (natural) {
    const int i = countTrailingZeros(natural);
    natural &= natural - 1;
    const int k = kZigzagOfTransposed[i];
    out.coef[k] = coef[i];
    nz |= uint64_t(1) << k;
  }
  out.nonzero = nz;
}

const Kernels kSse2Kernels = {convert420, quantize};

}  // namespace

const Kernels* sse2Kernels() { return &kSse2Kernels; }

}  // namespace qt::jpeg

#else

namespace qt::jpeg {
const Kernels* sse2Kernels() { return nullptr; }
}  // namespace qt::jpeg

#endif
