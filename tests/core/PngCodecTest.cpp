// PNG frames are whole PNG files that libavcodec decodes bit-exact at every quality.
#include "PngCodec.h"

#include <gtest/gtest.h>

#include <cstring>

#include "CodecTestSupport.h"

namespace {

const CodecQ kQualities[] = {codecMinQuality,  codecLowQuality, codecNormalQuality,
                             codecHighQuality, codecMaxQuality, codecLosslessQuality};

TEST(PngCodec, LosslessAtEveryQuality) {
  for (CodecQ q : kQualities) {
    for (const test::Image& img :
         {test::letterF(), test::noise(1, 1, 1), test::noise(37, 11, 4, 5), test::screenLike(101, 63, 2)}) {
      test::Decoded d = test::roundTrip(kPNGCodecType, img, q);
      ASSERT_TRUE(d.ok) << "quality " << q << ": " << d.error;
      EXPECT_TRUE(d.rgb == test::toRgb(img)) << "quality " << q << ", " << img.width << "x" << img.height;
    }
  }
}

TEST(PngCodec, FileStartsWithSignatureAndHeader) {
  test::Image img = test::letterF();
  std::vector<uint8_t> buf(qt::png::maxSize(6, 5, codecNormalQuality));
  size_t n = qt::png::compress(test::rowsOf(img), codecNormalQuality, buf.data(), buf.size());
  ASSERT_GT(n, 57u);
  EXPECT_EQ(std::memcmp(buf.data(), "\x89PNG\r\n\x1a\n", 8), 0);
  EXPECT_EQ(std::memcmp(buf.data() + 12, "IHDR", 4), 0);
  EXPECT_EQ(test::be32At(buf, 16), 6u);
  EXPECT_EQ(test::be32At(buf, 20), 5u);
  EXPECT_EQ(buf[24], 8) << "bit depth";
  EXPECT_EQ(buf[25], 2) << "RGB";
  EXPECT_EQ(std::memcmp(buf.data() + n - 8, "IEND", 4), 0);
}

TEST(PngCodec, MoreEffortNeverCostsSizeOnScreens) {
  test::Image img = test::screenLike(320, 200, 9);
  size_t low = 0, best = 0;
  ASSERT_TRUE(test::roundTrip(kPNGCodecType, img, codecMinQuality, &low).ok);
  ASSERT_TRUE(test::roundTrip(kPNGCodecType, img, codecLosslessQuality, &best).ok);
  EXPECT_LE(best, low);
}

// The deflate state is kept between frames and retuned for each one; a frame
// must not depend on which quality the frame before it used.
TEST(PngCodec, SameFrameSameBytesWhateverCameBefore) {
  test::Image img = test::screenLike(160, 100, 4);
  auto encode = [&](CodecQ q) {
    std::vector<uint8_t> buf(qt::png::maxSize(img.width, img.height, q));
    buf.resize(qt::png::compress(test::rowsOf(img), q, buf.data(), buf.size()));
    return buf;
  };
  for (CodecQ q : kQualities) {
    const std::vector<uint8_t> first = encode(q);
    ASSERT_FALSE(first.empty());
    for (CodecQ other : kQualities) {
      encode(other);
      EXPECT_EQ(encode(q), first) << "quality " << q << " after " << other;
    }
  }
}

TEST(PngCodec, TooSmallBufferFailsInsteadOfOverflowing) {
  test::Image img = test::noise(64, 64, 3, 0);
  std::vector<uint8_t> buf(200);
  EXPECT_EQ(qt::png::compress(test::rowsOf(img), codecNormalQuality, buf.data(), buf.size()), 0u);
}

}  // namespace
