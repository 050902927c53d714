#include "JpegCodec.h"

#include <cstring>
#include <memory>
#include <vector>

#include "JpegKernels.h"
#include "Workers.h"

namespace qt::jpeg {
namespace {

// Worst case of one 8x8 block: DC code and bits (16 + 11), 63 AC codes with
// their bits (16 + 10 each), three ZRL codes, EOB: under 1700 bits = 213
// bytes, rounded up; every byte may need a stuffed zero after it: twice that.
constexpr uint64_t kMaxBlockCodeBytes = 216;
constexpr uint64_t kMaxBlockBytes = 2 * kMaxBlockCodeBytes;
// SOI 2, APP0 18, DQT 2 x 69, SOF0 19, DHT 4 + 2 x (17 + 12) + 2 x (17 + 162),
// DRI 6, SOS 14, EOI 2: 627. Rounded up.
constexpr uint64_t kMaxHeaderBytes = 640;
// Each band of MCU rows is a restart interval, coded on its own: its RST
// marker (2 bytes) and its last bits padded to a byte (1, maybe stuffed: 2).
constexpr uint64_t kBandOverhead = 2 + 2;
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

// Big-endian bit packing into a scratch buffer, without byte stuffing
// (stuff() adds it while the bands are put together). After each code the
// pending bits are stored whole, 8 bytes from the next byte to write, and
// the pointer moves past the complete ones: no branch at all, where a branch
// on whether a word is full is one no predictor guesses. The stores reach
// up to 8 bytes past the last byte.
class BitWriter {
 public:
  explicit BitWriter(uint8_t* out) : o_(out) {}
  // `bits` holds exactly `count` (1 to 32) significant bits.
  void put(uint32_t bits, int count) {
    acc_ = acc_ << count | bits;  // bits above the n_ pending ones are stale and never written
    n_ += count;                  // n_ is at most 7 before
    const uint64_t aligned = acc_ << (64 - n_);
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const uint64_t bigEndian = __builtin_bswap64(aligned);
    std::memcpy(o_, &bigEndian, 8);
#else
    for (int i = 0; i < 8; ++i) o_[i] = uint8_t(aligned >> (56 - 8 * i));
#endif
    o_ += n_ >> 3;
    n_ &= 7;
  }
  // Pads the last byte with ones, as T.81 F.1.2.3 asks.
  uint8_t* finish() {
    if (n_) put((1u << (8 - n_)) - 1, 8 - n_);
    return o_;
  }

 private:
  uint8_t* o_;
  uint64_t acc_ = 0;
  int n_ = 0;
};

// Copies entropy-coded bytes to `o` with a zero after each 0xFF, so that no
// byte pair reads as a marker; returns the end.
uint8_t* stuff(const uint8_t* p, const uint8_t* end, uint8_t* o) {
  while (p < end) {
    const void* ff = std::memchr(p, 0xFF, size_t(end - p));
    const uint8_t* stop = ff ? static_cast<const uint8_t*>(ff) + 1 : end;
    std::memcpy(o, p, size_t(stop - p));
    o += stop - p;
    p = stop;
    if (ff) *o++ = 0;
  }
  return o;
}

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

// A symbol of the entropy-coded data as pass 1 leaves it for pass 2: which
// Huffman code (its table x 256 + its value; tables DC luma, AC luma, DC
// chroma, AC chroma) above the 16 bits of value that follow the code, not
// yet cut to their size (negatives as one's complement, as JPEG codes them).
// The size is the value's low four bits, so pass 2's table of codes knows it
// and cuts the bits: pass 2 only looks up codes and packs bits.
using Symbol = uint32_t;
inline Symbol makeSymbol(int code, int value) {
  return uint32_t(code) << 16 | uint16_t(value + (value >> 31));  // value - 1 when negative, without a branch
}
// At most one DC, 63 AC, three ZRL (62 zeros at most) and an EOB.
constexpr size_t kMaxSymbolsPerBlock = 68;

// Symbol counts for the per-frame Huffman tables, by code index (as in a
// Symbol: table x 256 + value), so that a symbol counts itself.
struct Counts {
  uint32_t of[4 * 256] = {};
};

// Each coefficient value's size and bits as a Symbol holds them (size << 16
// | bits), by value + 1023: one look-up instead of an absolute value, a bit
// count and the one's complement.
struct ValueCodes {
  uint32_t of[2047];
  ValueCodes() {
    for (int v = -1023; v <= 1023; ++v) of[v + 1023] = makeSymbol(bitLength(v), v);
  }
};
const ValueCodes kValueCodes;

// Counts the symbols of one block and appends them at `out`, in coding
// order: the DC difference, then each non-zero AC coefficient with the zero
// run before it (ZRL for every sixteen zeros), then EOB unless the last
// coefficient was non-zero. `dcTable` is 0 for luma, 2 for chroma; AC's
// table follows DC's. Pass 2 writes exactly these symbols, so the tables
// always fit what is written.
inline void symbolize(const QBlock& b, int& lastDc, int dcTable, Counts& c, Symbol*& out) {
  Symbol* o = out;
  const int diff = b.coef[0] - lastDc;
  lastDc = b.coef[0];
  const Symbol dc = makeSymbol(dcTable * 256 + bitLength(diff), diff);
  ++c.of[dc >> 16];
  *o++ = dc;
  const Symbol ac = makeSymbol((dcTable + 1) * 256, 0);  // AC's table, run and size 0
  uint64_t nz = b.nonzero;
  int prev = 0;
  while (nz) {
    const int k = countTrailingZeros(nz);
    nz &= nz - 1;
    int run = k - prev - 1;
    prev = k;
    for (; run > 15; run -= 16) {  // ZRL: sixteen zeros
      ++c.of[(ac >> 16) + 0xF0];
      *o++ = ac + (0xF0u << 16);
    }
    // The symbol (run << 4 | size) added into the code index above the bits.
    const Symbol symbol = ac + (unsigned(run) << 20) + kValueCodes.of[b.coef[k] + 1023];
    ++c.of[symbol >> 16];
    *o++ = symbol;
  }
  if (prev < 63) {  // EOB
    ++c.of[ac >> 16];
    *o++ = ac;
  }
  out = o;
}

// The four tables' codes by symbol index, each ready to take the bits of
// value after it: the code shifted past them, the mask that cuts them to
// their size and the length of both.
struct Code {
  uint32_t shifted;
  uint16_t mask;
  uint8_t length;
};
struct Codes {
  Code of[4 * 256];
};

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
  // Room for a band's codes before stuffing, the bit writer's last stores
  // past them included.
  size_t codeRoom() const { return blocksPerBand() * kMaxBlockCodeBytes + 16; }
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
  const Kernels& kernels;
  Quantizer luma, chroma;
  Symbol* symbols;  // room for every band's worst case, one after another
  // Where band `b`'s symbols start.
  Symbol* bandSymbols(int b) const {
    return symbols + bands.blocksPerBand() * kMaxSymbolsPerBlock * size_t(b);
  }
};

// A 4:4:4 MCU: one block each of luma, Cb and Cr, edge pixels repeated.
// Only quality 100 codes these; each pixel is its own mean of four.
void convert444(const PixelRows& src, int mx, int my, int16_t y[kBlock], int16_t cb[kBlock],
                int16_t cr[kBlock]) {
  for (int r = 0; r < 8; ++r) {
    const uint8_t* row = src.row(my + r < src.height ? my + r : src.height - 1);
    for (int c = 0; c < 8; ++c) {
      const uint8_t* p = row + 4 * (mx + c < src.width ? mx + c : src.width - 1);
      y[r * 8 + c] = lumaOf(p[0], p[1], p[2]);
      cb[r * 8 + c] = blueDiffOf(4 * p[0], 4 * p[1], 4 * p[2]);
      cr[r * 8 + c] = redDiffOf(4 * p[0], 4 * p[1], 4 * p[2]);
    }
  }
}

// The 16 rows of pixels of the 4:2:0 MCU at (mx, my); past the right or
// bottom edge, the edge pixels repeat (in `tile`).
void mcuRows(const PixelRows& src, int mx, int my, uint8_t tile[16 * 64], const uint8_t* rows[16]) {
  const bool inside = mx + 16 <= src.width;
  for (int r = 0; r < 16; ++r) {
    const uint8_t* p = src.row(my + r < src.height ? my + r : src.height - 1) + 4 * mx;
    if (!inside) {
      uint8_t* t = tile + 64 * r;
      for (int c = 0; c < 16; ++c)
        std::memcpy(t + 4 * c, p + 4 * (mx + c < src.width ? c : src.width - 1 - mx), 4);
      p = t;
    }
    rows[r] = p;
  }
}

// Pass 1 over one band: transform and quantise every block, in coding
// order, and count the symbols for the Huffman tables. The DC predictions
// start from zero, as after every restart marker.
Symbol* quantizeBand(const Frame& f, int band, Counts& counts) {
  const PixelRows& src = f.src;
  const int mcu = f.bands.mcu;
  const Kernels& k = f.kernels;
  int lastY = 0, lastCb = 0, lastCr = 0;
  Symbol* out = f.bandSymbols(band);
  QBlock qb;
  alignas(16) int16_t yb[4][kBlock];
  alignas(16) int16_t cbb[kBlock], crb[kBlock];
  alignas(16) uint8_t tile[16 * 64];
  const int top = band * f.bands.rowsPerBand * mcu;
  const int bottom =
      top + f.bands.rowsPerBand * mcu < src.height ? top + f.bands.rowsPerBand * mcu : src.height;
  for (int my = top; my < bottom; my += mcu) {
    for (int mx = 0; mx < src.width; mx += mcu) {
      if (f.full) {
        convert444(src, mx, my, yb[0], cbb, crb);
        k.quantize(yb[0], f.luma, qb);
        symbolize(qb, lastY, 0, counts, out);
        k.quantize(cbb, f.chroma, qb);
        symbolize(qb, lastCb, 2, counts, out);
        k.quantize(crb, f.chroma, qb);
        symbolize(qb, lastCr, 2, counts, out);
        continue;
      }
      const uint8_t* rows[16];
      mcuRows(src, mx, my, tile, rows);
      k.convert420(rows, yb, cbb, crb);
      for (int i = 0; i < 4; ++i) {
        k.quantize(yb[i], f.luma, qb);
        symbolize(qb, lastY, 0, counts, out);
      }
      k.quantize(cbb, f.chroma, qb);
      symbolize(qb, lastCb, 2, counts, out);
      k.quantize(crb, f.chroma, qb);
      symbolize(qb, lastCr, 2, counts, out);
    }
  }
  return out;
}

// Pass 2 over one band: its symbols coded into `o`; returns the end.
uint8_t* emitBand(const Symbol* begin, const Symbol* end, const Codes& codes, uint8_t* o) {
  BitWriter bw(o);
  for (const Symbol* s = begin; s != end; ++s) {
    const Code& code = codes.of[*s >> 16];
    bw.put(code.shifted | (*s & code.mask), code.length);
  }
  return bw.finish();
}

}  // namespace

bool fastestIsSse2() { return processorHasSse2() && sse2Kernels() != nullptr; }

size_t compress(const PixelRows& src, CodecQ quality, uint8_t* out, Path path) {
  // Chosen once: the processor does not change.
  static const Kernels& fastest = fastestIsSse2() ? *sse2Kernels() : kPortableKernels;
  const bool full = fullChroma(quality);
  const int jq = jpegQuality(quality);
  // One table serves luma and chroma alike; the file carries it for each.
  uint8_t quant[kBlock];
  scaleQuant(kQuant, jq, quant);
  fitQuant(quant);
  const Quantizer q = makeQuantizer(quant);
  const Kernels& kernels = path == Path::portable ? kPortableKernels : fastest;
  Frame f{src, full, Bands(src.width, src.height, full), kernels, q, q, nullptr};
  const Bands& bands = f.bands;
  const uint64_t pixels = uint64_t(src.width) * uint64_t(src.height);

  // Kept between frames of a thread to spare an allocation per frame; the
  // bands fill their own parts of it, each room for its worst case (about
  // 13 MB at 1920 x 1080, of which a frame touches what it needs).
  static thread_local std::unique_ptr<Symbol[]> symbols;
  static thread_local size_t symbolRoom = 0;
  const size_t symbolCount = bands.blocksPerBand() * kMaxSymbolsPerBlock * size_t(bands.count);
  if (symbolRoom < symbolCount) {
    symbols.reset(new Symbol[symbolCount]);
    symbolRoom = symbolCount;
  }
  f.symbols = symbols.get();
  struct BandCounts {
    Counts counts;
    Symbol* end;
    size_t size;
  };
  // A reference, not the thread_local itself: the helper threads must reach
  // this thread's copy.
  static thread_local std::vector<BandCounts> bandState;
  std::vector<BandCounts>& perBand = bandState;
  perBand.assign(size_t(bands.count), BandCounts{});
  workers::run(bands.count, pixels, [&](int b) {
    BandCounts& c = perBand[size_t(b)];
    c.end = quantizeBand(f, b, c.counts);
  });

  // Huffman tables fitted to this frame: the bands' counts summed.
  Counts counts;
  for (const BandCounts& c : perBand)
    for (int i = 0; i < 4 * 256; ++i) counts.of[i] += c.counts.of[i];
  HuffDefinition huff[4];
  Codes codes;
  for (int i = 0; i < 4; ++i) {
    huff[i].count = optimalTable(counts.of + 256 * i, huff[i].bits, huff[i].values);
    const HuffTable t = buildTable(huff[i].bits, huff[i].values);
    for (int v = 0; v < 256; ++v) {
      const int size = v & 15;  // of the value after the code: a DC symbol is its size, AC's low bits
      codes.of[i * 256 + v] =
          Code{uint32_t(t.code[v]) << size, uint16_t((1u << size) - 1), uint8_t(t.size[v] + size)};
    }
  }
  uint8_t* o = writeHeaders(out, src.width, src.height, full, quant, quant, huff, bands.restartInterval());

  // Pass 2: each band codes into its own part of a scratch buffer; then
  // they follow one another into `out`, stuffed, a restart marker between
  // each two.
  static thread_local std::unique_ptr<uint8_t[]> codeBytes;
  static thread_local size_t codeByteRoom = 0;
  const size_t codeByteCount = bands.codeRoom() * size_t(bands.count);
  if (codeByteRoom < codeByteCount) {
    codeBytes.reset(new uint8_t[codeByteCount]);
    codeByteRoom = codeByteCount;
  }
  uint8_t* const scratch = codeBytes.get();
  const auto bandCode = [&](int b) { return scratch + bands.codeRoom() * size_t(b); };
  workers::run(bands.count, pixels, [&](int b) {
    BandCounts& c = perBand[size_t(b)];
    c.size = size_t(emitBand(f.bandSymbols(b), c.end, codes, bandCode(b)) - bandCode(b));
  });
  for (int b = 0; b < bands.count; ++b) {
    if (b > 0) o = marker(o, uint8_t(0xD0 + ((b - 1) & 7)));  // RSTn, n counting 0..7 round
    o = stuff(bandCode(b), bandCode(b) + perBand[size_t(b)].size, o);
  }
  o = marker(o, 0xD9);  // EOI
  return size_t(o - out);
}

}  // namespace qt::jpeg
