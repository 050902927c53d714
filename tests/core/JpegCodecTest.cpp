// Photo - JPEG frames decode with libavcodec's mjpeg decoder at a PSNR above
// a floor per quality level (on a smooth photo-like image and on a screen).
#include "JpegCodec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "CodecTestSupport.h"

namespace {

using test::Image;

// Smooth gradients with a little texture: what JPEG is made for.
Image photo(int w, int h) {
  Image img{w, h, std::vector<uint8_t>(size_t(w) * size_t(h) * 4)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.set(x, y, uint8_t(128 + 100 * std::sin(x * 0.05)), uint8_t(y * 2),  // same slope at every size
              uint8_t(128 + 60 * std::cos((x + y) * 0.03) + (x * 7 + y * 13) % 9));
  return img;
}

struct Floor {
  CodecQ quality;
  int jpegQuality;
  double photoDb;
  double screenDb;
};
// Floors stated for these fixtures; measured values sit a few dB above them.
const Floor kFloors[] = {
    {codecMinQuality, 30, 30.0, 20.0},    {codecLowQuality, 50, 32.0, 22.0},
    {codecNormalQuality, 75, 34.0, 24.0}, {codecHighQuality, 90, 36.0, 27.0},
    {codecMaxQuality, 97, 38.0, 31.0},    {codecLosslessQuality, 100, 42.0, 38.0},
};

TEST(JpegCodec, QualityLevelsMapToSpacedJpegQualities) {
  for (const Floor& f : kFloors) EXPECT_EQ(qt::jpeg::jpegQuality(f.quality), f.jpegQuality);
  EXPECT_EQ(qt::jpeg::jpegQuality(0x180), 62) << "between low and normal";
}

TEST(JpegCodec, PsnrAboveTheFloorAtEveryQuality) {
  const Image p = photo(160, 120);
  const Image s = test::screenLike(160, 120, 4);
  double lastPhoto = 0;
  for (const Floor& f : kFloors) {
    test::Decoded dp = test::roundTrip(kJPEGCodecType, p, f.quality);
    ASSERT_TRUE(dp.ok) << dp.error;
    ASSERT_EQ(dp.width, 160);
    double db = test::psnr(dp.rgb, test::toRgb(p));
    EXPECT_GE(db, f.photoDb) << "photo at jpeg quality " << f.jpegQuality;
    EXPECT_GE(db, lastPhoto - 0.1) << "higher quality, not worse";
    lastPhoto = db;
    test::Decoded ds = test::roundTrip(kJPEGCodecType, s, f.quality);
    ASSERT_TRUE(ds.ok) << ds.error;
    EXPECT_GE(test::psnr(ds.rgb, test::toRgb(s)), f.screenDb) << "screen at jpeg quality " << f.jpegQuality;
  }
}

TEST(JpegCodec, ColoursKeepTheirPlaceAndChannel) {
  // A 16 x 16 block per colour: red, green, blue, white on the left/top.
  Image img{32, 32, std::vector<uint8_t>(32 * 32 * 4)};
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      int quad = (y / 16) * 2 + x / 16;
      const uint8_t c[4][3] = {{220, 20, 20}, {20, 220, 20}, {20, 20, 220}, {240, 240, 240}};
      img.set(x, y, c[quad][0], c[quad][1], c[quad][2]);
    }
  test::Decoded d = test::roundTrip(kJPEGCodecType, img, codecHighQuality);
  ASSERT_TRUE(d.ok) << d.error;
  auto at = [&](int x, int y, int c) { return int(d.rgb[(size_t(y) * 32 + size_t(x)) * 3 + size_t(c)]); };
  EXPECT_GT(at(8, 8, 0), 180);
  EXPECT_LT(at(8, 8, 2), 60);
  EXPECT_GT(at(24, 8, 1), 180);
  EXPECT_GT(at(8, 24, 2), 180);
  EXPECT_LT(at(8, 24, 0), 60);
  EXPECT_GT(at(24, 24, 0), 200);
}

TEST(JpegCodec, OddSizesDecodeAtTheirSize) {
  for (auto wh : {std::pair<int, int>{1, 1}, {7, 3}, {17, 9}, {33, 31}}) {
    for (CodecQ q : {codecNormalQuality, codecLosslessQuality}) {
      Image img = photo(wh.first, wh.second);
      test::Decoded d = test::roundTrip(kJPEGCodecType, img, q);
      ASSERT_TRUE(d.ok) << wh.first << "x" << wh.second << ": " << d.error;
      EXPECT_EQ(d.width, wh.first);
      EXPECT_EQ(d.height, wh.second);
      EXPECT_GE(test::psnr(d.rgb, test::toRgb(img)), 28.0) << wh.first << "x" << wh.second << " q " << q;
    }
  }
}

TEST(JpegCodec, NoiseAtFullQualityStaysWithinTheBound) {
  // Noise at quality 100 gives the largest coefficients the format allows.
  Image img = test::noise(64, 48, 8, 0);
  size_t size = 0;
  test::Decoded d = test::roundTrip(kJPEGCodecType, img, codecLosslessQuality, &size);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_LE(size, qt::jpeg::maxSize(64, 48, codecLosslessQuality));
  EXPECT_GE(test::psnr(d.rgb, test::toRgb(img)), 38.0);
}

TEST(JpegCodec, IsBaselineJfif) {
  Image img = photo(16, 16);
  std::vector<uint8_t> buf(qt::jpeg::maxSize(16, 16, codecNormalQuality));
  size_t n = qt::jpeg::compress(test::rowsOf(img), codecNormalQuality, buf.data());
  ASSERT_GT(n, 4u);
  EXPECT_EQ(buf[0], 0xFF);
  EXPECT_EQ(buf[1], 0xD8);
  EXPECT_EQ(std::memcmp(buf.data() + 6, "JFIF", 5), 0);
  EXPECT_EQ(buf[n - 2], 0xFF);
  EXPECT_EQ(buf[n - 1], 0xD9);
  bool sof0 = false;
  for (size_t i = 0; i + 1 < n; ++i)
    if (buf[i] == 0xFF && buf[i + 1] == 0xC0) sof0 = true;
  EXPECT_TRUE(sof0);
}

// Walks the marker segments before the scan; calls f(marker, payload, length).
template <typename F>
void forEachSegment(const std::vector<uint8_t>& buf, size_t n, F f) {
  size_t i = 2;
  while (i + 4 <= n && buf[i] == 0xFF && buf[i + 1] != 0xDA) {
    const size_t len = size_t(buf[i + 2]) << 8 | buf[i + 3];
    ASSERT_LE(i + 2 + len, n);
    f(buf[i + 1], buf.data() + i + 4, len - 2);
    i += 2 + len;
  }
  ASSERT_LT(i + 1, n);
  EXPECT_EQ(buf[i + 1], 0xDA) << "scan follows the tables";
}

TEST(JpegCodec, HuffmanTablesAreCompletePrefixCodesWithoutAnAllOnesCode) {
  for (CodecQ q : {codecMinQuality, codecNormalQuality, codecLosslessQuality}) {
    const Image img = test::screenLike(96, 64, 4);
    std::vector<uint8_t> buf(qt::jpeg::maxSize(96, 64, q));
    const size_t n = qt::jpeg::compress(test::rowsOf(img), q, buf.data());
    ASSERT_LE(n, buf.size());
    int tables = 0;
    forEachSegment(buf, n, [&](uint8_t m, const uint8_t* p, size_t len) {
      if (m != 0xC4) return;
      size_t at = 0;
      while (at < len) {
        const uint8_t id = p[at];
        EXPECT_TRUE(id == 0x00 || id == 0x01 || id == 0x10 || id == 0x11) << int(id);
        // Kraft sum in units of 2^-16: below 1 (the all-ones code is not used).
        uint32_t kraft = 0, count = 0;
        for (int len1 = 1; len1 <= 16; ++len1) {
          kraft += uint32_t(p[at + size_t(len1)]) << (16 - len1);
          count += p[at + size_t(len1)];
        }
        EXPECT_LT(kraft, 1u << 16) << "table " << int(id);
        EXPECT_GE(count, 1u);
        EXPECT_LE(count, (id & 0x10) ? 162u : 12u);
        at += 17 + count;
        ++tables;
      }
      EXPECT_EQ(at, len);
    });
    EXPECT_EQ(tables, 4) << "quality " << q;
    test::Decoded d = test::roundTrip(kJPEGCodecType, img, q);
    ASSERT_TRUE(d.ok) << d.error;
  }
}

// Bands of MCU rows are coded apart as restart intervals: one DRI segment
// before the scan, then RST0..RST7 in turn between intervals.
TEST(JpegCodec, BandsAreRestartIntervalsMarkedInTurn) {
  struct Case {
    int width, height;
    CodecQ quality;
    int mcusPerInterval;
  } cases[] = {
      // 40 MCUs of 16 x 16 a row: 7 rows make the 65536 pixels of a band.
      {640, 480, codecNormalQuality, 40 * 7},
      // 80 MCUs of 8 x 8 a row: 13 rows.
      {640, 480, codecLosslessQuality, 80 * 13},
      // One MCU row is a band already.
      {4200, 64, codecNormalQuality, 263},
  };
  for (const Case& c : cases) {
    const Image img = test::screenLike(c.width, c.height, 2);
    std::vector<uint8_t> buf(qt::jpeg::maxSize(c.width, c.height, c.quality));
    const size_t n = qt::jpeg::compress(test::rowsOf(img), c.quality, buf.data());
    ASSERT_GT(n, 4u);
    int interval = -1;
    size_t scan = 0;
    forEachSegment(buf, n, [&](uint8_t m, const uint8_t* p, size_t len) {
      if (m != 0xDD) return;
      ASSERT_EQ(len, 2u);
      interval = p[0] << 8 | p[1];
    });
    EXPECT_EQ(interval, c.mcusPerInterval) << c.width << "x" << c.height;
    for (size_t i = 2; i + 1 < n; ++i)
      if (buf[i] == 0xFF && buf[i + 1] == 0xDA) {
        scan = i;
        break;
      }
    ASSERT_GT(scan, 0u);
    // Markers inside the scan: stuffed zeros are not markers.
    std::vector<int> restarts;
    for (size_t i = scan + 2 + 12; i + 1 < n - 2; ++i)
      if (buf[i] == 0xFF && buf[i + 1] != 0x00) restarts.push_back(buf[i + 1]);
    const int mcu = c.quality >= codecLosslessQuality ? 8 : 16;
    const int mcus = (c.width + mcu - 1) / mcu * ((c.height + mcu - 1) / mcu);
    ASSERT_EQ(int(restarts.size()), (mcus + c.mcusPerInterval - 1) / c.mcusPerInterval - 1)
        << c.width << "x" << c.height;
    for (size_t k = 0; k < restarts.size(); ++k) EXPECT_EQ(restarts[k], 0xD0 + int(k % 8)) << k;
    test::Decoded d = test::avDecode(kJPEGCodecType, c.width, c.height, 24, buf.data(), n);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_GE(test::psnr(d.rgb, test::toRgb(img)), c.quality >= codecLosslessQuality ? 38.0 : 24.0);
  }
}

TEST(JpegCodec, OneOddPixelInAnOtherwiseUniformMcuIsKept) {
  // Flat blocks take a short cut past the transform; one pixel off the
  // colour, in the last row and column of an MCU, must not be lost to it.
  Image img{48, 32, std::vector<uint8_t>(48 * 32 * 4)};
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 48; ++x) img.set(x, y, 200, 180, 40);
  img.set(31, 15, 0, 0, 0);
  test::Decoded d = test::roundTrip(kJPEGCodecType, img, codecHighQuality);
  ASSERT_TRUE(d.ok) << d.error;
  auto at = [&](int x, int y, int c) { return int(d.rgb[(size_t(y) * 48 + size_t(x)) * 3 + size_t(c)]); };
  EXPECT_LT(at(31, 15, 0), 140) << "the dark pixel survives";
  for (int c = 0; c < 3; ++c) {
    const int want[3] = {200, 180, 40};
    EXPECT_NEAR(at(8, 8, c), want[c], 3) << "uniform MCU, channel " << c;
    EXPECT_NEAR(at(40, 24, c), want[c], 3) << "uniform MCU, channel " << c;
  }
}

}  // namespace
