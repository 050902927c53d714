#include "JpegCodec.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "Workers.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qt::jpeg {
namespace {

constexpr int kBlock = 64;
constexpr double kPi = 3.14159265358979323846;
// Rounding offset of AC coefficients: below 0.5 makes a dead zone round zero.
constexpr float kAcRounding = 1.0f / 3;
// Worst case of one 8x8 block: DC code and bits (16 + 11), 63 AC codes with
// their bits (16 + 10 each), three ZRL codes, EOB: under 1700 bits = 213
// bytes; every byte may need a stuffed zero after it: 426. Rounded up.
constexpr uint64_t kMaxBlockBytes = 432;
// SOI 2, APP0 18, DQT 2 x 69, SOF0 19, DHT 4 + 2 x (17 + 12) + 2 x (17 + 162),
// DRI 6, SOS 14, EOI 2: 627. Rounded up.
constexpr uint64_t kMaxHeaderBytes = 640;
// Each band of MCU rows is a restart interval, coded on its own: its RST
// marker (2 bytes) and its last bits padded to a byte (at most 31 bits
// left, each byte maybe stuffed: 8).
constexpr uint64_t kBandOverhead = 2 + 8;
// A band is at least this many pixels: enough work to be worth a thread,
// few enough bands that their markers and the DC predictions they restart
// cost well under a percent.
constexpr uint64_t kBandPixels = 65536;
constexpr int kMaxRestartInterval = 65535;  // DRI holds 16 bits

// Base quantisation table (natural order) for luma and chroma alike: the
// MPEG-1 default intra matrix, AC x 1.5, DC as in the usual JPEG tables.
// It is much flatter than the Annex K tables: screens are sharp edges and
// coloured text, whose high frequencies and chroma the eye (and the RGB error)
// notice; for the same RGB error it takes fewer bits on window content.
const uint8_t kQuant[kBlock] = {16, 24, 29, 33, 39, 41, 44, 51,  24, 24, 33, 36, 41, 44, 51,  56,
                                29, 33, 39, 41, 44, 51, 51, 57,  33, 33, 39, 41, 44, 51, 56,  60,
                                33, 39, 41, 44, 48, 53, 60, 72,  39, 41, 44, 48, 53, 60, 72,  87,
                                39, 41, 44, 51, 57, 69, 84, 104, 41, 44, 53, 57, 69, 84, 104, 125};

// Zig-zag position -> natural index (ITU T.81 figure A.6).
const uint8_t kZigzag[kBlock] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

struct HuffTable {
  uint16_t code[256] = {};
  uint8_t size[256] = {};
};

// ITU T.81 Annex C: canonical codes from the counts per length.
HuffTable buildTable(const uint8_t bits[16], const uint8_t* values) {
  HuffTable t;
  uint16_t code = 0;
  int k = 0;
  for (int len = 1; len <= 16; ++len) {
    for (int i = 0; i < bits[len - 1]; ++i, ++k) {
      t.code[values[k]] = code++;
      t.size[values[k]] = uint8_t(len);
    }
    code = uint16_t(code << 1);
  }
  return t;
}

// Codec quality anchors -> libjpeg quality.
struct Anchor {
  CodecQ codecQuality;
  int jpegQuality;
};
const Anchor kAnchors[] = {{codecMinQuality, 30},  {codecLowQuality, 50}, {codecNormalQuality, 75},
                           {codecHighQuality, 90}, {codecMaxQuality, 97}, {codecLosslessQuality, 100}};

bool fullChroma(CodecQ q) { return q >= codecLosslessQuality; }

// libjpeg's scaling of a base table by quality.
void scaleQuant(const uint8_t base[kBlock], int quality, uint8_t out[kBlock]) {
  const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  for (int i = 0; i < kBlock; ++i) {
    int v = (base[i] * scale + 50) / 100;
    out[i] = uint8_t(v < 1 ? 1 : v > 255 ? 255 : v);
  }
}

// AAN forward DCT scale factors: cos(k*pi/16) * sqrt(2), 1 for k = 0.
void divisors(const uint8_t quant[kBlock], float out[kBlock]) {
  double aan[8];
  for (int k = 0; k < 8; ++k) aan[k] = k == 0 ? 1.0 : std::cos(k * kPi / 16) * std::sqrt(2.0);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) out[r * 8 + c] = float(1.0 / (quant[r * 8 + c] * aan[r] * aan[c] * 8.0));
}

// The Arai-Agui-Nakajima float DCT on one row or column, stride apart.
inline void dct8(float* d, int s) {
  float t0 = d[0] + d[7 * s], t7 = d[0] - d[7 * s];
  float t1 = d[s] + d[6 * s], t6 = d[s] - d[6 * s];
  float t2 = d[2 * s] + d[5 * s], t5 = d[2 * s] - d[5 * s];
  float t3 = d[3 * s] + d[4 * s], t4 = d[3 * s] - d[4 * s];
  float t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
  d[0] = t10 + t11;
  d[4 * s] = t10 - t11;
  float z1 = (t12 + t13) * 0.707106781f;
  d[2 * s] = t13 + z1;
  d[6 * s] = t13 - z1;
  t10 = t4 + t5;
  t11 = t5 + t6;
  t12 = t6 + t7;
  float z5 = (t10 - t12) * 0.382683433f;
  float z2 = 0.541196100f * t10 + z5;
  float z4 = 1.306562965f * t12 + z5;
  float z3 = t11 * 0.707106781f;
  float z11 = t7 + z3, z13 = t7 - z3;
  d[5 * s] = z13 + z2;
  d[3 * s] = z13 - z2;
  d[s] = z11 + z4;
  d[7 * s] = z11 - z4;
}

// Zig-zag position of each index of the transposed block.
struct TransposedZigzag {
  uint8_t position[kBlock];
  TransposedZigzag() {
    for (int k = 0; k < kBlock; ++k) position[(kZigzag[k] & 7) * 8 + (kZigzag[k] >> 3)] = uint8_t(k);
  }
  uint8_t operator[](int i) const { return position[i]; }
};
const TransposedZigzag kZigzagTransposed;

// Big-endian bit packing, 32 bits at a time; a 0xFF byte is followed by a
// stuffed zero.
class BitWriter {
 public:
  explicit BitWriter(uint8_t* out) : o_(out) {}
  // `bits` holds exactly `count` (at most 32) significant bits.
  void put(uint32_t bits, int count) {
    acc_ = (acc_ << count) | bits;
    n_ += count;
    if (n_ >= 32) {
      n_ -= 32;
      const uint32_t w = uint32_t(acc_ >> n_);
      const uint32_t inv = ~w;  // a 0xFF byte of w is a zero byte here
      if (((inv - 0x01010101u) & ~inv & 0x80808080u) == 0) {
        o_[0] = uint8_t(w >> 24);
        o_[1] = uint8_t(w >> 16);
        o_[2] = uint8_t(w >> 8);
        o_[3] = uint8_t(w);
        o_ += 4;
      } else {
        for (int shift = 24; shift >= 0; shift -= 8) byte(uint8_t(w >> shift));
      }
    }
  }
  // Pads the last byte with ones, as T.81 F.1.2.3 asks, and writes what is left.
  uint8_t* finish() {
    if (n_ & 7) {
      const int pad = 8 - (n_ & 7);
      acc_ = (acc_ << pad) | ((1u << pad) - 1);
      n_ += pad;
    }
    while (n_ > 0) {
      n_ -= 8;
      byte(uint8_t(acc_ >> n_));
    }
    return o_;
  }

 private:
  void byte(uint8_t b) {
    *o_++ = b;
    if (b == 0xFF) *o_++ = 0;  // byte stuffing
  }
  uint8_t* o_;
  uint64_t acc_ = 0;
  int n_ = 0;
};

inline int bitLength(int v) {
  unsigned a = unsigned(v < 0 ? -v : v);
#if defined(__GNUC__)
  return a ? 32 - __builtin_clz(a) : 0;
#else
  int n = 0;
  while (a) {
    ++n;
    a >>= 1;
  }
  return n;
#endif
}

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

// One block after quantisation, coefficients in zig-zag order; bit k of
// `nonzero` is set when coefficient k (k >= 1) is not zero. Only the DC and
// the coefficients whose bit is set are written; the rest are never read.
struct QBlock {
  int16_t coef[kBlock];
  uint64_t nonzero;
};

// A block of one level-shifted sample value: its transform is exactly 64 x
// the value at DC and 0 elsewhere. `divisor` is in zig-zag order.
inline void flatBlock(float value, const float* divisor, QBlock& out) {
  const int v = int(value * 64.0f * divisor[0] + 16384.5f) - 16384;
  out.coef[0] = int16_t(v < -1023 ? -1023 : v > 1023 ? 1023 : v);
  out.nonzero = 0;
}

// Bit i set when q[i] is not zero.
inline uint64_t nonzeroMask(const int q[kBlock]) {
#if defined(__SSE2__)
  uint64_t mask = 0;
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < kBlock; i += 16) {
    const __m128i* p = reinterpret_cast<const __m128i*>(q + i);
    // Saturating packs keep a non-zero value non-zero.
    const __m128i lo = _mm_packs_epi32(_mm_loadu_si128(p), _mm_loadu_si128(p + 1));
    const __m128i hi = _mm_packs_epi32(_mm_loadu_si128(p + 2), _mm_loadu_si128(p + 3));
    const __m128i zeros = _mm_cmpeq_epi8(_mm_packs_epi16(lo, hi), zero);
    mask |= uint64_t(~unsigned(_mm_movemask_epi8(zeros)) & 0xFFFFu) << i;
  }
  return mask;
#else
  uint64_t mask = 0;
  for (int i = 0; i < kBlock; ++i) mask |= uint64_t(q[i] != 0) << i;
  return mask;
#endif
}

// DCT and quantisation of one block of level-shifted samples. `divisor` is in
// zig-zag order.
void quantizeBlock(float* block, const float* divisor, const float* transposedDivisor, QBlock& out) {
  // Flat panels are most of a screen. No early exit, so the test vectorises.
  // Equal samples have equal bits (none is NaN; a +0/-0 pair would merely
  // miss the short cut).
  uint32_t bits[kBlock];
  std::memcpy(bits, block, sizeof bits);
  uint32_t differ = 0;
  for (int i = 1; i < kBlock; ++i) differ |= bits[i] ^ bits[0];
  if (differ == 0) return flatBlock(block[0], divisor, out);
  // Columns, transpose, columns again: both passes run down columns, which
  // compilers vectorise across the eight of them. The result is transposed
  // (coefficient v, u at u * 8 + v), and so are `transposedDivisor` and
  // kZigzagTransposed.
  for (int c = 0; c < 8; ++c) dct8(block + c, 8);
  float t[kBlock];
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) t[c * 8 + r] = block[r * 8 + c];
  for (int c = 0; c < 8; ++c) dct8(t + c, 8);
  block = t;
  // DC rounds to nearest; AC rounds with a dead zone around zero, which saves
  // more bits than it costs in error.
  int q[kBlock];
  for (int i = 0; i < kBlock; ++i) {
    const float x = block[i] * transposedDivisor[i];
    const float a = std::fabs(x);
    int m = int(a + kAcRounding);
    m = m > 1023 ? 1023 : m;  // baseline coefficient range
    q[i] = x < 0 ? -m : m;
  }
  const int dc = int(block[0] * divisor[0] + 16384.5f) - 16384;
  out.coef[0] = int16_t(dc < -1023 ? -1023 : dc > 1023 ? 1023 : dc);
  // Only the non-zero AC coefficients are moved to their zig-zag places:
  // most blocks of a screen keep a handful, and nothing reads the others.
  uint64_t natural = nonzeroMask(q) & ~uint64_t(1);
  uint64_t nz = 0;
  while (natural) {
    const int i = countTrailingZeros(natural);
    natural &= natural - 1;
    const int k = kZigzagTransposed[i];
    out.coef[k] = int16_t(q[i]);
    nz |= uint64_t(1) << k;
  }
  out.nonzero = nz;
}

// Symbol counts of one component class for the per-frame Huffman tables.
struct Counts {
  uint32_t dc[256] = {};
  uint32_t ac[256] = {};
};

// Walks the symbols of one block in coding order: the DC difference, then
// each non-zero AC coefficient with the zero run before it (ZRL for every
// sixteen zeros), then EOB unless the last coefficient was non-zero.
// Counting and writing share it, so the tables always fit what is written.
template <typename OnDc, typename OnAc>
inline void forEachSymbol(const QBlock& b, int& lastDc, OnDc onDc, OnAc onAc) {
  const int diff = b.coef[0] - lastDc;
  lastDc = b.coef[0];
  onDc(bitLength(diff), diff);
  uint64_t nz = b.nonzero;
  int prev = 0;
  while (nz) {
    const int k = countTrailingZeros(nz);
    nz &= nz - 1;
    int run = k - prev - 1;
    prev = k;
    for (; run > 15; run -= 16) onAc(0xF0, 0, 0);  // ZRL: sixteen zeros
    const int v = b.coef[k];
    const int size = bitLength(v);
    onAc((run << 4) | size, size, v);
  }
  if (prev < 63) onAc(0x00, 0, 0);  // EOB
}

void countBlock(const QBlock& b, int& lastDc, Counts& c) {
  forEachSymbol(
      b, lastDc, [&](int size, int) { ++c.dc[size]; }, [&](int symbol, int, int) { ++c.ac[symbol]; });
}

// A Huffman code followed by size bits of the value (negatives as one's
// complement, as JPEG codes them).
inline void putCoded(BitWriter& bw, uint16_t code, uint8_t codeSize, int size, int value) {
  bw.put((uint32_t(code) << size) | (uint32_t(value < 0 ? value - 1 : value) & ((1u << size) - 1)),
         codeSize + size);
}

void emitBlock(const QBlock& b, int& lastDc, const HuffTable& dcT, const HuffTable& acT, BitWriter& bw) {
  forEachSymbol(
      b, lastDc, [&](int size, int diff) { putCoded(bw, dcT.code[size], dcT.size[size], size, diff); },
      [&](int symbol, int size, int v) { putCoded(bw, acT.code[symbol], acT.size[symbol], size, v); });
}

// Code lengths (at most 16) from symbol counts, as in ITU T.81 Annex K:
// Huffman's procedure with one reserved symbol so that no code is all ones.
// Fills `bits` (codes per length) and `values`; returns the number of values.
int optimalTable(const uint32_t counts[256], uint8_t bits[16], uint8_t values[256]) {
  uint64_t freq[257];
  int codeSize[257], others[257];
  for (int i = 0; i < 256; ++i) freq[i] = counts[i];
  freq[256] = 1;
  for (int i = 0; i < 257; ++i) {
    codeSize[i] = 0;
    others[i] = -1;
  }
  for (;;) {
    int c1 = -1, c2 = -1;
    uint64_t v1 = ~uint64_t(0), v2 = ~uint64_t(0);
    for (int i = 0; i < 257; ++i) {
      if (freq[i] == 0) continue;
      if (freq[i] <= v1) {
        v2 = v1;
        c2 = c1;
        v1 = freq[i];
        c1 = i;
      } else if (freq[i] <= v2) {
        v2 = freq[i];
        c2 = i;
      }
    }
    if (c2 < 0) break;
    freq[c1] += freq[c2];
    freq[c2] = 0;
    ++codeSize[c1];
    while (others[c1] >= 0) {
      c1 = others[c1];
      ++codeSize[c1];
    }
    others[c1] = c2;
    ++codeSize[c2];
    while (others[c2] >= 0) {
      c2 = others[c2];
      ++codeSize[c2];
    }
  }
  int lengthCount[33] = {};
  for (int i = 0; i < 257; ++i)
    if (codeSize[i]) ++lengthCount[codeSize[i] > 32 ? 32 : codeSize[i]];
  for (int i = 32; i > 16; --i) {
    while (lengthCount[i] > 0) {
      int j = i - 2;
      while (lengthCount[j] == 0) --j;
      lengthCount[i] -= 2;
      ++lengthCount[i - 1];
      lengthCount[j + 1] += 2;
      --lengthCount[j];
    }
  }
  int i = 16;
  while (lengthCount[i] == 0) --i;
  --lengthCount[i];  // drop the reserved symbol, the longest code
  for (int len = 1; len <= 16; ++len) bits[len - 1] = uint8_t(lengthCount[len]);
  int n = 0;
  for (int len = 1; len <= 32; ++len)
    for (int sym = 0; sym < 256; ++sym)
      if (codeSize[sym] == len) values[n++] = uint8_t(sym);
  return n;
}

struct HuffDefinition {
  uint8_t bits[16];
  uint8_t values[256];
  int count;
};

uint8_t* marker(uint8_t* o, uint8_t code) {
  *o++ = 0xFF;
  *o++ = code;
  return o;
}

uint8_t* be16(uint8_t* o, int v) {
  *o++ = uint8_t(v >> 8);
  *o++ = uint8_t(v);
  return o;
}

// `huff`: DC luma, AC luma, DC chroma, AC chroma.
uint8_t* writeHeaders(uint8_t* o, int width, int height, bool full, const uint8_t lq[kBlock],
                      const uint8_t cq[kBlock], const HuffDefinition huff[4], int restartInterval) {
  o = marker(o, 0xD8);  // SOI
  // APP0 JFIF 1.01, square 72 dpi pixels
  o = marker(o, 0xE0);
  o = be16(o, 16);
  std::memcpy(o, "JFIF\0", 5);
  o += 5;
  *o++ = 1;  // version 1.01
  *o++ = 1;
  *o++ = 1;  // density in dots per inch
  o = be16(o, 72);
  o = be16(o, 72);
  *o++ = 0;  // no thumbnail
  *o++ = 0;
  // DQT: two 8-bit tables, in zig-zag order
  o = marker(o, 0xDB);
  o = be16(o, 2 + 2 * 65);
  *o++ = 0;
  for (int k = 0; k < kBlock; ++k) *o++ = lq[kZigzag[k]];
  *o++ = 1;
  for (int k = 0; k < kBlock; ++k) *o++ = cq[kZigzag[k]];
  // SOF0: baseline, 8-bit, three components
  o = marker(o, 0xC0);
  o = be16(o, 17);
  *o++ = 8;
  o = be16(o, height);
  o = be16(o, width);
  *o++ = 3;
  *o++ = 1;  // Y: sampling, table 0
  *o++ = full ? 0x11 : 0x22;
  *o++ = 0;
  *o++ = 2;  // Cb
  *o++ = 0x11;
  *o++ = 1;
  *o++ = 3;  // Cr
  *o++ = 0x11;
  *o++ = 1;
  // DHT: the four tables of this frame
  const uint8_t ids[4] = {0x00, 0x10, 0x01, 0x11};
  int length = 2;
  for (int i = 0; i < 4; ++i) length += 17 + huff[i].count;
  o = marker(o, 0xC4);
  o = be16(o, length);
  for (int i = 0; i < 4; ++i) {
    *o++ = ids[i];
    std::memcpy(o, huff[i].bits, 16);
    o += 16;
    std::memcpy(o, huff[i].values, size_t(huff[i].count));
    o += huff[i].count;
  }
  // DRI: the MCUs of a restart interval
  o = marker(o, 0xDD);
  o = be16(o, 4);
  o = be16(o, restartInterval);
  // SOS: all three components interleaved
  o = marker(o, 0xDA);
  o = be16(o, 12);
  *o++ = 3;
  *o++ = 1;
  *o++ = 0x00;
  *o++ = 2;
  *o++ = 0x11;
  *o++ = 3;
  *o++ = 0x11;
  *o++ = 0;   // spectral start
  *o++ = 63;  // spectral end
  *o++ = 0;   // successive approximation
  return o;
}

// Full-range YCbCr (JFIF) in float, samples level-shifted around 0. Float
// rather than fixed point: SSE2 has no 32-bit integer multiply, so this is
// what vectorises on every x86 we build for. Inputs may be sums of n pixels
// (then scale by 1/n); every path uses these, so a colour gets the same
// values whichever short cut coded its block.
inline float lumaOf(float r, float g, float b) { return r * 0.299f + g * 0.587f + b * 0.114f; }
inline float blueDiffOf(float r, float g, float b) { return -0.168736f * r - 0.331264f * g + 0.5f * b; }
inline float redDiffOf(float r, float g, float b) { return 0.5f * r - 0.418688f * g - 0.081312f * b; }

inline void ycc(const uint8_t* p, float* y, float* cb, float* cr) {
  const float b = p[0], g = p[1], r = p[2];
  *y = lumaOf(r, g, b) - 128.0f;
  *cb = blueDiffOf(r, g, b);
  *cr = redDiffOf(r, g, b);
}

// True when the 16x16 pixels at (mx, my), all inside the image, are one colour.
bool uniformMcu(const PixelRows& src, int mx, int my) {
  if (mx + 16 > src.width || my + 16 > src.height) return false;
  uint32_t first;
  std::memcpy(&first, src.row(my) + 4 * mx, 4);
  for (int r = 0; r < 16; ++r) {
    const uint8_t* row = src.row(my + r) + 4 * mx;
    uint32_t diff = 0;
    for (int c = 0; c < 16; ++c) {
      uint32_t px;
      std::memcpy(&px, row + 4 * c, 4);
      diff |= (px ^ first) & 0x00FFFFFFu;  // X is not a colour
    }
    if (diff) return false;
  }
  return true;
}

// The frame cut into bands of whole MCU rows, fixed by its size.
struct Bands {
  int mcu;  // pixels each way
  int blocksPerMcu;
  int mcusPerRow;
  int rowsPerBand;  // MCU rows
  int count;
  Bands(int width, int height, bool full) {
    mcu = full ? 8 : 16;
    blocksPerMcu = full ? 3 : 6;
    mcusPerRow = (width + mcu - 1) / mcu;
    const int mcuRows = (height + mcu - 1) / mcu;
    const uint64_t rowPixels = uint64_t(mcusPerRow) * uint64_t(mcu * mcu);
    uint64_t rows = (kBandPixels + rowPixels - 1) / rowPixels;
    if (rows * uint64_t(mcusPerRow) > uint64_t(kMaxRestartInterval))
      rows = uint64_t(kMaxRestartInterval / mcusPerRow);
    rowsPerBand = int(rows);
    count = (mcuRows + rowsPerBand - 1) / rowsPerBand;
  }
  int restartInterval() const { return rowsPerBand * mcusPerRow; }
  size_t blocksPerBand() const { return size_t(restartInterval()) * size_t(blocksPerMcu); }
  // Worst case of a full band's entropy-coded bytes, marker and padding included.
  uint64_t bandBound() const { return uint64_t(blocksPerBand()) * kMaxBlockBytes + kBandOverhead; }
};

}  // namespace

int jpegQuality(CodecQ quality) {
  if (quality >= codecLosslessQuality) return 100;
  for (size_t i = 1; i < sizeof kAnchors / sizeof kAnchors[0]; ++i) {
    const Anchor& a = kAnchors[i - 1];
    const Anchor& b = kAnchors[i];
    if (quality <= b.codecQuality)
      return a.jpegQuality + int((quality - a.codecQuality) * uint32_t(b.jpegQuality - a.jpegQuality) /
                                 (b.codecQuality - a.codecQuality));
  }
  return 100;
}

uint64_t maxSize(int width, int height, CodecQ quality) {
  const Bands bands(width, height, fullChroma(quality));
  // Every band counted as full: the last one's slack is a few kilobytes.
  return kMaxHeaderBytes + uint64_t(bands.count) * bands.bandBound();
}

namespace {

// What both passes over a frame share.
struct Frame {
  const PixelRows& src;
  bool full;
  Bands bands;
  float ld[kBlock], cd[kBlock], ldt[kBlock], cdt[kBlock];  // divisors: zig-zag, transposed
  QBlock* blocks;
};

// Pass 1 over one band: transform and quantise every block, in coding
// order, and count the symbols for the Huffman tables. The DC predictions
// start from zero, as after every restart marker.
void quantizeBand(const Frame& f, int band, Counts& luma, Counts& chroma) {
  const PixelRows& src = f.src;
  const bool full = f.full;
  const int mcu = f.bands.mcu;
  const float *ld = f.ld, *cd = f.cd, *ldt = f.ldt, *cdt = f.cdt;
  int lastY = 0, lastCb = 0, lastCr = 0;
  QBlock* qb = f.blocks + f.bands.blocksPerBand() * size_t(band);
  float yb[4][kBlock], cbb[kBlock], crb[kBlock];
  const int top = band * f.bands.rowsPerBand * mcu;
  const int bottom =
      top + f.bands.rowsPerBand * mcu < src.height ? top + f.bands.rowsPerBand * mcu : src.height;
  for (int my = top; my < bottom; my += mcu) {
    for (int mx = 0; mx < src.width; mx += mcu) {
      if (full) {
        for (int r = 0; r < 8; ++r) {
          const uint8_t* row = src.row(my + r < src.height ? my + r : src.height - 1);
          for (int c = 0; c < 8; ++c) {
            const int x = mx + c < src.width ? mx + c : src.width - 1;  // edge pixels repeat
            ycc(row + 4 * x, &yb[0][r * 8 + c], &cbb[r * 8 + c], &crb[r * 8 + c]);
          }
        }
        quantizeBlock(yb[0], ld, ldt, *qb);
        countBlock(*qb++, lastY, luma);
      } else if (uniformMcu(src, mx, my)) {
        // One colour over the whole MCU: six flat blocks.
        const uint8_t* p = src.row(my) + 4 * mx;
        const float b = p[0], g = p[1], rr = p[2];
        const float yv = lumaOf(rr, g, b) - 128.0f;
        for (int i = 0; i < 4; ++i) {
          flatBlock(yv, ld, *qb);
          countBlock(*qb++, lastY, luma);
        }
        flatBlock(blueDiffOf(rr, g, b), cd, *qb);
        countBlock(*qb++, lastCb, chroma);
        flatBlock(redDiffOf(rr, g, b), cd, *qb);
        countBlock(*qb++, lastCr, chroma);
        continue;
      } else {
        // Chroma is the mean over 2x2 pixels; the transform is linear, so
        // sum R, G and B first and convert the sums.
        int sr[kBlock] = {}, sg[kBlock] = {}, sb[kBlock] = {};
        uint8_t edge[16 * 4];  // a row with its edge pixel repeated
        const bool inside = mx + 16 <= src.width;
        for (int r = 0; r < 16; ++r) {
          const uint8_t* p = src.row(my + r < src.height ? my + r : src.height - 1) + 4 * mx;
          if (!inside) {
            for (int c = 0; c < 16; ++c)
              std::memcpy(edge + 4 * c, p + 4 * (mx + c < src.width ? c : src.width - 1 - mx), 4);
            p = edge;
          }
          uint32_t px[16];  // B, G, R, X from the low byte up (little-endian)
          std::memcpy(px, p, sizeof px);
          float yr[16];
          for (int c = 0; c < 16; ++c) {
            const int b = int(px[c] & 0xFF), g = int(px[c] >> 8 & 0xFF), rr = int(px[c] >> 16 & 0xFF);
            yr[c] = lumaOf(float(rr), float(g), float(b)) - 128.0f;
          }
          std::memcpy(yb[(r >> 3) * 2] + (r & 7) * 8, yr, sizeof(float) * 8);
          std::memcpy(yb[(r >> 3) * 2 + 1] + (r & 7) * 8, yr + 8, sizeof(float) * 8);
          int* cr8 = sr + (r >> 1) * 8;
          int* cg8 = sg + (r >> 1) * 8;
          int* cb8 = sb + (r >> 1) * 8;
          for (int j = 0; j < 8; ++j) {
            const uint32_t a = px[2 * j], b = px[2 * j + 1];
            cb8[j] += int((a & 0xFF) + (b & 0xFF));
            cg8[j] += int((a >> 8 & 0xFF) + (b >> 8 & 0xFF));
            cr8[j] += int((a >> 16 & 0xFF) + (b >> 16 & 0xFF));
          }
        }
        for (int i = 0; i < kBlock; ++i) {
          const float r4 = float(sr[i]), g4 = float(sg[i]), b4 = float(sb[i]);
          cbb[i] = blueDiffOf(r4, g4, b4) * 0.25f;
          crb[i] = redDiffOf(r4, g4, b4) * 0.25f;
        }
        for (int i = 0; i < 4; ++i) {
          quantizeBlock(yb[i], ld, ldt, *qb);
          countBlock(*qb++, lastY, luma);
        }
      }
      quantizeBlock(cbb, cd, cdt, *qb);
      countBlock(*qb++, lastCb, chroma);
      quantizeBlock(crb, cd, cdt, *qb);
      countBlock(*qb++, lastCr, chroma);
    }
  }
}

// Pass 2 over one band: entropy coding into `o`; returns the end.
uint8_t* emitBand(const Frame& f, int band, const HuffTable codes[4], uint8_t* o) {
  BitWriter bw(o);
  int lastY = 0, lastCb = 0, lastCr = 0;
  const QBlock* qb = f.blocks + f.bands.blocksPerBand() * size_t(band);
  const int mcuRows = (f.src.height + f.bands.mcu - 1) / f.bands.mcu;
  const int rowsHere = mcuRows - band * f.bands.rowsPerBand < f.bands.rowsPerBand
                           ? mcuRows - band * f.bands.rowsPerBand
                           : f.bands.rowsPerBand;
  const size_t mcus = size_t(rowsHere) * size_t(f.bands.mcusPerRow);
  const int lumaPerMcu = f.bands.blocksPerMcu - 2;
  for (size_t m = 0; m < mcus; ++m) {
    for (int i = 0; i < lumaPerMcu; ++i) emitBlock(*qb++, lastY, codes[0], codes[1], bw);
    emitBlock(*qb++, lastCb, codes[2], codes[3], bw);
    emitBlock(*qb++, lastCr, codes[2], codes[3], bw);
  }
  return bw.finish();
}

}  // namespace

size_t compress(const PixelRows& src, CodecQ quality, uint8_t* out) {
  const bool full = fullChroma(quality);
  const int jq = jpegQuality(quality);
  uint8_t lq[kBlock], cq[kBlock];
  scaleQuant(kQuant, jq, lq);
  scaleQuant(kQuant, jq, cq);
  Frame f{src, full, Bands(src.width, src.height, full), {}, {}, {}, {}, nullptr};
  float ldn[kBlock], cdn[kBlock];
  divisors(lq, ldn);
  divisors(cq, cdn);
  for (int k = 0; k < kBlock; ++k) {
    f.ld[k] = ldn[kZigzag[k]];
    f.cd[k] = cdn[kZigzag[k]];
    f.ldt[k] = ldn[(k & 7) * 8 + (k >> 3)];
    f.cdt[k] = cdn[(k & 7) * 8 + (k >> 3)];
  }
  const Bands& bands = f.bands;
  const uint64_t pixels = uint64_t(src.width) * uint64_t(src.height);

  // Kept between frames of a thread (about 7 MB at 1920 x 1080) to spare an
  // allocation per frame; the bands fill their own parts of it.
  static thread_local std::vector<QBlock> blocks;
  const size_t blockCount = bands.blocksPerBand() * size_t(bands.count);
  if (blocks.size() < blockCount) blocks.resize(blockCount);
  f.blocks = blocks.data();
  struct BandCounts {
    Counts luma, chroma;
    uint8_t* start;
    size_t size;
  };
  // A reference, not the thread_local itself: the helper threads must reach
  // this thread's copy.
  static thread_local std::vector<BandCounts> bandState;
  std::vector<BandCounts>& perBand = bandState;
  perBand.assign(size_t(bands.count), BandCounts{});
  workers::run(bands.count, pixels,
               [&](int b) { quantizeBand(f, b, perBand[size_t(b)].luma, perBand[size_t(b)].chroma); });

  // Huffman tables fitted to this frame: the bands' counts summed.
  Counts luma, chroma;
  for (const BandCounts& c : perBand) {
    for (int i = 0; i < 256; ++i) {
      luma.dc[i] += c.luma.dc[i];
      luma.ac[i] += c.luma.ac[i];
      chroma.dc[i] += c.chroma.dc[i];
      chroma.ac[i] += c.chroma.ac[i];
    }
  }
  HuffDefinition huff[4];
  const uint32_t* counts[4] = {luma.dc, luma.ac, chroma.dc, chroma.ac};
  HuffTable codes[4];
  for (int i = 0; i < 4; ++i) {
    huff[i].count = optimalTable(counts[i], huff[i].bits, huff[i].values);
    codes[i] = buildTable(huff[i].bits, huff[i].values);
  }
  uint8_t* o = writeHeaders(out, src.width, src.height, full, lq, cq, huff, bands.restartInterval());

  // Pass 2: each band codes at the place its worst case would take in `out`
  // (after the largest header), so bands never overlap; then they move down
  // to follow one another, a restart marker between each two.
  uint8_t* const bandsStart = out + kMaxHeaderBytes;
  workers::run(bands.count, pixels, [&](int b) {
    uint8_t* start = bandsStart + size_t(bands.bandBound()) * size_t(b);
    perBand[size_t(b)].start = start;
    perBand[size_t(b)].size = size_t(emitBand(f, b, codes, start) - start);
  });
  for (int b = 0; b < bands.count; ++b) {
    if (b > 0) o = marker(o, uint8_t(0xD0 + ((b - 1) & 7)));  // RSTn, n counting 0..7 round
    std::memmove(o, perBand[size_t(b)].start, perBand[size_t(b)].size);
    o += perBand[size_t(b)].size;
  }
  o = marker(o, 0xD9);  // EOI
  return size_t(o - out);
}

}  // namespace qt::jpeg
