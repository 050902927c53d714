// H.264 as a reader sees it: libavcodec's own decoder (independent of the
// encoder), set up from the `avcC` record as the mov demuxer sets it up,
// fed the samples in order. Also the fixtures, read by libavcodec's PNG
// decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace test {

struct H264Frames {
  bool ok = false;
  std::string error;
  int width = 0;  // as decoded (the coded size, after the stream's cropping)
  int height = 0;
  // Each decoded frame as RGB24 rows (BT.601, limited range, as the stream
  // says), cut to `cropWidth` x `cropHeight`.
  std::vector<std::vector<uint8_t>> rgb;
  std::vector<bool> key;  // what the decoder says of each frame
};

// `avcCAtom` is the whole atom (size, 'avcC', record); each sample is NAL
// units with 4-byte lengths. Bitstream errors fail the decode.
H264Frames decodeH264(const std::vector<uint8_t>& avcCAtom, const std::vector<std::vector<uint8_t>>& samples,
                      int cropWidth, int cropHeight);

// A fixture of bench/fixtures as a BGRX image; empty when unreadable.
Image loadFixture(const std::string& name);

// `img` scrolled up by `rows` (rows from the top come in at the bottom), as
// a window's text moves when it scrolls.
Image scrolled(const Image& img, int rows);

}  // namespace test
