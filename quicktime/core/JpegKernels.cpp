// The portable implementation of the JPEG kernels, one value at a time, and
// the choice between it and SSE2. Each step mirrors JpegKernelsSse2.cpp
// operation for operation; a test holds the two to the same bytes.
#include "JpegKernels.h"

#if defined(__i386__) && defined(__GNUC__)
#include <cpuid.h>
#endif

namespace qt::jpeg {

// ITU T.81 figure A.6's zig-zag order, read for the transposed block: entry
// u * 8 + v is the zig-zag position of vertical frequency v, horizontal u.
const uint8_t kZigzagOfTransposed[kBlock] = {0,  2,  3,  9,  10, 20, 21, 35, 1,  4,  8,  11, 19, 22, 34, 36,
                                             5,  7,  12, 18, 23, 33, 37, 48, 6,  13, 17, 24, 32, 38, 47, 49,
                                             14, 16, 25, 31, 39, 46, 50, 57, 15, 26, 30, 40, 45, 51, 56, 58,
                                             27, 29, 41, 44, 52, 55, 59, 62, 28, 42, 43, 53, 54, 60, 61, 63};

namespace {

// The transform's scale of each coefficient, in units of 2^-14: a(u) x a(v)
// with a(0) = 1 and a(k) = cos(k pi / 16) x sqrt(2) (Arai-Agui-Nakajima).
// Symmetric, so the same in natural and transposed order. Integers, so that
// every build derives the same quantisers from them.
const uint16_t kAanScale[kBlock] = {
    16384, 22725, 21407, 19266, 16384, 12873, 8867,  4520,  22725, 31521, 29692, 26722, 22725,
    17855, 12299, 6270,  21407, 29692, 27969, 25172, 21407, 16819, 11585, 5906,  19266, 26722,
    25172, 22654, 19266, 15137, 10426, 5315,  16384, 22725, 21407, 19266, 16384, 12873, 8867,
    4520,  12873, 17855, 16819, 15137, 12873, 10114, 6967,  3552,  8867,  12299, 11585, 10426,
    8867,  6967,  4799,  2446,  4520,  6270,  5906,  5315,  4520,  3552,  2446,  1247};
}  // namespace

// The transform leaves each coefficient at 16 x a(u) x a(v) times its JPEG
// value, so it is divided by that times the table's entry. The quantiser
// shifts by at least one bit (its scale, 2^(16 - shift), must fit 16 bits),
// which needs that divisor to be 2 or more: an entry that would make it
// smaller is raised, and the table written to the file says so. Only
// quality 100 asks for one, at the highest frequency.
void fitQuant(uint8_t quant[kBlock]) {
  for (int i = 0; i < kBlock; ++i) {
    const int least = (2048 + kAanScale[i] - 1) / kAanScale[i];
    if (quant[i] < least) quant[i] = uint8_t(least);
  }
}

// The quantiser of a table (natural order), in the transform's order.
Quantizer makeQuantizer(const uint8_t quant[kBlock]) {
  Quantizer q{};
  for (int u = 0; u < 8; ++u)
    for (int v = 0; v < 8; ++v) {
      const int i = u * 8 + v;                                               // transposed
      const uint64_t step = 16 * uint64_t(quant[v * 8 + u]) * kAanScale[i];  // the divisor x 2^14
      int shift = 1;
      while ((step >> 14) >> (shift + 1)) ++shift;  // floor(log2(divisor))
      const uint64_t multiplier = ((uint64_t(1) << (30 + shift)) + step / 2) / step;
      q.multiplier[i] = uint16_t(multiplier > 65535 ? 65535 : multiplier);
      q.shift[i] = uint8_t(shift);
      q.scale[i] = uint16_t(1u << (16 - shift));
      // Half a divisor rounds DC to nearest; a third makes AC's dead zone.
      const uint64_t parts = i == 0 ? 2 : 3;
      q.add[i] = uint16_t((step + (parts << 13)) / (parts << 14));
    }
  return q;
}

namespace {

// One 16-bit lane: every result wraps to 16 bits, as an SSE2 lane's does.
struct Lane {
  int16_t v;
};
inline Lane operator+(Lane a, Lane b) { return Lane{int16_t(a.v + b.v)}; }
inline Lane operator-(Lane a, Lane b) { return Lane{int16_t(a.v - b.v)}; }
inline Lane mulhi(Lane a, int c) { return Lane{int16_t((int32_t(a.v) * c) >> 16)}; }

void convert420(const uint8_t* const rows[16], int16_t luma[4][kBlock], int16_t cb[kBlock],
                int16_t cr[kBlock]) {
  for (int r = 0; r < 16; ++r) {
    const uint8_t* p = rows[r];
    for (int c = 0; c < 16; ++c)
      luma[(r >> 3) * 2 + (c >> 3)][(r & 7) * 8 + (c & 7)] = lumaOf(p[4 * c], p[4 * c + 1], p[4 * c + 2]);
  }
  for (int r = 0; r < 8; ++r) {
    const uint8_t* p = rows[2 * r];
    const uint8_t* q = rows[2 * r + 1];
    for (int c = 0; c < 8; ++c) {
      int sum[3];
      for (int k = 0; k < 3; ++k) sum[k] = p[8 * c + k] + p[8 * c + 4 + k] + q[8 * c + k] + q[8 * c + 4 + k];
      cb[r * 8 + c] = blueDiffOf(sum[0], sum[1], sum[2]);
      cr[r * 8 + c] = redDiffOf(sum[0], sum[1], sum[2]);
    }
  }
}

void quantize(const int16_t samples[kBlock], const Quantizer& q, QBlock& out) {
  bool flat = true;
  for (int i = 1; i < kBlock; ++i) flat &= samples[i] == samples[0];
  if (flat) {
    out.coef[0] = flatDc(samples[0], q);
    out.nonzero = 0;
    return;
  }
  // Columns, then the transposed block's columns (the rows): the result is
  // transposed, as the SSE2 code leaves it.
  Lane t[kBlock];
  for (int c = 0; c < 8; ++c) {
    Lane d[8];
    for (int r = 0; r < 8; ++r) d[r] = Lane{int16_t(samples[r * 8 + c] * 4)};
    forwardDct8(d);
    for (int r = 0; r < 8; ++r) t[c * 8 + r] = Lane{int16_t((d[r].v + 4) >> 3)};
  }
  int16_t coef[kBlock];
  for (int c = 0; c < 8; ++c) {
    Lane d[8];
    for (int r = 0; r < 8; ++r) d[r] = t[r * 8 + c];
    forwardDct8(d);
    for (int r = 0; r < 8; ++r) coef[r * 8 + c] = d[r].v;
  }
  uint64_t nz = 0;
  for (int i = 0; i < kBlock; ++i) {
    const int c = coef[i];
    const uint32_t a = uint32_t(uint16_t((c < 0 ? -c : c) + q.add[i]));
    uint32_t m = ((a * q.multiplier[i]) >> 16) >> q.shift[i];
    m = m > 1023 ? 1023 : m;
    const int v = c < 0 ? -int(m) : int(m);
    if (i == 0) {
      out.coef[0] = int16_t(v);
    } else if (v != 0) {
      const int k = kZigzagOfTransposed[i];
      out.coef[k] = int16_t(v);
      nz |= uint64_t(1) << k;
    }
  }
  out.nonzero = nz;
}

}  // namespace

const Kernels kPortableKernels = {convert420, quantize};

bool processorHasSse2() {
#if defined(__x86_64__) || defined(_M_X64)
  return true;
#elif defined(__i386__) && defined(__GNUC__)
  unsigned eax, ebx, ecx, edx;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & bit_SSE2);
#else
  return false;
#endif
}

}  // namespace qt::jpeg
