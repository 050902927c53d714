// The image compression calls as the program makes them: codec list, worst
// case, CompressImage from a pixel map, and whole movies of each codec that
// ffmpeg decodes.
#include "Codecs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "AvDecode.h"
#include "CodecTestSupport.h"
#include "Handles.h"
#include "Movies.h"
#include "OpenH264Library.h"
#include "Sequences.h"
#include "TestSupport.h"

namespace {

using test::Image;
using test::PixMapFixture;

// The entries of a list, as the program reads them: 44-byte records after
// the 16-bit count.
std::vector<std::pair<OSType, std::string>> entries(CodecNameSpecListPtr list) {
  std::vector<std::pair<OSType, std::string>> out;
  const char* base = reinterpret_cast<const char*>(list) + 2;
  for (int i = 0; i < list->count; ++i) {
    const CodecNameSpec* e = reinterpret_cast<const CodecNameSpec*>(base + i * sizeof(CodecNameSpec));
    const OSType type = e->cType;  // a copy: packed fields cannot bind to references
    out.emplace_back(type, std::string(reinterpret_cast<const char*>(e->typeName + 1), e->typeName[0]));
  }
  return out;
}

const std::vector<std::pair<OSType, std::string>> kFourCodecs = {{kAnimationCodecType, "Animation"},
                                                                 {kRawCodecType, "None"},
                                                                 {kJPEGCodecType, "Photo - JPEG"},
                                                                 {kPNGCodecType, "PNG"}};

TEST(Codecs, NameListHasTheFourCodecsThenH264In44ByteEntries) {
  ASSERT_NE(qt::openh264::library(), nullptr) << qt::openh264::lastLoadFailure();
  CodecNameSpecListPtr list = nullptr;
  ASSERT_EQ(qt::GetCodecNameList(&list, 0), noErr);
  ASSERT_NE(list, nullptr);
  auto expected = kFourCodecs;
  expected.emplace_back(kH264CodecType, "H.264");
  EXPECT_EQ(entries(list), expected);
  EXPECT_EQ(qt::DisposeCodecNameList(list), noErr);
  EXPECT_EQ(qt::GetCodecNameList(nullptr, 0), paramErr);
  EXPECT_EQ(qt::DisposeCodecNameList(nullptr), paramErr);
}

// Without OpenH264 there is no H.264 anywhere: not in the list, and every
// call naming it answers as for a codec that does not exist.
TEST(Codecs, WithoutOpenH264TheListHasTheFourCodecsAndH264IsUnknown) {
  qt::openh264::reloadForTests("libopenh264-not-there.so.7");
  CodecNameSpecListPtr list = nullptr;
  ASSERT_EQ(qt::GetCodecNameList(&list, 0), noErr);
  EXPECT_EQ(entries(list), kFourCodecs);
  qt::DisposeCodecNameList(list);
  EXPECT_NE(qt::openh264::lastLoadFailure(), "");
  PixMapFixture pm(test::letterF());
  Rect r = pm.all();
  int32_t max = 0;
  EXPECT_EQ(qt::GetMaxCompressionSize(pm.handle, &r, 0, codecNormalQuality, kH264CodecType, anyCodec, &max),
            noCodecErr);
  std::vector<char> data(1 << 16);
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(4));
  EXPECT_EQ(qt::CompressImage(pm.handle, &r, codecNormalQuality, kH264CodecType, desc, data.data()),
            noCodecErr);
  ImageSequence seq = 0;
  EXPECT_EQ(qt::CompressSequenceBegin(&seq, pm.handle, nullptr, &r, nullptr, 0, kH264CodecType, anyCodec,
                                      codecNormalQuality, codecNormalQuality, 0, nullptr, 0, desc),
            noCodecErr);
  EXPECT_EQ(seq, 0);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  // Back to the real library: H.264 is listed again.
  qt::openh264::reloadForTests(nullptr);
  ASSERT_EQ(qt::GetCodecNameList(&list, 0), noErr);
  EXPECT_EQ(list->count, 5);
  qt::DisposeCodecNameList(list);
}

TEST(Codecs, CompressImageFillsTheDescriptionAndGrowsItsHandle) {
  PixMapFixture pm(test::letterF());
  Rect r = pm.all();
  int32_t max = 0;
  ASSERT_EQ(
      qt::GetMaxCompressionSize(pm.handle, &r, 0, codecLosslessQuality, kAnimationCodecType, anyCodec, &max),
      noErr);
  EXPECT_EQ(uint64_t(max), qt::maxCompressedSize(kAnimationCodecType, 6, 5, codecLosslessQuality));
  Handle data = qt::NewHandle(max);
  qt::HLock(data);
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(4));
  ASSERT_EQ(qt::CompressImage(pm.handle, &r, codecLosslessQuality, kAnimationCodecType, desc, *data), noErr);
  ASSERT_EQ(qt::GetHandleSize(reinterpret_cast<Handle>(desc)), 86);
  const ImageDescription& d = **desc;
  EXPECT_EQ(d.idSize, 86);
  EXPECT_EQ(d.cType, kAnimationCodecType);
  EXPECT_EQ(d.spatialQuality, uint32_t(codecLosslessQuality));
  EXPECT_EQ(d.width, 6);
  EXPECT_EQ(d.height, 5);
  EXPECT_EQ(d.hRes, 72 << 16);
  EXPECT_EQ(d.vRes, 72 << 16);
  EXPECT_GT(d.dataSize, 8);
  EXPECT_LE(d.dataSize, max);
  EXPECT_EQ(uint32_t(d.dataSize), test::be32At(std::vector<uint8_t>(*data, *data + 4), 0));
  EXPECT_EQ(d.frameCount, 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.name + 1), d.name[0]), "Animation");
  EXPECT_EQ(d.depth, 24);
  EXPECT_EQ(d.clutID, -1);
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST(Codecs, SourceRectangleIsTakenFromInsideThePixelMap) {
  // Crop the F out of a larger map whose bounds do not start at 0, 0.
  Image big = test::noise(20, 12, 3);
  Image f = test::letterF();
  for (int y = 0; y < 5; ++y) std::memcpy(big.row(y + 4) + 7 * 4, f.row(y), 6 * 4);
  PixMapFixture pm(big, 100, 50);
  Rect r{54, 107, 59, 113};  // top, left, bottom, right
  std::vector<uint8_t> out(qt::maxCompressedSize(kRawCodecType, 6, 5, 0));
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(0));
  ASSERT_EQ(qt::CompressImage(pm.handle, &r, codecNormalQuality, kRawCodecType, desc,
                              reinterpret_cast<Ptr>(out.data())),
            noErr);
  EXPECT_EQ((**desc).dataSize, 100);
  std::vector<uint8_t> rgb = test::toRgb(f);
  for (int y = 0; y < 5; ++y)
    EXPECT_TRUE(std::equal(rgb.begin() + y * 18, rgb.begin() + y * 18 + 18, out.begin() + y * 20)) << y;
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST(Codecs, WideRowsUseTheRowStrideField) {
  Image img = test::noise(5000, 2, 4);  // 20000 bytes a row: beyond 14-bit rowBytes
  PixMapFixture pm(img);
  (**pm.handle).rowBytes = int16_t(kPixMapFlag | kRowBytesMask);
  Rect r = pm.all();
  std::vector<uint8_t> out(qt::maxCompressedSize(kRawCodecType, 5000, 2, 0));
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(0));
  ASSERT_EQ(qt::CompressImage(pm.handle, &r, 0, kRawCodecType, desc, reinterpret_cast<Ptr>(out.data())),
            noErr);
  EXPECT_TRUE(out == test::toRgb(img));
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST(Codecs, BadArgumentsAreRefusedWithSpecificCodes) {
  PixMapFixture pm(test::letterF());
  Rect r = pm.all();
  int32_t size = -1;
  EXPECT_EQ(qt::GetMaxCompressionSize(pm.handle, &r, 0, 0, fourCC("h264"), anyCodec, &size), noCodecErr);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(qt::GetMaxCompressionSize(nullptr, &r, 0, 0, kRawCodecType, anyCodec, &size), nilHandleErr);
  EXPECT_EQ(qt::GetMaxCompressionSize(pm.handle, nullptr, 0, 0, kRawCodecType, anyCodec, &size), paramErr);
  EXPECT_EQ(qt::GetMaxCompressionSize(pm.handle, &r, 0, 0, kRawCodecType, anyCodec, nullptr), paramErr);
  EXPECT_EQ(qt::GetMaxCompressionSize(pm.handle, &r, 16, 0, kRawCodecType, anyCodec, &size), paramErr);
  EXPECT_EQ(qt::GetMaxCompressionSize(pm.handle, &r, 0, 0x401, kRawCodecType, anyCodec, &size), paramErr);
  for (Rect bad : {Rect{0, 0, 5, 7}, Rect{-1, 0, 5, 6}, Rect{0, 0, 0, 6}, Rect{0, 3, 5, 3}, Rect{3, 0, 2, 6},
                   Rect{0, -32768, 5, 32767}})
    EXPECT_EQ(qt::GetMaxCompressionSize(pm.handle, &bad, 0, 0, kRawCodecType, anyCodec, &size), paramErr)
        << bad.top << "," << bad.left << "," << bad.bottom << "," << bad.right;

  std::vector<uint8_t> out(4096);
  Ptr data = reinterpret_cast<Ptr>(out.data());
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(4));
  EXPECT_EQ(qt::CompressImage(pm.handle, &r, 0, fourCC("h264"), desc, data), noCodecErr);
  EXPECT_EQ(qt::CompressImage(pm.handle, &r, 0, kRawCodecType, nullptr, data), nilHandleErr);
  EXPECT_EQ(qt::CompressImage(pm.handle, &r, 0, kRawCodecType, desc, nullptr), paramErr);
  Handle small = qt::NewHandle(20);  // smaller than the worst case
  EXPECT_EQ(qt::CompressImage(pm.handle, &r, 0, kRawCodecType, desc, *small), paramErr);
  qt::DisposeHandle(small);
  (**pm.handle).pixelSize = 16;
  EXPECT_EQ(qt::CompressImage(pm.handle, &r, 0, kRawCodecType, desc, data), paramErr);
  (**pm.handle).pixelSize = 32;
  (**pm.handle).pixelFormat = fourCC("2vuy");
  EXPECT_EQ(qt::CompressImage(pm.handle, &r, 0, kRawCodecType, desc, data), paramErr);
  (**pm.handle).pixelFormat = 0;  // the default 32-bit format is B, G, R, X too
  EXPECT_EQ(qt::CompressImage(pm.handle, &r, 0, kRawCodecType, desc, data), noErr);
  (**pm.handle).rowStride = 8;  // rows overlapping
  EXPECT_EQ(qt::CompressImage(pm.handle, &r, 0, kRawCodecType, desc, data), paramErr);
  (**pm.handle).rowStride = 0;  // falls back to rowBytes
  EXPECT_EQ(qt::CompressImage(pm.handle, &r, 0, kRawCodecType, desc, data), noErr);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  EXPECT_EQ(qt::CompressImage(pm.handle, &r, 0, kRawCodecType, desc, data), memWZErr);
  EXPECT_EQ(out[4095], 0) << "nothing written past the frame";
}

// The program's whole path for one codec: compress each frame from a pixel
// map into a locked handle, append it, finish; then ffmpeg decodes the file.
std::string recordMovie(OSType codec, CodecQ quality, const std::vector<Image>& frames,
                        const std::vector<TimeValue>& durations, const std::string& name) {
  auto sink = std::make_shared<test::MemorySink>();
  const int w = frames[0].width, h = frames[0].height;
  test::MovieParts parts = test::makeMovie(sink, w, h);
  PixMapFixture pm(frames[0]);
  Rect bounds = pm.all();
  int32_t max = 0;
  EXPECT_EQ(qt::GetMaxCompressionSize(pm.handle, &bounds, 0, quality, codec, anyCodec, &max), noErr);
  Handle data = qt::NewHandle(max);
  qt::MoveHHi(data);
  qt::HLock(data);
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(4));
  for (size_t i = 0; i < frames.size(); ++i) {
    pm.image = frames[i];
    (**pm.handle).baseAddr = reinterpret_cast<Ptr>(pm.image.bgrx.data());
    EXPECT_EQ(qt::CompressImage(pm.handle, &bounds, quality, codec, desc, *data), noErr);
    EXPECT_EQ(qt::AddMediaSample(parts.media, data, 0, uint32_t((**desc).dataSize), durations[i], desc, 1, 0,
                                 nullptr),
              noErr);
  }
  EXPECT_EQ(test::finishMovie(parts), noErr);
  qt::DisposeMovie(parts.movie);
  qt::HUnlock(data);
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  return test::saveFile(name, sink->bytes);
}

struct MovieCase {
  OSType codec;
  const char* ffmpegName;
  const char* file;
  CodecQ quality;
};

TEST(Codecs, MoviesOfEachLosslessCodecDecodeBitExactWithFfmpeg) {
  const MovieCase cases[] = {{kAnimationCodecType, "qtrle", "rle.mov", codecLosslessQuality},
                             {kRawCodecType, "rawvideo", "raw.mov", codecNormalQuality},
                             {kPNGCodecType, "png", "png.mov", codecHighQuality}};
  for (const MovieCase& c : cases) {
    // Odd width whose RGB row leaves 1 modulo 4; three different frames.
    std::vector<Image> frames = {test::screenLike(47, 21, 1), test::noise(47, 21, 2, 4),
                                 test::screenLike(47, 21, 3)};
    std::string path = recordMovie(c.codec, c.quality, frames, {100, 120, 95}, c.file);
    std::string probe = test::run(
        "ffprobe -v error -select_streams v:0 -show_entries "
        "stream=codec_name,width,height,time_base,nb_frames -of default=nw=1 " +
        path);
    EXPECT_EQ(probe, std::string("codec_name=") + c.ffmpegName +
                         "\nwidth=47\nheight=21\ntime_base=1/1000\nnb_frames=3\n");
    EXPECT_EQ(test::run("ffprobe -v error -show_entries packet=duration -of csv=p=0 " + path),
              "100\n120\n95\n");
    std::string rgb =
        test::run("ffmpeg -v error -i " + path + " -vsync passthrough -f rawvideo -pix_fmt rgb24 -");
    std::string expected;
    for (const Image& f : frames) {
      std::vector<uint8_t> v = test::toRgb(f);
      expected.append(v.begin(), v.end());
    }
    EXPECT_TRUE(rgb == expected) << c.file << ": decoded " << rgb.size() << " bytes, frames differ";
  }
}

TEST(Codecs, PhotoJpegMovieDecodesAboveItsFloor) {
  std::vector<Image> frames = {test::screenLike(64, 48, 5), test::screenLike(64, 48, 6)};
  std::string path = recordMovie(kJPEGCodecType, codecHighQuality, frames, {40, 60}, "jpeg.mov");
  EXPECT_EQ(test::run("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,nb_frames "
                      "-of default=nw=1 " +
                      path),
            "codec_name=mjpeg\nnb_frames=2\n");
  std::string rgb =
      test::run("ffmpeg -v error -i " + path + " -vsync passthrough -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), 2u * 64 * 48 * 3);
  std::vector<uint8_t> second(rgb.begin() + 64 * 48 * 3, rgb.end());
  // Same floor as the codec's own test at high quality on screen content.
  EXPECT_GE(test::psnr(second, test::toRgb(frames[1])), 27.0);
}

// Larger frames are coded as several restart intervals; ffmpeg reads them
// without a complaint and to the same floor.
TEST(Codecs, PhotoJpegMovieWithRestartIntervalsDecodesAboveItsFloor) {
  std::vector<Image> frames = {test::screenLike(640, 360, 8), test::screenLike(640, 360, 9)};
  std::string path = recordMovie(kJPEGCodecType, codecNormalQuality, frames, {50, 50}, "jpeg-restarts.mov");
  EXPECT_EQ(test::run("ffmpeg -v warning -i " + path + " -f null - 2>&1"), "");
  std::string rgb =
      test::run("ffmpeg -v error -i " + path + " -vsync passthrough -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), 2u * 640 * 360 * 3);
  for (size_t i = 0; i < 2; ++i) {
    const size_t frame = size_t(640) * 360 * 3;
    std::vector<uint8_t> decoded(rgb.begin() + ptrdiff_t(i * frame),
                                 rgb.begin() + ptrdiff_t((i + 1) * frame));
    EXPECT_GE(test::psnr(decoded, test::toRgb(frames[i])), 24.0) << "frame " << i;
  }
}

}  // namespace
