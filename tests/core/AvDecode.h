// Decoding with libavcodec in-process: somebody else's decoder as the oracle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "QuickTimeTypes.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace test {

struct Decoded {
  bool ok = false;
  std::string error;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // RGB24, rows packed
};

// libavcodec's decoder for a QuickTime codec; AV_CODEC_ID_NONE for others.
AVCodecID avCodecId(OSType codec);

// Decodes one key frame of the given QuickTime codec, as the mov demuxer
// would set the decoder up (codec tag, bits per coded sample).
Decoded avDecode(OSType codec, int width, int height, int depth, const uint8_t* data, size_t size);

// Peak signal-to-noise ratio over all bytes, in dB (99 for identical input).
double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace test
