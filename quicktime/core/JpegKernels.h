// The per-block work of the Photo - JPEG coder, in two implementations that
// write the same bytes: SSE2 (every x86-64 processor and every 32-bit one in
// use today) and portable C++ for a processor without it, chosen when the
// library first compresses a frame.
//
// Every step is integer arithmetic on 16-bit values, so the two can agree to
// the bit: the SSE2 code works on eight lanes at once, the portable code on
// one value at a time with the same operations in the same order, each
// result kept to 16 bits as a lane keeps it. (Floating point could not
// promise that: the i686 build computes it on the x87 unit when it has no
// SSE2.)
//
// Fixed-point domains, chosen so that no step overflows 16 bits:
// - samples are level-shifted and carry two fraction bits: luma 4 x (Y - 128)
//   in -512..508, chroma 4 x Cb and 4 x Cr in -512..508, each chroma sample
//   the mean of 2 x 2 pixels;
// - the transform is the Arai-Agui-Nakajima one, unnormalised, on columns
//   and then rows. The first pass takes the samples times four (at most
//   2048), so that its multiplications round off a sixteenth of a level
//   rather than a quarter (its results stay within 16 bits: at most 27000
//   in magnitude in between, 16384 at the end), and its results lose three
//   bits, rounded, before the second pass, whose results are twice the
//   unnormalised transform (DC = 128 x the mean sample), at most 16384.
#pragma once

#include <cstdint>

namespace qt::jpeg {

constexpr int kBlock = 64;

// One block after quantisation, coefficients in zig-zag order; bit k of
// `nonzero` is set when coefficient k (k >= 1) is not zero. Only the DC and
// the coefficients whose bit is set are written; the rest are never read.
struct QBlock {
  int16_t coef[kBlock];
  uint64_t nonzero;
};

// Quantisation of one table, in the order the transform leaves its
// coefficients (transposed: vertical frequency v, horizontal u at u * 8 + v).
// A coefficient c becomes sign(c) x min(1023, ((|c| + add) x multiplier) >>
// (16 + shift)): the division by the step, with AC rounding a third of a
// step up (a dead zone around zero, which saves more bits than it costs)
// and DC rounding to nearest. `scale` is 2^(16 - shift), the shift as SSE2's
// unsigned high multiply does it.
struct Quantizer {
  alignas(16) uint16_t add[kBlock];
  alignas(16) uint16_t multiplier[kBlock];
  alignas(16) uint16_t scale[kBlock];
  uint8_t shift[kBlock];
};

// Raises the entries of a quantisation table (natural order) that the
// quantiser below cannot divide by; the table written to the file must be
// the raised one.
void fitQuant(uint8_t quant[kBlock]);
// The quantiser of a fitted table (natural order).
Quantizer makeQuantizer(const uint8_t quant[kBlock]);

// Zig-zag position of each coefficient in the transform's (transposed) order.
extern const uint8_t kZigzagOfTransposed[kBlock];

// Colour conversion constants (JFIF full range), in units of 2^-14.
constexpr int kYB = 1868, kYG = 9617, kYR = 4899;  // sum 16384
constexpr int kCbB = 8192, kCbG = -5427, kCbR = -2765;
constexpr int kCrB = -1332, kCrG = -6860, kCrR = 8192;

// The helpers below have a copy in each file that uses them (an unnamed
// namespace), not one shared by the linker: the i686 build compiles the SSE2
// file for SSE2, and the portable path must not call a copy compiled there.
namespace {

// 4 x (Y - 128) of one pixel.
inline int16_t lumaOf(int b, int g, int r) {
  return int16_t(((kYB * b + kYG * g + kYR * r + 2048) >> 12) - 512);
}
// 4 x Cb and 4 x Cr of the mean of four pixels, from their sums.
inline int16_t blueDiffOf(int b4, int g4, int r4) {
  return int16_t((kCbB * b4 + kCbG * g4 + kCbR * r4 + 8192) >> 14);
}
inline int16_t redDiffOf(int b4, int g4, int r4) {
  return int16_t((kCrB * b4 + kCrG * g4 + kCrR * r4 + 8192) >> 14);
}

// The DC of a block whose 64 samples all equal `sample`, quantised: what the
// transform and quantisation give such a block, without them. Flat blocks
// are most of a screen; the kernels look for them first.
inline int16_t flatDc(int sample, const Quantizer& q) {
  const int c = 32 * sample;  // x 4, first pass 8 x, three bits off, second pass 8 x
  const uint32_t a = uint32_t(c < 0 ? -c : c) + q.add[0];
  uint32_t m = ((a * q.multiplier[0]) >> 16) >> q.shift[0];
  m = m > 1023 ? 1023 : m;
  return int16_t(c < 0 ? -int(m) : int(m));
}

// Index of the lowest set bit of v, which is not 0.
inline int countTrailingZeros(uint64_t v) {
#if defined(__GNUC__)
  return __builtin_ctzll(v);
#else
  int n = 0;
  while (!(v & 1)) {
    v >>= 1;
    ++n;
  }
  return n;
#endif
}

}  // namespace

// The work of one implementation.
struct Kernels {
  // One 16 x 16 MCU of B, G, R, X pixels (row r at rows[r], 64 bytes) to
  // four luma blocks (top left, top right, bottom left, bottom right) and
  // one block each of subsampled Cb and Cr, in the sample domain above.
  void (*convert420)(const uint8_t* const rows[16], int16_t luma[4][kBlock], int16_t cb[kBlock],
                     int16_t cr[kBlock]);
  // Transform and quantise one block of samples (natural order) into `out`.
  void (*quantize)(const int16_t samples[kBlock], const Quantizer& q, QBlock& out);
};

extern const Kernels kPortableKernels;
// Null where this build has no SSE2 code (not an x86 target).
const Kernels* sse2Kernels();
// Whether the processor running us has SSE2.
bool processorHasSse2();

// The transform's two passes on eight values each (d[0] .. d[7], in place),
// written once for both implementations: V is one 16-bit value or eight
// lanes of them, and provides +, - and mulhi(v, c) = (v x c) >> 16 for a
// 16-bit constant c (rounding down, as SSE2's signed high multiply does).
// Constants above 1/2 do not fit a signed 16-bit multiplier, so they are
// applied as v - mulhi(v, 1 - c) or v + mulhi(v, c - 1).
namespace {
template <typename V>
inline void forwardDct8(V* d) {
  const V t0 = d[0] + d[7], t7 = d[0] - d[7];
  const V t1 = d[1] + d[6], t6 = d[1] - d[6];
  const V t2 = d[2] + d[5], t5 = d[2] - d[5];
  const V t3 = d[3] + d[4], t4 = d[3] - d[4];
  // Even part.
  const V e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;
  d[0] = e10 + e11;
  d[4] = e10 - e11;
  const V s = e12 + e13;
  const V z1 = s - mulhi(s, 19195);  // x 0.707106781
  d[2] = e13 + z1;
  d[6] = e13 - z1;
  // Odd part.
  const V o10 = t4 + t5, o11 = t5 + t6, o12 = t6 + t7;
  const V z5 = mulhi(o10 - o12, 25080);       // x 0.382683433
  const V z2 = o10 - mulhi(o10, 30068) + z5;  // x 0.541196100
  const V z4 = o12 + mulhi(o12, 20091) + z5;  // x 1.306562965
  const V z3 = o11 - mulhi(o11, 19195);       // x 0.707106781
  const V z11 = t7 + z3, z13 = t7 - z3;
  d[5] = z13 + z2;
  d[3] = z13 - z2;
  d[1] = z11 + z4;
  d[7] = z11 - z4;
}
}  // namespace

}  // namespace qt::jpeg
