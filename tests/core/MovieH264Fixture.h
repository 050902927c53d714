// Real H.264 for the movie tests, made by libx264 through ffmpeg (not by our
// own encoder): the raw stream split into access units, each turned into a
// sample of NAL units with 4-byte length prefixes, and the image description
// with its 'avcC' that a movie of them needs. IDR pictures are the key frames.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Handles.h"
#include "QuickTimeTypes.h"
#include "TestSupport.h"

namespace test {

struct H264Stream {
  std::string rawPath;  // the Annex-B stream ffmpeg wrote
  int width = 0;
  int height = 0;
  std::vector<std::vector<uint8_t>> samples;  // length-prefixed NAL units, one access unit each
  std::vector<bool> idr;                      // per sample: an IDR picture, a key frame
  std::vector<uint8_t> sps, pps;
};

namespace h264detail {

// NAL units of an Annex-B stream, start codes removed.
inline std::vector<std::vector<uint8_t>> nalUnits(const std::vector<uint8_t>& b) {
  std::vector<std::vector<uint8_t>> out;
  std::vector<size_t> starts;  // first byte after each start code
  for (size_t i = 0; i + 3 <= b.size(); ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) starts.push_back(i + 3);
  for (size_t k = 0; k < starts.size(); ++k) {
    size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : b.size();
    while (end > starts[k] && b[end - 1] == 0) --end;  // the 4-byte start code's leading zero
    out.emplace_back(b.begin() + long(starts[k]), b.begin() + long(end));
  }
  return out;
}

inline void putLength(std::vector<uint8_t>& v, uint32_t n) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(n >> s));
}

}  // namespace h264detail

// `frames` frames of ffmpeg's test picture at width x height, an IDR every
// `gop` frames, no B-frames; written once into the build folder under `name`.
inline H264Stream makeH264Stream(const std::string& name, int frames, int gop, int width = 320,
                                 int height = 240) {
  H264Stream s;
  s.width = width;
  s.height = height;
  s.rawPath = outputPath(name + ".h264");
  run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + std::to_string(width) + "x" +
      std::to_string(height) + ":rate=10 -frames " + std::to_string(frames) +
      " -pix_fmt yuv420p -c:v libx264 -bf 0 -g " + std::to_string(gop) + " -sc_threshold 0 -f h264 " +
      s.rawPath);
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(s.rawPath.c_str(), "rb")) {
    uint8_t buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
  }
  std::vector<uint8_t> unit;
  bool unitHasSlice = false, unitIdr = false;
  const auto close = [&] {
    if (!unitHasSlice) return;
    s.samples.push_back(unit);
    s.idr.push_back(unitIdr);
    unit.clear();
    unitHasSlice = unitIdr = false;
  };
  for (const auto& nal : h264detail::nalUnits(bytes)) {
    if (nal.empty()) continue;
    const int type = nal[0] & 0x1F;
    const bool slice = type == 1 || type == 5;
    // A new access unit: a delimiter, parameter set or SEI after a slice, or
    // a slice whose first macroblock is 0 (ue(0) is a single 1 bit).
    if (unitHasSlice && (!slice || (nal.size() > 1 && (nal[1] & 0x80)))) close();
    if (type == 7 && s.sps.empty()) s.sps = nal;
    if (type == 8 && s.pps.empty()) s.pps = nal;
    h264detail::putLength(unit, uint32_t(nal.size()));
    unit.insert(unit.end(), nal.begin(), nal.end());
    unitHasSlice = unitHasSlice || slice;
    unitIdr = unitIdr || type == 5;
  }
  close();
  return s;
}

// The 86-byte description of cType 'avc1' followed by the stream's 'avcC'.
inline ImageDescriptionHandle makeH264Description(const H264Stream& s) {
  std::vector<uint8_t> avcC;
  h264detail::putLength(avcC, uint32_t(8 + 8 + s.sps.size() + 3 + s.pps.size()));
  for (char c : {'a', 'v', 'c', 'C'}) avcC.push_back(uint8_t(c));
  avcC.push_back(1);         // configuration version
  avcC.push_back(s.sps[1]);  // profile
  avcC.push_back(s.sps[2]);  // profile compatibility
  avcC.push_back(s.sps[3]);  // level
  avcC.push_back(0xFF);      // 4-byte NAL lengths
  avcC.push_back(0xE1);      // one SPS
  avcC.push_back(uint8_t(s.sps.size() >> 8));
  avcC.push_back(uint8_t(s.sps.size()));
  avcC.insert(avcC.end(), s.sps.begin(), s.sps.end());
  avcC.push_back(1);  // one PPS
  avcC.push_back(uint8_t(s.pps.size() >> 8));
  avcC.push_back(uint8_t(s.pps.size()));
  avcC.insert(avcC.end(), s.pps.begin(), s.pps.end());

  ImageDescriptionHandle h = makeDescription(kH264CodecType, int16_t(s.width), int16_t(s.height));
  Handle raw = reinterpret_cast<Handle>(h);
  qt::SetHandleSize(raw, int32_t(sizeof(ImageDescription) + avcC.size()));
  std::memcpy(*raw + sizeof(ImageDescription), avcC.data(), avcC.size());
  (**h).idSize = int32_t(sizeof(ImageDescription) + avcC.size());
  return h;
}

// Column `column` (0-based, comma separated) of each line of `text` that is
// not a comment.
inline std::vector<std::string> csvColumn(const std::string& text, int column) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.empty() || line[0] == '#') continue;
    size_t from = 0;
    for (int c = 0; c < column && from != std::string::npos; ++c) {
      from = line.find(',', from);
      if (from != std::string::npos) ++from;
    }
    if (from == std::string::npos) continue;
    size_t to = line.find(',', from);
    std::string field = line.substr(from, to == std::string::npos ? std::string::npos : to - from);
    while (!field.empty() && field[0] == ' ') field.erase(0, 1);
    out.push_back(field);
  }
  return out;
}

}  // namespace test
