// Animation frames decode bit-exact with libavcodec's qtrle decoder.
#include "AnimationCodec.h"

#include <gtest/gtest.h>

#include "CodecTestSupport.h"

namespace {

using test::Image;

void expectLossless(const Image& img, const char* what) {
  size_t size = 0;
  test::Decoded d = test::roundTrip(kAnimationCodecType, img, codecLosslessQuality, &size);
  ASSERT_TRUE(d.ok) << what << ": " << d.error;
  EXPECT_EQ(d.width, img.width);
  EXPECT_EQ(d.height, img.height);
  EXPECT_TRUE(d.rgb == test::toRgb(img)) << what << " differs after decoding";
  EXPECT_LE(size, qt::animation::maxSize(img.width, img.height));
}

TEST(AnimationCodec, LetterFDecodesExactly) { expectLossless(test::letterF(), "F"); }

TEST(AnimationCodec, SmallAndOddSizes) {
  for (auto wh : {std::pair<int, int>{1, 1},
                  {1, 7},
                  {7, 1},
                  {3, 3},
                  {127, 2},
                  {128, 2},
                  {129, 3},
                  {255, 2},
                  {257, 5}}) {
    expectLossless(test::noise(wh.first, wh.second, 7, 5), "noise");
    expectLossless(test::screenLike(wh.first, wh.second, 3), "screen");
  }
}

TEST(AnimationCodec, LongRunsAndLiteralsSplitAtTheirLimits) {
  // One colour for 300 pixels, then 300 all-different pixels, then runs of 2.
  Image img = test::noise(900, 2, 11, 0);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 300; ++x) img.set(x, y, 9, 8, 7, uint8_t(x));  // X byte varies: ignored
    for (int x = 600; x < 900; ++x) img.set(x, y, uint8_t(x / 2), 1, 2);
  }
  expectLossless(img, "runs and literals");
}

TEST(AnimationCodec, FlatFrameIsSmall) {
  Image img = test::noise(640, 480, 1, 10);
  for (size_t i = 0; i < img.bgrx.size(); i += 4) img.bgrx[i] = img.bgrx[i + 1] = img.bgrx[i + 2] = 0x80;
  size_t size = 0;
  test::Decoded d = test::roundTrip(kAnimationCodecType, img, codecNormalQuality, &size);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_TRUE(d.rgb == test::toRgb(img));
  // Per line: skip byte, five runs of 128 (4 bytes each), end of line.
  EXPECT_EQ(size, 6u + 480u * (1 + 5 * 4 + 1));
}

TEST(AnimationCodec, WorstCaseNoiseStaysWithinTheBound) {
  expectLossless(test::noise(333, 17, 5, 0), "pure noise");
  expectLossless(test::noise(333, 17, 6, 5), "noise with runs");
}

TEST(AnimationCodec, HeaderCarriesSizeAndAllLines) {
  Image img = test::letterF();
  std::vector<uint8_t> buf(qt::animation::maxSize(6, 5));
  size_t n = qt::animation::compress(test::rowsOf(img), buf.data());
  EXPECT_EQ(test::be32At(buf, 0), n);
  EXPECT_EQ(buf[4], 0);
  EXPECT_EQ(buf[5], 0);
  EXPECT_EQ(buf[6], 1) << "first line skips nothing";
  EXPECT_EQ(buf[n - 1], 0xFF) << "last line ends";
}

}  // namespace
