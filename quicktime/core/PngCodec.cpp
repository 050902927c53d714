#include "PngCodec.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <vector>

#include "RawCodec.h"
#include "Workers.h"

namespace qt::png {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kChunkOverhead = 12;  // length, type, CRC
constexpr size_t kIhdrData = 13;
constexpr int kBpp = 3;  // bytes per pixel, RGB

constexpr uint8_t kFilterNone = 0;

// zlib effort for a quality. From high up we keep level 6's lazy matcher but
// follow shorter hash chains: window captures are full of long exact repeats
// (rows, glyphs, panels) that a short chain already finds, and stopping at a
// 258-byte match instead of 128 keeps the output as small as plain level 6.
// On the bench fixtures the top setting runs at about 1.2 times level 6's
// speed with 0.2-0.7% less output; high's chain of 8 is a little faster
// still, and both beat plain level 5 on speed and size.
struct Effort {
  int level;
  int good, lazy, nice, chain;  // deflateTune; chain 0 keeps the level's own
};

Effort effortFor(CodecQ q) {
  if (q < codecNormalQuality) return {1, 0, 0, 0, 0};
  if (q < codecHighQuality) return {3, 0, 0, 0, 0};
  if (q < codecMaxQuality) return {6, 4, 16, 258, 8};
  return {6, 8, 64, 258, 16};
}

void put32(uint8_t* o, uint32_t v) {
  o[0] = uint8_t(v >> 24);
  o[1] = uint8_t(v >> 16);
  o[2] = uint8_t(v >> 8);
  o[3] = uint8_t(v);
}

// Writes a chunk whose data is already at o + 8; returns the end.
uint8_t* closeChunk(uint8_t* o, const char type[4], size_t dataSize) {
  put32(o, uint32_t(dataSize));
  std::memcpy(o + 4, type, 4);
  uLong crc = crc32(0, o + 4, uInt(4 + dataSize));
  put32(o + 8 + dataSize, uint32_t(crc));
  return o + 8 + dataSize + 4;
}

// Rows are deflated in bands of about this many bytes, each band on its own
// as pigz does: a raw deflate stream primed with the previous band's last
// 32 KiB (deflate's window) and ended with a sync flush, so the bands'
// streams join into one. Bands are fixed by the frame size; the bytes never
// depend on how many threads ran them. Smaller bands spread better over the
// processors; each one costs its dictionary's hashing and an end of block.
constexpr uint64_t kBandBytes = 512 * 1024;
constexpr size_t kWindow = 32768;
constexpr int kRawDeflate = -15;  // windowBits: no zlib wrapper, 32 KiB window
constexpr int kMemLevel = 8;
constexpr size_t kZlibHeader = 2;
constexpr size_t kAdler = 4;
// The sync flush ending a band: an empty stored block (3 bits, padding to a
// byte, 4 bytes of lengths).
constexpr uint64_t kSyncFlush = 6;

struct Bands : workers::RowBands {
  size_t rowSize;  // filter byte and RGB
  Bands(int width, int height)
      : RowBands(1 + uint64_t(width) * kBpp, height, kBandBytes), rowSize(1 + size_t(width) * kBpp) {}
  uint64_t bytes(int b) const { return uint64_t(end(b) - first(b)) * rowSize; }
};

// The most one band's raw deflate can take, stored blocks included. A frame
// asks for two sizes (a full band and the last) several times over, and
// each answer costs a deflateInit, so the last few are kept.
uint64_t bandBound(int level, uint64_t bytes) {
  struct Known {
    int level = -1;
    uint64_t bytes = 0, bound = 0;
  };
  thread_local Known known[4];
  thread_local unsigned nextSlot = 0;
  for (const Known& k : known)
    if (k.level == level && k.bytes == bytes) return k.bound;
  z_stream z{};
  uint64_t bound;
  if (deflateInit2(&z, level, Z_DEFLATED, kRawDeflate, kMemLevel, Z_DEFAULT_STRATEGY) == Z_OK) {
    bound = deflateBound(&z, uLong(bytes));
    deflateEnd(&z);
  } else {
    bound = compressBound(uLong(bytes));
  }
  bound += kSyncFlush;
  known[nextSlot++ % 4] = Known{level, bytes, bound};
  return bound;
}

// Per-thread deflate state and row buffers, reset per band rather than
// rebuilt: deflateInit allocates a few hundred kilobytes.
struct Encoder {
  z_stream z{};
  int level = -1;
  std::vector<uint8_t> row;         // filter byte, then RGB
  std::vector<uint8_t> dictionary;  // the rows before a band, as deflated
  ~Encoder() {
    if (level >= 0) deflateEnd(&z);
  }
  bool start(const Effort& effort, size_t rowSize) {
    if (level != effort.level) {
      if (level >= 0) deflateEnd(&z);
      level = -1;
      z = z_stream{};
      if (deflateInit2(&z, effort.level, Z_DEFLATED, kRawDeflate, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
      level = effort.level;
    } else if (deflateReset(&z) != Z_OK) {
      return false;
    }
    // deflateReset puts the level's own parameters back, so tune every band.
    if (effort.chain != 0 && deflateTune(&z, effort.good, effort.lazy, effort.nice, effort.chain) != Z_OK)
      return false;
    row.resize(rowSize);
    row[0] = kFilterNone;
    return true;
  }
};

Encoder& encoder() {
  thread_local Encoder e;
  return e;
}

// zlib's two header bytes: deflate with a 32 KiB window, no dictionary, and
// the level hint zlib itself writes.
void zlibHeader(uint8_t* o, int level) {
  const unsigned levelFlags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  unsigned header = (0x78u << 8) | (levelFlags << 6);
  header += 31 - header % 31;
  o[0] = uint8_t(header >> 8);
  o[1] = uint8_t(header);
}

// One band's deflated bytes, written at the place its worst case would take.
struct BandOut {
  uint8_t* start = nullptr;
  uint64_t capacity = 0;
  size_t size = 0;
  uLong adler = 0;
  bool ok = false;
};

// Deflates band b's rows into band.start; the rows before it (up to the
// window's size) prime the dictionary.
void deflateBand(const PixelRows& src, const Effort& effort, const Bands& bands, int b, BandOut& band) {
  Encoder& e = encoder();
  if (!e.start(effort, bands.rowSize)) return;
  const int first = bands.first(b), end = bands.end(b);
  if (first > 0) {
    const int rows = int((kWindow + bands.rowSize - 1) / bands.rowSize);
    const int from = first > rows ? first - rows : 0;
    e.dictionary.resize(size_t(first - from) * bands.rowSize);
    for (int y = from; y < first; ++y) {
      uint8_t* r = e.dictionary.data() + size_t(y - from) * bands.rowSize;
      r[0] = kFilterNone;
      raw::toRgb(src.row(y), src.width, r + 1);
    }
    const size_t n = e.dictionary.size() < kWindow ? e.dictionary.size() : kWindow;
    if (deflateSetDictionary(&e.z, e.dictionary.data() + e.dictionary.size() - n, uInt(n)) != Z_OK) return;
  }
  e.z.next_out = band.start;
  e.z.avail_out = uInt(band.capacity);
  uLong adler = adler32(0, nullptr, 0);
  const bool lastBand = end == src.height;
  for (int y = first; y < end; ++y) {
    raw::toRgb(src.row(y), src.width, e.row.data() + 1);
    adler = adler32(adler, e.row.data(), uInt(bands.rowSize));
    e.z.next_in = e.row.data();
    e.z.avail_in = uInt(bands.rowSize);
    const int flush = y + 1 < end ? Z_NO_FLUSH : lastBand ? Z_FINISH : Z_SYNC_FLUSH;
    const int status = deflate(&e.z, flush);
    if (status != (flush == Z_FINISH ? Z_STREAM_END : Z_OK) || e.z.avail_in != 0) return;  // error or no room
    if (flush == Z_SYNC_FLUSH && e.z.avail_out == 0) return;  // the flush may be incomplete
  }
  band.size = size_t(e.z.total_out);
  band.adler = adler;
  band.ok = true;
}

}  // namespace

uint64_t maxSize(int width, int height, CodecQ quality) {
  // The raw size may exceed uLong on 32-bit builds only for frames far
  // beyond 16-bit dimensions, which the caller refuses.
  const Bands bands(width, height);
  const int level = effortFor(quality).level;
  uint64_t deflated = 0;
  for (int b = 0; b < bands.count; ++b) deflated += bandBound(level, bands.bytes(b));
  return sizeof kSignature + kChunkOverhead + kIhdrData      // IHDR
         + kChunkOverhead + kZlibHeader + deflated + kAdler  // one IDAT
         + kChunkOverhead;                                   // IEND
}

size_t compress(const PixelRows& src, CodecQ quality, uint8_t* out, size_t capacity) {
  if (src.height < 1 || capacity < maxSize(src.width, src.height, quality)) return 0;
  const Effort effort = effortFor(quality);
  const Bands bands(src.width, src.height);

  uint8_t* o = out;
  std::memcpy(o, kSignature, sizeof kSignature);
  o += sizeof kSignature;
  uint8_t* d = o + 8;
  put32(d, uint32_t(src.width));       // width
  put32(d + 4, uint32_t(src.height));  // height
  d[8] = 8;                            // bit depth
  d[9] = 2;                            // colour type: RGB
  d[10] = 0;                           // compression: deflate
  d[11] = 0;                           // filter method 0 (each row says None)
  d[12] = 0;                           // interlace: none
  o = closeChunk(o, "IHDR", kIhdrData);

  // Each band deflates at the place its worst case would take in `out`, so
  // bands never overlap; then they move down to follow one another.
  uint8_t* idat = o;
  uint8_t* const stream = idat + 8;
  zlibHeader(stream, effort.level);
  std::vector<BandOut> results(size_t(bands.count));
  uint8_t* at = stream + kZlibHeader;
  for (int b = 0; b < bands.count; ++b) {
    results[size_t(b)].start = at;
    results[size_t(b)].capacity = bandBound(effort.level, bands.bytes(b));
    at += results[size_t(b)].capacity;
  }
  workers::run(bands.count, uint64_t(src.width) * uint64_t(src.height),
               [&](int b) { deflateBand(src, effort, bands, b, results[size_t(b)]); });

  uint8_t* e = stream + kZlibHeader;
  uLong adler = adler32(0, nullptr, 0);
  for (int b = 0; b < bands.count; ++b) {
    const BandOut& band = results[size_t(b)];
    if (!band.ok) return 0;
    std::memmove(e, band.start, band.size);
    e += band.size;
    adler = adler32_combine(adler, band.adler, z_off_t(bands.bytes(b)));
  }
  put32(e, uint32_t(adler));
  e += kAdler;
  o = closeChunk(idat, "IDAT", size_t(e - stream));
  o = closeChunk(o, "IEND", 0);
  return size_t(o - out);
}

}  // namespace qt::png
