#include "PngCodec.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace qt::png {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kChunkOverhead = 12;  // length, type, CRC
constexpr size_t kIhdrData = 13;
constexpr int kBpp = 3;  // bytes per pixel, RGB

enum Filter : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

struct Effort {
  int level;
  bool adaptive;
};

Effort effortFor(CodecQ q) {
  if (q < codecNormalQuality) return {1, false};
  if (q < codecHighQuality) return {3, false};
  if (q < codecMaxQuality) return {4, true};
  return {6, true};
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
  std::vector<uint8_t> prev, cur, filtered[5];
  ~Encoder() {
    if (level >= 0) deflateEnd(&z);
  }
  bool start(int wantLevel, size_t rowSize) {
    if (level != wantLevel) {
      if (level >= 0) deflateEnd(&z);
      level = -1;
      z = z_stream{};
      if (deflateInit(&z, wantLevel) != Z_OK) return false;
      level = wantLevel;
    } else if (deflateReset(&z) != Z_OK) {
      return false;
    }
    prev.assign(rowSize, 0);
    cur.resize(rowSize);
    for (auto& f : filtered) f.resize(rowSize + 1);
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

inline uint8_t paeth(int a, int b, int c) {
  int p = a + b - c;
  int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return uint8_t(pb <= pc ? b : c);
}

void filterRow(Filter f, const uint8_t* cur, const uint8_t* prev, size_t n, uint8_t* out) {
  out[0] = f;
  uint8_t* o = out + 1;
  switch (f) {
    case kNone: std::memcpy(o, cur, n); break;
    case kSub:
      for (size_t i = 0; i < n; ++i) o[i] = uint8_t(cur[i] - (i >= kBpp ? cur[i - kBpp] : 0));
      break;
    case kUp:
      for (size_t i = 0; i < n; ++i) o[i] = uint8_t(cur[i] - prev[i]);
      break;
    case kAverage:
      for (size_t i = 0; i < n; ++i)
        o[i] = uint8_t(cur[i] - ((i >= kBpp ? cur[i - kBpp] : 0) + prev[i]) / 2);
      break;
    case kPaeth:
      for (size_t i = 0; i < n; ++i) {
        int a = i >= kBpp ? cur[i - kBpp] : 0, c = i >= kBpp ? prev[i - kBpp] : 0;
        o[i] = uint8_t(cur[i] - paeth(a, prev[i], c));
      }
      break;
  }
}

// The usual heuristic: the filter whose output, read as signed bytes, has
// the smallest sum of magnitudes.
const std::vector<uint8_t>& bestFilter(Encoder& e, size_t n) {
  static const Filter kTried[] = {kNone, kSub, kUp, kPaeth};
  const std::vector<uint8_t>* best = nullptr;
  uint64_t bestCost = UINT64_MAX;
  for (Filter f : kTried) {
    std::vector<uint8_t>& out = e.filtered[f];
    filterRow(f, e.cur.data(), e.prev.data(), n, out.data());
    uint64_t cost = 0;
    for (size_t i = 1; i <= n; ++i) cost += uint64_t(std::abs(int(int8_t(out[i]))));
    if (cost < bestCost) {
      bestCost = cost;
      best = &out;
    }
  }
  return *best;
}

}  // namespace

uint64_t maxSize(int width, int height, CodecQ quality) {
  const uint64_t raw = uint64_t(height) * (1 + uint64_t(width) * kBpp);  // filter byte + RGB per row
  // deflateBound for the level we will use; its formula for a stored-block
  // fallback holds for any input. The raw size may exceed uLong on 32-bit
  // builds only for frames far beyond 16-bit dimensions, which the caller refuses.
  z_stream z{};
  uint64_t bound;
  if (deflateInit(&z, effortFor(quality).level) == Z_OK) {
    bound = deflateBound(&z, uLong(raw));
    deflateEnd(&z);
  } else {
    bound = compressBound(uLong(raw));
  }
  return sizeof kSignature
         + kChunkOverhead + kIhdrData  // IHDR
         + kChunkOverhead + bound      // one IDAT
         + kChunkOverhead;             // IEND
}

size_t compress(const PixelRows& src, CodecQ quality, uint8_t* out, size_t capacity) {
  const size_t headerSize = sizeof kSignature + kChunkOverhead + kIhdrData + 8;
  const size_t trailerSize = 4 + kChunkOverhead;  // IDAT CRC, IEND
  if (capacity < headerSize + trailerSize) return 0;
  const Effort effort = effortFor(quality);
  const size_t n = size_t(src.width) * kBpp;
  Encoder& e = encoder();
  if (!e.start(effort.level, n)) return 0;

  uint8_t* o = out;
  std::memcpy(o, kSignature, sizeof kSignature);
  o += sizeof kSignature;
  uint8_t* d = o + 8;
  put32(d, uint32_t(src.width));   // width
  put32(d + 4, uint32_t(src.height));  // height
  d[8] = 8;                        // bit depth
  d[9] = 2;                        // colour type: RGB
  d[10] = 0;                       // compression: deflate
  d[11] = 0;                       // filter method: adaptive
  d[12] = 0;                       // interlace: none
  o = closeChunk(o, "IHDR", kIhdrData);

  uint8_t* idat = o;
  e.z.next_out = idat + 8;
  e.z.avail_out = uInt(capacity - size_t(idat + 8 - out) - trailerSize);
  for (int y = 0; y < src.height; ++y) {
    toRgb(src.row(y), src.width, e.cur.data());
    const std::vector<uint8_t>* row;
    if (effort.adaptive) {
      row = &bestFilter(e, n);
    } else {
      filterRow(kUp, e.cur.data(), e.prev.data(), n, e.filtered[kUp].data());
      row = &e.filtered[kUp];
    }
    e.z.next_in = const_cast<uint8_t*>(row->data());
    e.z.avail_in = uInt(n + 1);
    const bool last = y + 1 == src.height;
    const int status = deflate(&e.z, last ? Z_FINISH : Z_NO_FLUSH);
    if (status != (last ? Z_STREAM_END : Z_OK) || e.z.avail_in != 0) return 0;  // error or out of room
    e.cur.swap(e.prev);
  }
  if (src.height == 0) return 0;
  o = closeChunk(idat, "IDAT", e.z.total_out);
  o = closeChunk(o, "IEND", 0);
  return size_t(o - out);
}

}  // namespace qt::png
