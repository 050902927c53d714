#include "PngCodec.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <vector>

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

// Per-thread deflate state and row buffers, reset per frame rather than
// rebuilt: deflateInit allocates a few hundred kilobytes.
struct Encoder {
  z_stream z{};
  int level = -1;
  std::vector<uint8_t> row;  // filter byte, then RGB
  ~Encoder() {
    if (level >= 0) deflateEnd(&z);
  }
  bool start(const Effort& effort, size_t rowSize) {
    if (level != effort.level) {
      if (level >= 0) deflateEnd(&z);
      level = -1;
      z = z_stream{};
      if (deflateInit(&z, effort.level) != Z_OK) return false;
      level = effort.level;
    } else if (deflateReset(&z) != Z_OK) {
      return false;
    }
    // deflateReset puts the level's own parameters back, so tune every frame.
    if (effort.chain != 0 && deflateTune(&z, effort.good, effort.lazy, effort.nice, effort.chain) != Z_OK)
      return false;
    row.resize(rowSize + 1);
    row[0] = kFilterNone;
    return true;
  }
};

Encoder& encoder() {
  thread_local Encoder e;
  return e;
}

void toRgb(const uint8_t* bgrx, int width, uint8_t* rgb) {
  for (int x = 0; x < width; ++x, bgrx += 4, rgb += 3) {
    rgb[0] = bgrx[2];
    rgb[1] = bgrx[1];
    rgb[2] = bgrx[0];
  }
}

}  // namespace

uint64_t maxSize(int width, int height, CodecQ quality) {
  const uint64_t raw = uint64_t(height) * (1 + uint64_t(width) * kBpp);  // filter byte + RGB per row
  // deflateBound for the level we will use; its formula for a stored-block
  // fallback holds for any input. The raw size may exceed uLong on 32-bit
  // builds only for frames far beyond 16-bit dimensions, which the caller refuses.
  z_stream z{};
  uint64_t bound;
  // Tuning changes how matches are searched, not this bound (stored blocks).
  if (deflateInit(&z, effortFor(quality).level) == Z_OK) {
    bound = deflateBound(&z, uLong(raw));
    deflateEnd(&z);
  } else {
    bound = compressBound(uLong(raw));
  }
  return sizeof kSignature + kChunkOverhead + kIhdrData  // IHDR
         + kChunkOverhead + bound                        // one IDAT
         + kChunkOverhead;                               // IEND
}

size_t compress(const PixelRows& src, CodecQ quality, uint8_t* out, size_t capacity) {
  const size_t headerSize = sizeof kSignature + kChunkOverhead + kIhdrData + 8;
  const size_t trailerSize = 4 + kChunkOverhead;  // IDAT CRC, IEND
  if (capacity < headerSize + trailerSize) return 0;
  const size_t n = size_t(src.width) * kBpp;
  Encoder& e = encoder();
  if (!e.start(effortFor(quality), n)) return 0;

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

  uint8_t* idat = o;
  e.z.next_out = idat + 8;
  e.z.avail_out = uInt(capacity - size_t(idat + 8 - out) - trailerSize);
  for (int y = 0; y < src.height; ++y) {
    toRgb(src.row(y), src.width, e.row.data() + 1);
    e.z.next_in = e.row.data();
    e.z.avail_in = uInt(n + 1);
    const bool last = y + 1 == src.height;
    const int status = deflate(&e.z, last ? Z_FINISH : Z_NO_FLUSH);
    if (status != (last ? Z_STREAM_END : Z_OK) || e.z.avail_in != 0) return 0;  // error or out of room
  }
  if (src.height == 0) return 0;
  o = closeChunk(idat, "IDAT", e.z.total_out);
  o = closeChunk(o, "IEND", 0);
  return size_t(o - out);
}

}  // namespace qt::png
