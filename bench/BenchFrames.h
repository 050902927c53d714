// What both host benchmarks share: a frame as a DIB section holds it (B, G,
// R, X rows, top-down), the fixtures decoded into such frames, and a clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "AvDecode.h"
#include "PixelRows.h"

namespace bench {

struct Frame {
  int width = 0, height = 0;
  std::vector<uint8_t> bgrx;
  uint8_t* pixel(int x, int y) { return bgrx.data() + (size_t(y) * size_t(width) + size_t(x)) * 4; }
  const uint8_t* pixel(int x, int y) const {
    return bgrx.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
  }
  std::vector<uint8_t> rgb() const {
    std::vector<uint8_t> out(size_t(width) * size_t(height) * 3);
    for (size_t i = 0, j = 0; i < bgrx.size(); i += 4, j += 3) {
      out[j] = bgrx[i + 2];
      out[j + 1] = bgrx[i + 1];
      out[j + 2] = bgrx[i];
    }
    return out;
  }
};

inline double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Decodes a fixture PNG (RGB) with libavcodec into a BGRX frame.
inline bool loadFixture(const std::string& path, Frame* out) {
  std::vector<uint8_t> png = readFile(path);
  if (png.empty()) return false;
  test::Decoded d = test::avDecode(kPNGCodecType, 0, 0, 24, png.data(), png.size());
  if (!d.ok) return false;
  out->width = d.width;
  out->height = d.height;
  out->bgrx.resize(size_t(d.width) * size_t(d.height) * 4);
  for (size_t i = 0, j = 0; j < d.rgb.size(); i += 4, j += 3) {
    out->bgrx[i] = d.rgb[j + 2];
    out->bgrx[i + 1] = d.rgb[j + 1];
    out->bgrx[i + 2] = d.rgb[j];
    out->bgrx[i + 3] = 0;  // GDI leaves it undefined; zero here
  }
  return true;
}

inline qt::PixelRows rowsOf(const Frame& f) {
  qt::PixelRows r;
  r.base = f.bgrx.data();
  r.stride = ptrdiff_t(f.width) * 4;
  r.width = f.width;
  r.height = f.height;
  return r;
}

}  // namespace bench
