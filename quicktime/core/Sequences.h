// Compression sequences: frames of one size compressed one after the other,
// each possibly coded against the frames before it (H.264), with key frames
// where a reader may start decoding.
//
// Key frames: the first frame; a frame once `keyFrameRate` frames have
// passed since the last key frame (0 leaves it to the clock alone); a frame
// once two seconds of the clock have passed since the last key frame, so
// that a recording cut anywhere loses at most two seconds before its first
// decodable frame; and a frame asked for with codecFlagForceKeyFrame. The
// codecs that compress each frame on its own make every frame a key frame,
// with exactly the bytes CompressImage writes.
#pragma once

#include <cstdint>
#include <functional>

#include "QuickTimeTypes.h"

namespace qt {

// Milliseconds of a steady clock.
using SequenceClock = std::function<uint64_t()>;

// The most time between two key frames of a sequence.
constexpr uint64_t kMaxKeyFrameIntervalMs = 2000;

struct SequenceOptions {
  SequenceClock clock;  // null: the process's steady clock
};

// Checks what CompressImage checks (pixel map, rectangle, codec, quality)
// and depth 0 or 24, both qualities up to lossless, keyFrameRate >= 0 and a
// live description handle; makes the codec and fills the description at
// once (H.264: its `avcC` atom after the 86 bytes). `prev`, `prevRect`,
// `codec`, `ctable` and `flags` are QuickTime's and change nothing here.
// *seq is the new sequence, 0 on failure.
OSErr CompressSequenceBegin(ImageSequence* seq, PixMapHandle src, PixMapHandle prev, const Rect* srcRect,
                            const Rect* prevRect, int16_t colorDepth, CodecType cType,
                            CompressorComponent codec, CodecQ spatialQuality, CodecQ temporalQuality,
                            int32_t keyFrameRate, CTabHandle ctable, CodecFlags flags,
                            ImageDescriptionHandle desc, const SequenceOptions& options = SequenceOptions());

// Compresses one frame, of the size the sequence began with, into `data`
// (room for GetMaxCompressionSize's bytes; checked when it is the start of
// one of our handles); stores its size in *dataSize and the description's
// dataSize, and in *similarity (may be null) 0 for a key frame, nonzero for
// one coded against earlier frames. paramErr for an unknown or ended
// sequence or bad arguments (a completion routine too: every compression
// here is synchronous); codecErr when the codec fails, nothing written
// then, and the next frame is a key frame.
OSErr CompressSequenceFrame(ImageSequence seq, PixMapHandle src, const Rect* srcRect, CodecFlags flags,
                            Ptr data, int32_t* dataSize, uint8_t* similarity,
                            ICMCompletionProcRecordPtr completion);

// Ends the sequence and frees its codec; paramErr when it is unknown or
// already ended.
OSErr CDSequenceEnd(ImageSequence seq);

}  // namespace qt
