// None frames: rows of R, G, B padded to four bytes; libavcodec reads them back.
#include "RawCodec.h"

#include <gtest/gtest.h>

#include "CodecTestSupport.h"

namespace {

TEST(RawCodec, RowsAreRgbAndPaddedToFourBytes) {
  test::Image img = test::letterF();  // 6 wide: 18 bytes, 20 with padding
  EXPECT_EQ(qt::raw::rowBytes(6), 20u);
  EXPECT_EQ(qt::raw::rowBytes(5), 16u);
  EXPECT_EQ(qt::raw::rowBytes(1), 4u);
  EXPECT_EQ(qt::raw::rowBytes(4), 12u);
  std::vector<uint8_t> buf(qt::raw::maxSize(6, 5));
  ASSERT_EQ(qt::raw::compress(test::rowsOf(img), buf.data()), 100u);
  std::vector<uint8_t> rgb = test::toRgb(img);
  for (int y = 0; y < 5; ++y)
    EXPECT_TRUE(std::equal(rgb.begin() + y * 18, rgb.begin() + y * 18 + 18, buf.begin() + y * 20)) << y;
  EXPECT_EQ(buf[0], 0xE0) << "red first";
  EXPECT_EQ(buf[2], 0x20);
}

TEST(RawCodec, OddWidthPadsEachRow) {
  test::Image img = test::noise(5, 3, 2);
  std::vector<uint8_t> buf(qt::raw::maxSize(5, 3), 0xEE);
  ASSERT_EQ(qt::raw::compress(test::rowsOf(img), buf.data()), 48u);
  std::vector<uint8_t> rgb = test::toRgb(img);
  for (int y = 0; y < 3; ++y) {
    EXPECT_TRUE(std::equal(rgb.begin() + y * 15, rgb.begin() + y * 15 + 15, buf.begin() + y * 16)) << y;
    EXPECT_EQ(buf[size_t(y) * 16 + 15], 0) << "pad byte of row " << y;
  }
}

TEST(RawCodec, LibavcodecDecodesEvenAndOddWidths) {
  for (int w : {1, 2, 3, 4, 5, 6, 7, 33, 59, 63}) {  // every residue of 3 x width modulo 4
    test::Image img = test::noise(w, 4, uint32_t(w));
    test::Decoded d = test::roundTrip(kRawCodecType, img, codecNormalQuality);
    ASSERT_TRUE(d.ok) << w << ": " << d.error;
    EXPECT_TRUE(d.rgb == test::toRgb(img)) << "width " << w;
  }
}

}  // namespace
