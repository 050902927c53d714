// The H.264 encoder by itself: its worst case holds on the hardest input, a
// sample that does not fit fails without writing past the buffer and makes
// the next frame a key frame, and CompressImage makes one key frame that
// libavcodec decodes from the description's avcC.
#include "H264Codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "AvDecode.h"
#include "CodecTestSupport.h"
#include "Codecs.h"
#include "H264Decode.h"
#include "Handles.h"
#include "OpenH264Library.h"

namespace {

using test::Image;

class H264Codec : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!qt::openh264::library()) FAIL() << "OpenH264 does not load: " << qt::openh264::lastLoadFailure();
  }
};

TEST_F(H264Codec, NoiseAtTheFinestQuantiserStaysWithinTheWorstCase) {
  for (const auto& wh : {std::pair<int, int>{320, 240}, {33, 17}}) {
    const Image a = test::noise(wh.first, wh.second, 1, 0), b = test::noise(wh.first, wh.second, 2, 0);
    OSErr err = noErr;
    auto e = qt::h264::Encoder::create(wh.first, wh.second, codecLosslessQuality, &err);
    ASSERT_NE(e, nullptr) << err;
    const size_t bound = qt::h264::maxSize(wh.first, wh.second);
    // Room past the bound, filled with a pattern that must survive.
    std::vector<uint8_t> out(bound + 64, 0x5A);
    for (int i = 0; i < 3; ++i) {
      size_t n = 0;
      bool key = false;
      ASSERT_EQ(
          e->encode(test::rowsOf(i & 1 ? b : a), i == 0, uint64_t(i) * 100, out.data(), bound, &n, &key),
          noErr);
      EXPECT_LE(n, bound);
      EXPECT_GT(n, size_t(wh.first) * size_t(wh.second)) << "noise takes about a byte a pixel or more";
      for (size_t k = bound; k < out.size(); ++k) ASSERT_EQ(out[k], 0x5A) << "written past the bound";
    }
  }
}

TEST_F(H264Codec, ASampleThatDoesNotFitFailsAndTheNextFrameIsAKeyFrame) {
  // b is a with a small change (a frame quite unlike the one before may
  // be coded as a key frame by the encoder's own choice).
  const Image a = test::screenLike(320, 240, 1);
  Image b = a;
  for (int y = 100; y < 120; ++y) std::memset(b.row(y) + 4 * 50, 0x20, 4 * 60);
  OSErr err = noErr;
  auto e = qt::h264::Encoder::create(320, 240, codecNormalQuality, &err);
  ASSERT_NE(e, nullptr) << err;
  std::vector<uint8_t> out(qt::h264::maxSize(320, 240) + 16, 0x5A);
  std::vector<std::vector<uint8_t>> samples;
  size_t n = 0;
  bool key = false;
  ASSERT_EQ(e->encode(test::rowsOf(a), true, 0, out.data(), out.size() - 16, &n, &key), noErr);
  EXPECT_TRUE(key);
  samples.emplace_back(out.begin(), out.begin() + long(n));
  // Too small a buffer: codecErr, nothing past it touched.
  std::vector<uint8_t> tiny(64 + 16, 0xA5);
  ASSERT_EQ(e->encode(test::rowsOf(b), false, 100, tiny.data(), 64, &n, &key), codecErr);
  EXPECT_EQ(n, 0u);
  for (size_t k = 64; k < tiny.size(); ++k) ASSERT_EQ(tiny[k], 0xA5) << "written past the buffer";
  // The failed frame may be the encoder's reference, but it was never
  // stored: the next frame must not depend on it.
  ASSERT_EQ(e->encode(test::rowsOf(a), false, 200, out.data(), out.size() - 16, &n, &key), noErr);
  EXPECT_TRUE(key) << "the frame after a failure is a key frame";
  samples.emplace_back(out.begin(), out.begin() + long(n));
  ASSERT_EQ(e->encode(test::rowsOf(b), false, 300, out.data(), out.size() - 16, &n, &key), noErr);
  EXPECT_FALSE(key);
  samples.emplace_back(out.begin(), out.begin() + long(n));
  const test::H264Frames decoded = test::decodeH264(e->avcCAtom(), samples, 320, 240);
  ASSERT_TRUE(decoded.ok) << decoded.error;
  ASSERT_EQ(decoded.rgb.size(), 3u);
  EXPECT_GT(test::psnr(decoded.rgb[2], test::toRgb(b)), 30);
}

TEST_F(H264Codec, CompressImageWritesOneKeyFrameWithItsAvcC) {
  const Image img = test::screenLike(99, 51, 4);
  test::PixMapFixture pm(img);
  Rect r = pm.all();
  int32_t max = 0;
  ASSERT_EQ(qt::GetMaxCompressionSize(pm.handle, &r, 0, codecHighQuality, kH264CodecType, anyCodec, &max),
            noErr);
  EXPECT_EQ(uint64_t(max), qt::h264::maxSize(99, 51));
  Handle data = qt::NewHandle(max);
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(4));
  ASSERT_EQ(qt::CompressImage(pm.handle, &r, codecHighQuality, kH264CodecType, desc, *data), noErr);
  const ImageDescription d = **desc;
  EXPECT_EQ(d.cType, kH264CodecType);
  EXPECT_EQ(d.width, 100);
  EXPECT_EQ(d.height, 52);
  EXPECT_GT(d.dataSize, 0);
  const int32_t size = qt::GetHandleSize(reinterpret_cast<Handle>(desc));
  ASSERT_EQ(d.idSize, size);
  const std::vector<uint8_t> avcC(reinterpret_cast<uint8_t*>(*desc) + 86,
                                  reinterpret_cast<uint8_t*>(*desc) + size);
  const test::H264Frames decoded =
      test::decodeH264(avcC, {std::vector<uint8_t>(*data, *data + d.dataSize)}, 99, 51);
  ASSERT_TRUE(decoded.ok) << decoded.error;
  ASSERT_EQ(decoded.key.size(), 1u);
  EXPECT_TRUE(decoded.key[0]);
  EXPECT_GT(test::psnr(decoded.rgb[0], test::toRgb(img)), 30);
  // The same handle used again for a spatial codec holds its 86 bytes only.
  ASSERT_EQ(qt::GetMaxCompressionSize(pm.handle, &r, 0, codecHighQuality, kRawCodecType, anyCodec, &max),
            noErr);
  Handle raw = qt::NewHandle(max);
  ASSERT_EQ(qt::CompressImage(pm.handle, &r, codecHighQuality, kRawCodecType, desc, *raw), noErr);
  EXPECT_EQ((**desc).idSize, 86);
  qt::DisposeHandle(raw);
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST(H264AvcC, OnlyAnSpsAndAPpsMakeARecord) {
  const std::vector<uint8_t> sps = {0x67, 66, 0xC0, 31, 0xDA}, pps = {0x68, 0xCE, 0x3C, 0x80};
  std::vector<uint8_t> out;
  EXPECT_FALSE(qt::h264::appendAvcCAtom(pps, sps, &out)) << "swapped";
  EXPECT_FALSE(qt::h264::appendAvcCAtom({0x67, 66}, pps, &out)) << "too short an SPS";
  EXPECT_FALSE(qt::h264::appendAvcCAtom(sps, {}, &out)) << "no PPS";
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(qt::h264::appendAvcCAtom(sps, pps, &out));
  const std::vector<uint8_t> baseline = {0, 0, 0,    28, 'a',  'v', 'c',  'C', 1, 66, 0xC0, 31,   0xFF, 0xE1,
                                         0, 5, 0x67, 66, 0xC0, 31,  0xDA, 1,   0, 4,  0x68, 0xCE, 0x3C, 0x80};
  EXPECT_EQ(out, baseline);
  // The High profiles add chroma format and bit depths after the PPS.
  out.clear();
  ASSERT_TRUE(qt::h264::appendAvcCAtom({0x67, 100, 0, 40, 0xAC}, pps, &out));
  ASSERT_EQ(out.size(), 32u);
  EXPECT_EQ(test::be32At(out, 0), 32u);
  EXPECT_EQ(std::vector<uint8_t>(out.end() - 4, out.end()), (std::vector<uint8_t>{0xFD, 0xF8, 0xF8, 0}));
}

}  // namespace
