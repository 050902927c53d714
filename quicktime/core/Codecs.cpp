#include "Codecs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "AnimationCodec.h"
#include "H264Codec.h"
#include "Handles.h"
#include "JpegCodec.h"
#include "PngCodec.h"
#include "RawCodec.h"

namespace qt {
namespace {

constexpr OSType kVendor = fourCC("SKLB");
constexpr int kMaxDimension = 32767;  // image description sizes are 16-bit
constexpr int16_t kDepth = 24;        // every codec writes 24-bit colour

struct CodecEntry {
  CodecType type;
  const char* name;
  uint64_t (*maxSize)(int width, int height, CodecQ quality);
  size_t (*compress)(const PixelRows& src, CodecQ quality, uint8_t* out, size_t capacity);
};

const CodecEntry kCodecs[] = {
    {kAnimationCodecType, "Animation", [](int w, int h, CodecQ) { return animation::maxSize(w, h); },
     [](const PixelRows& s, CodecQ, uint8_t* o, size_t) { return animation::compress(s, o); }},
    {kRawCodecType, "None", [](int w, int h, CodecQ) { return raw::maxSize(w, h); },
     [](const PixelRows& s, CodecQ, uint8_t* o, size_t) { return raw::compress(s, o); }},
    {kJPEGCodecType, "Photo - JPEG", [](int w, int h, CodecQ q) { return jpeg::maxSize(w, h, q); },
     [](const PixelRows& s, CodecQ q, uint8_t* o, size_t) { return jpeg::compress(s, q, o); }},
    {kPNGCodecType, "PNG", [](int w, int h, CodecQ q) { return png::maxSize(w, h, q); },
     [](const PixelRows& s, CodecQ q, uint8_t* o, size_t c) { return png::compress(s, q, o, c); }},
};

// H.264 is not a function of one frame (H264Codec.h): it is listed, sized
// and described here, and compressed by an encoder object.
constexpr const char* kH264Name = "H.264";

const CodecEntry* findCodec(CodecType type) {
  for (const CodecEntry& c : kCodecs)
    if (c.type == type) return &c;
  return nullptr;
}

const char* codecName(CodecType type) {
  if (const CodecEntry* c = findCodec(type)) return c->name;
  return type == kH264CodecType ? kH264Name : nullptr;
}

// One key frame of H.264 from an encoder of its own: what CompressImage
// makes of H.264. The description's extension gets the `avcC` atom.
size_t compressH264Key(const PixelRows& src, CodecQ quality, uint8_t* out, size_t capacity,
                       std::vector<uint8_t>* avcC) {
  OSErr err = noErr;
  std::unique_ptr<h264::Encoder> e = h264::Encoder::create(src.width, src.height, quality, &err);
  if (!e) return 0;
  size_t written = 0;
  bool key = false;
  if (e->encode(src, true, 0, out, capacity, &written, &key) != noErr || !key) return 0;
  if (avcC) *avcC = e->avcCAtom();
  return written;
}

void setPascal(unsigned char* dst, const char* s) {
  size_t n = std::strlen(s);
  dst[0] = uint8_t(n);
  std::memcpy(dst + 1, s, n);
}

}  // namespace

OSErr detail::sourceRows(PixMapHandle src, const Rect* r, PixelRows* rows) {
  if (OSErr err = CheckHandle(reinterpret_cast<Handle>(src))) return err;
  if (GetHandleSize(reinterpret_cast<Handle>(src)) < int32_t(sizeof(PixMap))) return paramErr;
  if (!r) return paramErr;
  const PixMap& pm = **src;
  if (!pm.baseAddr || pm.pixelSize != 32) return paramErr;
  if (pm.pixelFormat != 0 && pm.pixelFormat != k32BGRAPixelFormat) return paramErr;
  const int width = int(r->right) - int(r->left);
  const int height = int(r->bottom) - int(r->top);
  if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension) return paramErr;
  if (r->left < pm.bounds.left || r->top < pm.bounds.top || r->right > pm.bounds.right ||
      r->bottom > pm.bounds.bottom)
    return paramErr;
  const ptrdiff_t stride = pm.rowStride ? pm.rowStride : (pm.rowBytes & kRowBytesMask);
  const ptrdiff_t mapWidth = ptrdiff_t(pm.bounds.right) - pm.bounds.left;
  if (stride < mapWidth * 4) return paramErr;
  rows->base = reinterpret_cast<const uint8_t*>(pm.baseAddr) + (r->top - pm.bounds.top) * stride +
               (r->left - pm.bounds.left) * 4;
  rows->stride = stride;
  rows->width = width;
  rows->height = height;
  return noErr;
}

namespace {

OSErr checkQuality(CodecQ quality) { return quality > codecLosslessQuality ? paramErr : noErr; }

void fillDescription(ImageDescription* d, CodecType type, CodecQ quality, int width, int height,
                     size_t dataSize, size_t extensionSize) {
  std::memset(d, 0, sizeof *d);
  d->idSize = int32_t(sizeof(ImageDescription) + extensionSize);
  d->cType = type;
  d->vendor = kVendor;
  d->spatialQuality = quality;
  d->width = int16_t(width);
  d->height = int16_t(height);
  d->hRes = 72 << 16;
  d->vRes = 72 << 16;
  d->dataSize = int32_t(dataSize);
  d->frameCount = 1;
  setPascal(d->name, codecName(type));
  d->depth = kDepth;
  d->clutID = -1;
}

}  // namespace

OSErr detail::describe(ImageDescriptionHandle desc, CodecType cType, CodecQ quality, int width, int height,
                       size_t dataSize, const std::vector<uint8_t>& extension) {
  Handle h = reinterpret_cast<Handle>(desc);
  if (OSErr err = CheckHandle(h)) return err;
  if (!codecName(cType) || extension.size() > size_t(INT32_MAX) - sizeof(ImageDescription)) return paramErr;
  const int32_t size = int32_t(sizeof(ImageDescription) + extension.size());
  if (GetHandleSize(h) != size) {
    if (OSErr err = SetHandleSize(h, size)) return err;
  }
  fillDescription(*desc, cType, quality, width, height, dataSize, extension.size());
  if (!extension.empty()) std::memcpy(*h + sizeof(ImageDescription), extension.data(), extension.size());
  return noErr;
}

bool isKnownCodec(CodecType cType) {
  return findCodec(cType) != nullptr || (cType == kH264CodecType && h264::available());
}

bool isTemporalCodec(CodecType cType) { return cType == kH264CodecType; }

uint64_t maxCompressedSize(CodecType cType, int width, int height, CodecQ quality) {
  if (cType == kH264CodecType) return h264::available() ? h264::maxSize(width, height) : 0;
  const CodecEntry* c = findCodec(cType);
  return c ? c->maxSize(width, height, quality) : 0;
}

size_t compressRows(CodecType cType, const PixelRows& src, CodecQ quality, uint8_t* out, size_t capacity) {
  if (cType == kH264CodecType) {
    if (!h264::available() || capacity < h264::maxSize(src.width, src.height)) return 0;
    return compressH264Key(src, quality, out, capacity, nullptr);
  }
  const CodecEntry* c = findCodec(cType);
  if (!c) return 0;
  const uint64_t bound = c->maxSize(src.width, src.height, quality);
  if (capacity < bound) return 0;
  size_t written = 0;
  try {
    written = c->compress(src, quality, out, capacity);
  } catch (const std::bad_alloc&) {
    return 0;  // a codec's scratch memory could not be had: the frame fails, not the process
  }
  // The worst case is a promise the caller sized its buffer by: breaking it
  // means memory past the buffer was written, so stop here in every build.
  if (written > bound) {
    std::fprintf(stderr, "codec '%.4s' wrote %zu bytes, bound %llu\n", c->name, written,
                 static_cast<unsigned long long>(bound));
    std::abort();
  }
  return written;
}

OSErr GetCodecNameList(CodecNameSpecListPtr* list, int16_t showAll) {
  (void)showAll;
  if (!list) return paramErr;
  constexpr size_t kSpatial = sizeof kCodecs / sizeof kCodecs[0];
  const size_t kCount = kSpatial + (h264::available() ? 1 : 0);
  const size_t bytes = offsetof(CodecNameSpecList, list) + kCount * sizeof(CodecNameSpec);
  char* block = new (std::nothrow) char[bytes]();
  if (!block) {
    *list = nullptr;
    return memFullErr;
  }
  CodecNameSpecListPtr l = reinterpret_cast<CodecNameSpecListPtr>(block);
  l->count = int16_t(kCount);
  for (size_t i = 0; i < kCount; ++i) {
    CodecNameSpec* e = reinterpret_cast<CodecNameSpec*>(block + offsetof(CodecNameSpecList, list) +
                                                        i * sizeof(CodecNameSpec));
    e->codec = nullptr;
    e->cType = i < kSpatial ? kCodecs[i].type : kH264CodecType;
    setPascal(e->typeName, codecName(e->cType));
    e->name = nullptr;
  }
  *list = l;
  return noErr;
}

OSErr DisposeCodecNameList(CodecNameSpecListPtr list) {
  if (!list) return paramErr;
  delete[] reinterpret_cast<char*>(list);
  return noErr;
}

OSErr GetMaxCompressionSize(PixMapHandle src, const Rect* srcRect, int16_t colorDepth, CodecQ quality,
                            CodecType cType, CodecComponent codec, int32_t* size) {
  (void)codec;  // any codec of the type: there is one of each
  if (!size) return paramErr;
  *size = 0;
  PixelRows rows;
  if (OSErr err = detail::sourceRows(src, srcRect, &rows)) return err;
  if (colorDepth != 0 && colorDepth != kDepth) return paramErr;
  if (OSErr err = checkQuality(quality)) return err;
  if (!isKnownCodec(cType)) return noCodecErr;
  const uint64_t bound = maxCompressedSize(cType, rows.width, rows.height, quality);
  if (bound > uint64_t(INT32_MAX)) return codecSizeErr;
  *size = int32_t(bound);
  return noErr;
}

OSErr CompressImage(PixMapHandle src, const Rect* srcRect, CodecQ quality, CodecType cType,
                    ImageDescriptionHandle desc, Ptr data) {
  PixelRows rows;
  if (OSErr err = detail::sourceRows(src, srcRect, &rows)) return err;
  if (OSErr err = checkQuality(quality)) return err;
  if (!isKnownCodec(cType)) return noCodecErr;
  Handle descHandle = reinterpret_cast<Handle>(desc);
  if (OSErr err = CheckHandle(descHandle)) return err;
  if (!data) return paramErr;
  const uint64_t bound = maxCompressedSize(cType, rows.width, rows.height, quality);
  if (bound > uint64_t(INT32_MAX)) return codecSizeErr;
  int32_t capacity = 0;
  if (FindBlockSize(data, &capacity) && uint64_t(capacity) < bound) return paramErr;
  std::vector<uint8_t> extension;
  if (cType == kH264CodecType) {
    const size_t written =
        compressH264Key(rows, quality, reinterpret_cast<uint8_t*>(data), size_t(bound), &extension);
    if (written == 0) return codecErr;
    return detail::describe(desc, cType, quality, h264::codedSize(rows.width), h264::codedSize(rows.height),
                            written, extension);
  }
  // The description is made ready first, so that a handle that cannot
  // grow fails the call before the frame is compressed.
  if (GetHandleSize(descHandle) < int32_t(sizeof(ImageDescription))) {
    if (OSErr err = SetHandleSize(descHandle, sizeof(ImageDescription))) return err;
  }
  const size_t written = compressRows(cType, rows, quality, reinterpret_cast<uint8_t*>(data), size_t(bound));
  if (written == 0) return codecErr;
  fillDescription(*desc, cType, quality, rows.width, rows.height, written, 0);
  return noErr;
}

}  // namespace qt
