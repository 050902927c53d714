#include "JpegCodec.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace qt::jpeg {
namespace {

constexpr int kBlock = 64;
constexpr double kPi = 3.14159265358979323846;
// Worst case of one 8x8 block: DC code and bits (16 + 11), 63 AC codes with
// their bits (16 + 10 each), three ZRL codes, EOB: under 1700 bits = 213
// bytes; every byte may need a stuffed zero after it: 426. Rounded up.
constexpr uint64_t kMaxBlockBytes = 432;
// SOI 2, APP0 18, DQT 2 x 69, SOF0 19, DHT 4 + 2 x (17 + 12) + 2 x (17 + 162),
// SOS 14, EOI 2, flush of the last bits 2: 623. Rounded up.
constexpr uint64_t kMaxHeaderBytes = 640;

// ITU T.81 Annex K.1, tables K.1 and K.2 (natural order).
const uint8_t kLumaQuant[kBlock] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const uint8_t kChromaQuant[kBlock] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Zig-zag position -> natural index (ITU T.81 figure A.6).
const uint8_t kZigzag[kBlock] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// ITU T.81 Annex K.3, tables K.3 to K.6: code counts per length 1..16, values.
const uint8_t kDcLumaBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const uint8_t kDcChromaBits[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
const uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const uint8_t kAcLumaBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
const uint8_t kAcLumaValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07,
    0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0,
    0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
    0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
    0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
    0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5,
    0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa};
const uint8_t kAcChromaBits[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
const uint8_t kAcChromaValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71,
    0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0,
    0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26,
    0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
    0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68,
    0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
    0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5,
    0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa};

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

struct Tables {
  HuffTable dcLuma = buildTable(kDcLumaBits, kDcValues);
  HuffTable dcChroma = buildTable(kDcChromaBits, kDcValues);
  HuffTable acLuma = buildTable(kAcLumaBits, kAcLumaValues);
  HuffTable acChroma = buildTable(kAcChromaBits, kAcChromaValues);
};

const Tables& tables() {
  static const Tables t;
  return t;
}

// Codec quality anchors -> libjpeg quality.
struct Anchor {
  CodecQ codecQuality;
  int jpegQuality;
};
const Anchor kAnchors[] = {{codecMinQuality, 30},  {codecLowQuality, 50},
                           {codecNormalQuality, 75}, {codecHighQuality, 90},
                           {codecMaxQuality, 97},  {codecLosslessQuality, 100}};

bool fullChroma(CodecQ q) { return q >= codecLosslessQuality; }

// libjpeg's scaling of the Annex K tables.
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

class BitWriter {
 public:
  explicit BitWriter(uint8_t* out) : o_(out) {}
  void put(uint32_t bits, int count) {
    acc_ = (acc_ << count) | (bits & ((1u << count) - 1));
    n_ += count;
    while (n_ >= 8) {
      n_ -= 8;
      uint8_t b = uint8_t(acc_ >> n_);
      *o_++ = b;
      if (b == 0xFF) *o_++ = 0;  // byte stuffing
    }
  }
  // Pads the last byte with ones, as T.81 F.1.2.3 asks.
  uint8_t* finish() {
    if (n_ > 0) put(0x7F, 8 - n_);
    return o_;
  }

 private:
  uint8_t* o_;
  uint64_t acc_ = 0;
  int n_ = 0;
};

inline int bitLength(int v) {
  unsigned a = unsigned(v < 0 ? -v : v);
  int n = 0;
  while (a) {
    ++n;
    a >>= 1;
  }
  return n;
}

struct Component {
  const float* divisor;
  const HuffTable* dc;
  const HuffTable* ac;
  int lastDc = 0;
};

// DCT, quantisation and Huffman coding of one block of level-shifted samples.
void encodeBlock(float* block, Component& comp, BitWriter& bw) {
  int q[kBlock];
  bool flat = true;
  for (int i = 1; i < kBlock && flat; ++i) flat = block[i] == block[0];
  if (flat) {
    // Flat panels are most of a screen. The transform of a constant block is
    // exactly 64 x the value at DC and 0 elsewhere, so skip it.
    block[0] *= 64.0f;
    for (int i = 1; i < kBlock; ++i) block[i] = 0.0f;
  } else {
    for (int r = 0; r < 8; ++r) dct8(block + r * 8, 1);
    for (int c = 0; c < 8; ++c) dct8(block + c, 8);
  }
  for (int i = 0; i < kBlock; ++i) {
    // Round to nearest; the offset keeps the cast a floor for negatives too.
    int v = int(block[i] * comp.divisor[i] + 16384.5f) - 16384;
    q[i] = v < -1023 ? -1023 : v > 1023 ? 1023 : v;  // baseline coefficient range
  }
  const int diff = q[0] - comp.lastDc;
  comp.lastDc = q[0];
  int size = bitLength(diff);
  bw.put(comp.dc->code[size], comp.dc->size[size]);
  if (size) bw.put(uint32_t(diff < 0 ? diff - 1 : diff), size);
  int run = 0;
  for (int k = 1; k < kBlock; ++k) {
    const int v = q[kZigzag[k]];
    if (v == 0) {
      ++run;
      continue;
    }
    while (run > 15) {
      bw.put(comp.ac->code[0xF0], comp.ac->size[0xF0]);  // ZRL: sixteen zeros
      run -= 16;
    }
    size = bitLength(v);
    const int symbol = (run << 4) | size;
    bw.put(comp.ac->code[symbol], comp.ac->size[symbol]);
    bw.put(uint32_t(v < 0 ? v - 1 : v), size);
    run = 0;
  }
  if (run > 0) bw.put(comp.ac->code[0x00], comp.ac->size[0x00]);  // EOB
}

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

uint8_t* writeHeaders(uint8_t* o, int width, int height, bool full, const uint8_t lq[kBlock],
                      const uint8_t cq[kBlock]) {
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
  // DHT: the four Annex K tables
  struct Def {
    uint8_t id;
    const uint8_t* bits;
    const uint8_t* values;
    int count;
  };
  const Def defs[4] = {{0x00, kDcLumaBits, kDcValues, 12},
                       {0x10, kAcLumaBits, kAcLumaValues, 162},
                       {0x01, kDcChromaBits, kDcValues, 12},
                       {0x11, kAcChromaBits, kAcChromaValues, 162}};
  o = marker(o, 0xC4);
  o = be16(o, 2 + 4 * 17 + 2 * 12 + 2 * 162);
  for (const Def& d : defs) {
    *o++ = d.id;
    std::memcpy(o, d.bits, 16);
    o += 16;
    std::memcpy(o, d.values, size_t(d.count));
    o += d.count;
  }
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

// Colour conversion of one 8-bit BGRX pixel to full-range YCbCr (JFIF),
// fixed point with 16 fractional bits.
inline void ycc(const uint8_t* p, float* y, float* cb, float* cr) {
  const int b = p[0], g = p[1], r = p[2];
  *y = float((19595 * r + 38470 * g + 7471 * b + 32768) >> 16) - 128.0f;
  *cb = float((-11059 * r - 21709 * g + 32768 * b + (128 << 16) + 32767) >> 16);
  *cr = float((32768 * r - 27439 * g - 5329 * b + (128 << 16) + 32767) >> 16);
}

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
  const uint64_t mcu = fullChroma(quality) ? 8 : 16;
  const uint64_t mcus = (uint64_t(width) + mcu - 1) / mcu * ((uint64_t(height) + mcu - 1) / mcu);
  const uint64_t blocksPerMcu = fullChroma(quality) ? 3 : 6;
  return kMaxHeaderBytes + mcus * blocksPerMcu * kMaxBlockBytes;
}

size_t compress(const PixelRows& src, CodecQ quality, uint8_t* out) {
  const bool full = fullChroma(quality);
  const int jq = jpegQuality(quality);
  uint8_t lq[kBlock], cq[kBlock];
  scaleQuant(kLumaQuant, jq, lq);
  scaleQuant(kChromaQuant, jq, cq);
  float ld[kBlock], cd[kBlock];
  divisors(lq, ld);
  divisors(cq, cd);
  uint8_t* o = writeHeaders(out, src.width, src.height, full, lq, cq);

  const Tables& t = tables();
  Component y{ld, &t.dcLuma, &t.acLuma}, cb{cd, &t.dcChroma, &t.acChroma},
      cr{cd, &t.dcChroma, &t.acChroma};
  BitWriter bw(o);
  const int mcu = full ? 8 : 16;
  float yb[4][kBlock], cbb[kBlock], crb[kBlock];
  for (int my = 0; my < src.height; my += mcu) {
    for (int mx = 0; mx < src.width; mx += mcu) {
      if (full) {
        for (int r = 0; r < 8; ++r) {
          const uint8_t* row = src.row(my + r < src.height ? my + r : src.height - 1);
          for (int c = 0; c < 8; ++c) {
            const int x = mx + c < src.width ? mx + c : src.width - 1;  // edge pixels repeat
            ycc(row + 4 * x, &yb[0][r * 8 + c], &cbb[r * 8 + c], &crb[r * 8 + c]);
          }
        }
        for (int i = 0; i < kBlock; ++i) {
          cbb[i] -= 128.0f;
          crb[i] -= 128.0f;
        }
        encodeBlock(yb[0], y, bw);
      } else {
        float cbs[16][16], crs[16][16];
        for (int r = 0; r < 16; ++r) {
          const uint8_t* row = src.row(my + r < src.height ? my + r : src.height - 1);
          for (int c = 0; c < 16; ++c) {
            const int x = mx + c < src.width ? mx + c : src.width - 1;
            ycc(row + 4 * x, &yb[(r >> 3) * 2 + (c >> 3)][(r & 7) * 8 + (c & 7)], &cbs[r][c], &crs[r][c]);
          }
        }
        // 2x2 box filter down to one chroma sample per four pixels.
        for (int r = 0; r < 8; ++r)
          for (int c = 0; c < 8; ++c) {
            cbb[r * 8 + c] = (cbs[2 * r][2 * c] + cbs[2 * r][2 * c + 1] + cbs[2 * r + 1][2 * c] +
                              cbs[2 * r + 1][2 * c + 1]) * 0.25f - 128.0f;
            crb[r * 8 + c] = (crs[2 * r][2 * c] + crs[2 * r][2 * c + 1] + crs[2 * r + 1][2 * c] +
                              crs[2 * r + 1][2 * c + 1]) * 0.25f - 128.0f;
          }
        for (int i = 0; i < 4; ++i) encodeBlock(yb[i], y, bw);
      }
      encodeBlock(cbb, cb, bw);
      encodeBlock(crb, cr, bw);
    }
  }
  o = bw.finish();
  o = marker(o, 0xD9);  // EOI
  return size_t(o - out);
}

}  // namespace qt::jpeg
