// Reading whole movie files with libavformat in-process, from memory: the
// way a player finds the movie atom and the samples, without a file on disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace test {

struct DemuxedPacket {
  std::vector<uint8_t> bytes;
  int64_t pts = 0;
  int64_t duration = 0;
};

struct DemuxedMovie {
  bool opened = false;
  std::string error;  // why it could not be opened or read to the end
  unsigned streams = 0;
  AVCodecID codec = AV_CODEC_ID_NONE;
  int width = 0;
  int height = 0;
  int timeBaseNum = 0;
  int timeBaseDen = 0;
  int64_t durationUs = 0;  // the movie's, as libavformat reports it
  std::vector<DemuxedPacket> packets;
};

// Opens `file` with libavformat and reads every packet of its first stream.
// `ignoreEditList` reads the samples as stored, whatever the edit says.
DemuxedMovie avDemux(const uint8_t* file, size_t size, bool ignoreEditList = false);
inline DemuxedMovie avDemux(const std::vector<uint8_t>& file, bool ignoreEditList = false) {
  return avDemux(file.data(), file.size(), ignoreEditList);
}

}  // namespace test
