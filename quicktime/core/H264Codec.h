// H.264 ('avc1') through OpenH264, for frames compressed over time: each
// frame may be coded against the one before it, so the codec is an encoder
// object that lives for a sequence of frames, not a function of one frame.
//
// Samples are NAL units with 4-byte big-endian length prefixes (no start
// codes); the parameter sets are in the `avcC` atom of the image
// description, and also at the head of every key frame (IDR), where they
// are the same bytes, so any key frame can start decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "PixelRows.h"
#include "QuickTimeTypes.h"

class ISVCEncoder;  // codec_api.h declares it a class in C++

namespace qt::h264 {

// Whether OpenH264 loads (H.264 is offered only then).
bool available();

// The fixed quantiser of a quality level (see H264Codec.cpp for the table).
int quantizerOf(CodecQ quality);

// The size the stream codes, each way: the frame's rounded up to even
// (4:2:0 has no odd sizes), and at least 16, the smallest picture
// OpenH264 takes. The rows and columns added repeat the last ones.
constexpr int kMinCodedSize = 16;
inline int codedSize(int n) { return n < kMinCodedSize ? kMinCodedSize : n + (n & 1); }

// The worst-case size of one sample of a width x height frame.
uint64_t maxSize(int width, int height);

class Encoder {
 public:
  // An encoder for frames of width x height at `quality`; null with *err
  // set when OpenH264 is not there (noCodecErr), refuses the size or fails
  // (codecErr), or memory runs out (memFullErr).
  static std::unique_ptr<Encoder> create(int width, int height, CodecQ quality, OSErr* err);
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // The `avcC` atom (size, type, AVC decoder configuration record).
  const std::vector<uint8_t>& avcCAtom() const { return avcC_; }

  // Encodes one frame of the encoder's size into out[0, capacity): an IDR
  // when `key` is set, else what the encoder makes of it. A frame too
  // detailed to code at the quality level's quantiser is coded coarser, as
  // an IDR, and so are the frames after it up to the next key frame.
  // Returns noErr with *written and *isKey, or codecErr (encoder failure,
  // or a sample that would not fit) having written nothing the caller may
  // use; the frame after a failure is always an IDR, as the encoder's
  // references may hold a frame the caller never stored.
  OSErr encode(const PixelRows& src, bool key, uint64_t timeMs, uint8_t* out, size_t capacity,
               size_t* written, bool* isKey);

 private:
  enum class Outcome { Coded, Skipped, Failed, DoesNotFit };

  Encoder() = default;
  OSErr start(int width, int height, CodecQ quality);
  // (Re)opens the library's encoder at quantiser qp, or leaves none open;
  // the first one's parameter sets make avcC, and later ones must match it.
  OSErr open(int qp);
  OSErr openEncoder(int qp);
  void close();
  Outcome encodeOnce(uint64_t timeMs, uint8_t* out, size_t capacity, size_t* written, bool* isKey);

  ISVCEncoder* encoder_ = nullptr;  // none after a frame it failed
  void (*destroy_)(ISVCEncoder*) = nullptr;
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> planes_;  // the I420 frame handed to the encoder
  std::vector<uint8_t> avcC_;
  int levelQp_ = 0;  // the quality level's quantiser
  int qp_ = 0;       // the open encoder's: coarser after a frame too detailed
  bool needKey_ = true;
};

// Appends the `avcC` atom for one SPS and one PPS (NAL units without start
// codes) to `out`; false if they are not a usable pair.
bool appendAvcCAtom(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                    std::vector<uint8_t>* out);

}  // namespace qt::h264
