#include "RawCodec.h"

#include <cstring>

#include "Workers.h"

#if defined(__i386__) || defined(__x86_64__)
#define SKELBY_X86 1
#include <tmmintrin.h>
#endif

namespace qt::raw {
namespace {

// Rows are converted in bands of about this many pixels, spread over the
// processors (each row's bytes have one place whatever the split).
constexpr uint64_t kBandPixels = 65536;
// The conversion is so cheap (a 640 x 480 frame in about 30 microseconds)
// that waking a helper made frames of that size slower; from about a
// million pixels on it pays off (measured on two processors).
constexpr uint64_t kInlinePixels = 1000000;

void rowScalar(const uint8_t* p, int width, uint8_t* o) {
  for (int x = 0; x < width; ++x, p += 4, o += 3) {
    o[0] = p[2];
    o[1] = p[1];
    o[2] = p[0];
  }
}

#if SKELBY_X86
// Sixteen pixels at a time: one byte shuffle turns four B, G, R, X pixels
// into twelve R, G, B bytes, and byte shifts pack four of those into three
// 16-byte stores. Built for SSSE3 alone and only called when the processor
// has it, so the 32-bit build still runs on processors without it.
__attribute__((target("ssse3"))) void rowSsse3(const uint8_t* p, int width, uint8_t* o) {
  const __m128i toRgb = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  int x = 0;
  for (; x + 16 <= width; x += 16, p += 64, o += 48) {
    const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), toRgb);
    const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), toRgb);
    const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), toRgb);
    const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), toRgb);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_or_si128(a, _mm_slli_si128(b, 12)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16),
                     _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 32),
                     _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
  }
  rowScalar(p, width - x, o);
}

bool hasSsse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}
#endif

using RowFunction = void (*)(const uint8_t*, int, uint8_t*);

RowFunction chooseRow() {
#if SKELBY_X86
  if (hasSsse3()) return rowSsse3;
#endif
  return rowScalar;
}

const RowFunction convertRow = chooseRow();

}  // namespace

uint64_t rowBytes(int width) { return (uint64_t(width) * 3 + 3) & ~uint64_t(3); }

uint64_t maxSize(int width, int height) { return rowBytes(width) * uint64_t(height); }

void toRgb(const uint8_t* bgrx, int width, uint8_t* rgb) { convertRow(bgrx, width, rgb); }

size_t compress(const PixelRows& src, uint8_t* out) {
  const size_t stride = size_t(rowBytes(src.width));
  const size_t pad = stride - size_t(src.width) * 3;
  const workers::RowBands bands(uint64_t(src.width), src.height, kBandPixels);
  workers::run(
      bands.count, uint64_t(src.width) * uint64_t(src.height),
      [&](int b) {
        for (int y = bands.first(b); y < bands.end(b); ++y) {
          uint8_t* o = out + stride * size_t(y);
          convertRow(src.row(y), src.width, o);
          std::memset(o + stride - pad, 0, pad);
        }
      },
      kInlinePixels);
  return stride * size_t(src.height);
}

}  // namespace qt::raw
