// SSE2 helpers the colour conversions share: a 32-bit BGRX row split into
// B, G and R lanes, and a pair of 16-bit weights for _mm_madd_epi16. Only
// for files compiled with SSE2 (on i686, those built with -msse2).
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace qt::sse2 {

// Eight pixels' B, G and R as 16-bit lanes, from two loads of four pixels.
struct PixelLanes {
  __m128i b, g, r;
};
inline PixelLanes pixelLanes(const uint8_t* p) {
  const __m128i byte = _mm_set1_epi32(0xFF);
  const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  PixelLanes out;
  out.b = _mm_packs_epi32(_mm_and_si128(v0, byte), _mm_and_si128(v1, byte));
  out.g =
      _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(v0, 8), byte), _mm_and_si128(_mm_srli_epi32(v1, 8), byte));
  out.r = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(v0, 16), byte),
                          _mm_and_si128(_mm_srli_epi32(v1, 16), byte));
  return out;
}

// `low` and `high` in every pair of 16-bit lanes.
inline __m128i weightPair(int low, int high) {
  return _mm_set1_epi32(int(uint32_t(low & 0xFFFF) | uint32_t(high) << 16));
}

}  // namespace qt::sse2
