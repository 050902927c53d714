// The image compression calls: the codec list, the worst-case size of a
// frame, and compressing a frame from a pixel map into a caller's buffer.
//
// Each codec is a small module (AnimationCodec, RawCodec, JpegCodec,
// PngCodec) with the same contract: worst-case size, compress, name and
// type. This file holds the one table of them and checks every argument.
#pragma once

#include <cstdint>
#include <vector>

#include "PixelRows.h"
#include "QuickTimeTypes.h"

namespace qt {

// The codecs, in this order: Animation, None, Photo - JPEG, PNG, then
// H.264 when OpenH264 loads. The list is one block from new[]; `showAll`
// changes nothing (every codec we have is shown).
OSErr GetCodecNameList(CodecNameSpecListPtr* list, int16_t showAll);
OSErr DisposeCodecNameList(CodecNameSpecListPtr list);

// The worst-case compressed size of a frame of srcRect's size. `src` must be
// a live handle of ours holding a 32-bit pixel map, `srcRect` inside its
// bounds, 1..32767 pixels each way; depth 0 (the codec's choice) or 24.
// paramErr for a bad rectangle, depth or quality (above lossless), noCodecErr
// for an unknown codec.
OSErr GetMaxCompressionSize(PixMapHandle src, const Rect* srcRect, int16_t colorDepth, CodecQ quality,
                            CodecType cType, CodecComponent codec, int32_t* size);

// Compresses srcRect of the pixel map into `data` and fills the image
// description, growing its handle to 86 bytes (and, for H.264, the `avcC`
// atom after them: the frame is a key frame of its own). `data` must hold the
// worst-case size; when it is the start of one of our handles, its size is
// checked against that (paramErr if too small).
OSErr CompressImage(PixMapHandle src, const Rect* srcRect, CodecQ quality, CodecType cType,
                    ImageDescriptionHandle desc, Ptr data);

// The codec-level entry both of the above use, for tests, the benchmark and
// the fuzzer: pixels already as rows. Returns the bytes written, 0 when the
// codec failed (the buffer must hold maxCompressedSize bytes).
uint64_t maxCompressedSize(CodecType cType, int width, int height, CodecQ quality);
size_t compressRows(CodecType cType, const PixelRows& src, CodecQ quality, uint8_t* out, size_t capacity);
bool isKnownCodec(CodecType cType);
// Whether the codec codes frames against earlier ones (H.264), so that
// only a compression sequence uses what it can do.
bool isTemporalCodec(CodecType cType);

// What the compression sequences share with the calls above.
namespace detail {
// The rows of srcRect inside the pixel map, after checking both.
OSErr sourceRows(PixMapHandle src, const Rect* srcRect, PixelRows* rows);
// Fills `desc` as CompressImage does, with `extension` (image description
// extensions, whole atoms) after the 86 bytes and counted in idSize.
OSErr describe(ImageDescriptionHandle desc, CodecType cType, CodecQ quality, int width, int height,
               size_t dataSize, const std::vector<uint8_t>& extension);
}  // namespace detail

}  // namespace qt
