// Photo - JPEG ('jpeg'): each sample is a whole baseline JFIF file (SOF0,
// Huffman tables fitted to each frame, 8-bit).
//
// The frame is cut into bands of whole MCU rows (at least 65536 pixels each,
// fixed by the frame size), each one a restart interval: DRI gives its
// length, an RSTn marker separates it from the next, its DC predictions
// start from zero and its bits end on a byte. Bands are transformed and
// counted, then coded, on every processor at once; the bytes are the same
// whatever the number of threads. The markers and restarted predictions
// cost 0.01-0.1% of a frame on window captures.
//
// Colour conversion, transform and quantisation are integer arithmetic
// (JpegKernels.h), so every build and both implementations of them write
// the same bytes.
//
// Quality maps to the familiar libjpeg 1..100 scale, applied to one flat base
// table (see JpegCodec.cpp) for luma and chroma:
//   minimum 30, low 50, normal 75, high 90, maximum 97, lossless 100
// (values between the levels are interpolated). Chroma is 4:2:0 except at
// lossless quality, which keeps full-resolution chroma (4:4:4) so that it
// really is the best the format offers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PixelRows.h"
#include "QuickTimeTypes.h"

namespace qt::jpeg {

// The libjpeg-style quality (1..100) used for a codec quality.
int jpegQuality(CodecQ quality);

uint64_t maxSize(int width, int height, CodecQ quality);

// Which implementation does the per-block work (colour conversion, the
// transform, quantisation): the fastest this processor has (SSE2 where it
// has it), or the portable one. Both write the same bytes; tests hold them
// to it.
enum class Path { fastest, portable };

// Whether the fastest path here is the SSE2 one.
bool fastestIsSse2();

// Writes one JFIF file into `out` (at least maxSize bytes); returns its size.
size_t compress(const PixelRows& src, CodecQ quality, uint8_t* out, Path path = Path::fastest);

}  // namespace qt::jpeg
