// The H.264 encoder by itself: input more detailed than its buffers hold is
// coded coarser and within the worst case, a
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

// Each pixel black or white at random in each channel: more detail than
// any picture holds, so it codes larger than the raw frame at a fine
// quantiser (where OpenH264 2.3's CABAC writer, or its slice threads,
// would write past their buffers).
Image blackOrWhite(int width, int height, uint32_t seed) {
  Image img{width, height, std::vector<uint8_t>(size_t(width) * size_t(height) * 4)};
  uint32_t s = seed * 2654435761u + 1;
  for (uint8_t& b : img.bgrx) {
    s = s * 1664525u + 1013904223u;
    b = (s >> 31) ? 0xFF : 0x00;
  }
  return img;
}

TEST_F(H264Codec, NoiseAtTheFinestQuantiserIsCodedCoarserAndTheNextKeyFrameComesBack) {
  // The wide strip is the shape that made OpenH264's threads crash.
  for (const auto& wh : {std::pair<int, int>{320, 240}, {33, 17}, {8000, 16}}) {
    const int w = wh.first, h = wh.second;
    const std::vector<Image> frames = {test::screenLike(w, h, 1), test::noise(w, h, 1, 0),
                                       blackOrWhite(w, h, 2), blackOrWhite(w, h, 3),
                                       test::screenLike(w, h, 1)};
    const std::vector<bool> asKey = {true, false, false, false, true};
    OSErr err = noErr;
    auto e = qt::h264::Encoder::create(w, h, codecLosslessQuality, &err);
    ASSERT_NE(e, nullptr) << err;
    const size_t bound = qt::h264::maxSize(w, h);
    // Room past the bound, filled with a pattern that must survive.
    std::vector<uint8_t> out(bound + 64, 0x5A);
    std::vector<std::vector<uint8_t>> samples;
    std::vector<bool> keys;
    for (size_t i = 0; i < frames.size(); ++i) {
      size_t n = 0;
      bool key = false;
      ASSERT_EQ(e->encode(test::rowsOf(frames[i]), asKey[i], uint64_t(i) * 100, out.data(), bound, &n, &key),
                noErr)
          << w << "x" << h << " frame " << i;
      EXPECT_LE(n, bound);
      for (size_t k = bound; k < out.size(); ++k) ASSERT_EQ(out[k], 0x5A) << "written past the bound";
      samples.emplace_back(out.begin(), out.begin() + long(n));
      keys.push_back(key);
    }
    // The noise went coarser as a key frame (a picture of a few
    // macroblocks fits the room the buffers have besides the frame's).
    EXPECT_TRUE(keys[0]);
    if (w * h > 4096) {
      EXPECT_TRUE(keys[1]) << w << "x" << h;
    }
    EXPECT_TRUE(keys[4]);
    // The stream is CAVLC: OpenH264 2.3's CABAC writer never checks its
    // buffer's end, so noise like this corrupts the heap silently (valgrind
    // sees it; the sanitizers do not look inside the library). The PPS
    // after its NAL header: pic_parameter_set_id and
    // seq_parameter_set_id, both 0 ("1" each), then entropy_coding_mode_flag.
    const std::vector<uint8_t>& avcC = e->avcCAtom();
    ASSERT_GT(avcC.size(), 16u);
    const size_t spsLength = size_t(avcC[14]) << 8 | avcC[15];
    const size_t ppsAt = 16 + spsLength + 3;
    ASSERT_GT(avcC.size(), ppsAt + 1);
    EXPECT_EQ(avcC[ppsAt] & 0x1F, 8) << "not a PPS";
    EXPECT_EQ(avcC[ppsAt + 1] >> 5, 0x6) << "ids 0 and CAVLC";
    const test::H264Frames decoded = test::decodeH264(avcC, samples, w, h);
    ASSERT_TRUE(decoded.ok) << w << "x" << h << ": " << decoded.error;
    ASSERT_EQ(decoded.rgb.size(), frames.size());
    // The key frame after the noise is back at the finest quantiser: as
    // close to the picture as the first frame (4:2:0 colour on sharp
    // coloured edges keeps the tiny pictures' figure low).
    const double first = test::psnr(decoded.rgb[0], test::toRgb(frames[0]));
    const double last = test::psnr(decoded.rgb[4], test::toRgb(frames[4]));
    EXPECT_GE(first, 25.0) << w << "x" << h;
    EXPECT_NEAR(last, first, 0.01) << w << "x" << h;
    // The noise itself is coarser, but still the picture.
    EXPECT_GE(test::psnr(decoded.rgb[2], test::toRgb(frames[2])), 8.0) << w << "x" << h;
    EXPECT_LT(test::psnr(decoded.rgb[1], test::toRgb(frames[1])), first) << w << "x" << h;
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
