// The codec list and the compressor's checks, through the program's calls.
// The pixels themselves are checked by decoding the movies (check-movies.sh).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "QuickTimeShellTest.h"
#include "platform/QuickTimeServices.h"

namespace {

#if defined(_WIN64)
const char kOpenH264Dll[] = "openh264-2.3.1-win64.dll";
#else
const char kOpenH264Dll[] = "openh264-2.3.1-win32.dll";
#endif

// OpenH264 lies beside QuickTime.qts in this folder: H.264 comes after the
// four codecs that need nothing.
TEST(ImageCompression, ListsTheFourCodecsThenH264ByName) {
  ASSERT_TRUE(quickTimeStarted());
  ASSERT_TRUE(fileExists(programFolder() + kOpenH264Dll)) << "the build puts it beside QuickTime.qts";
  CodecNameSpecListPtr list = nullptr;
  ASSERT_EQ(GetCodecNameList(&list, 0), noErr);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count, 5);
  const struct {
    OSType type;
    const char* name;
  } expected[] = {{kAnimationCodecType, "Animation"},
                  {kRawCodecType, "None"},
                  {kJPEGCodecType, "Photo - JPEG"},
                  {kPNGCodecType, "PNG"},
                  {kH264CodecType, "H.264"}};
  for (int i = 0; i < 5; ++i) {
    const CodecNameSpec& e = list->list[i];
    EXPECT_EQ(e.cType, expected[i].type);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.typeName + 1), e.typeName[0]), expected[i].name);
  }
  EXPECT_EQ(DisposeCodecNameList(list), noErr);
  EXPECT_EQ(DisposeCodecNameList(list), paramErr) << "disposed twice";
  EXPECT_EQ(DisposeCodecNameList(nullptr), paramErr);
  EXPECT_EQ(GetCodecNameList(nullptr, 0), paramErr);
}

// An H.264 sequence of an odd-sized frame through the program's calls. The
// stream goes to quicktime-h264/ as an Annex B file for ffmpeg to decode
// (check-h264.sh): every frame, key frames at 0 and 6 only.
TEST(ImageCompression, CompressesAnH264SequenceThatFfmpegDecodes) {
  ASSERT_TRUE(quickTimeStarted());
  const std::string folder = programFolder() + "quicktime-h264";
  DeleteFileA((folder + "\\sequence.h264").c_str());  // never a stale one for the check
  TestFrame frame(161, 99);
  ASSERT_EQ(frame.result, noErr);
  frame.draw(0);
  Rect bounds;
  MacSetRect(&bounds, 0, 0, 161, 99);
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
  ImageSequence seq = 0;
  ASSERT_EQ(CompressSequenceBegin(&seq, frame.pixMap(), nullptr, &bounds, nullptr, 0, kH264CodecType,
                                  anyCodec, codecNormalQuality, codecNormalQuality, 0, nullptr, 0, desc),
            noErr);
  ASSERT_NE(seq, 0);
  const int32_t idSize = (*desc)->idSize;
  ASSERT_GT(idSize, 86 + 8);
  const uint8_t* avcC = reinterpret_cast<const uint8_t*>(*desc) + 86;
  ASSERT_EQ(std::memcmp(avcC + 4, "avcC", 4), 0);
  EXPECT_EQ((*desc)->width, 162) << "odd sizes are coded one larger";
  EXPECT_EQ((*desc)->height, 100);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>((*desc)->name + 1), (*desc)->name[0]), "H.264");

  // Annex B: the parameter sets of avcC, then every NAL unit of every
  // sample, each after a start code.
  std::string stream;
  const uint8_t startCode[4] = {0, 0, 0, 1};
  auto nal = [&](const uint8_t* p, size_t n) {
    stream.append(reinterpret_cast<const char*>(startCode), 4);
    stream.append(reinterpret_cast<const char*>(p), n);
  };
  const size_t spsLength = size_t(avcC[14]) << 8 | avcC[15];
  nal(avcC + 16, spsLength);
  nal(avcC + 16 + spsLength + 3, size_t(avcC[16 + spsLength + 1]) << 8 | avcC[16 + spsLength + 2]);

  int32_t max = 0;
  ASSERT_EQ(
      GetMaxCompressionSize(frame.pixMap(), &bounds, 0, codecNormalQuality, kH264CodecType, anyCodec, &max),
      noErr);
  Handle data = NewHandle(max);
  ASSERT_NE(data, nullptr);
  for (int i = 0; i < 10; ++i) {
    frame.draw(i);
    int32_t size = 0;
    uint8_t similarity = 99;
    const CodecFlags flags = i == 6 ? codecFlagForceKeyFrame : 0;
    ASSERT_EQ(CompressSequenceFrame(seq, frame.pixMap(), &bounds, flags, *data, &size, &similarity, nullptr),
              noErr)
        << "frame " << i;
    EXPECT_EQ(similarity == 0, i == 0 || i == 6) << "frame " << i;
    EXPECT_EQ((*desc)->dataSize, size);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(*data);
    for (int32_t at = 0; at + 4 <= size;) {
      const size_t n = size_t(p[at]) << 24 | size_t(p[at + 1]) << 16 | size_t(p[at + 2]) << 8 | p[at + 3];
      ASSERT_LE(at + 4 + int32_t(n), size) << "lengths cover the sample exactly";
      nal(p + at + 4, n);
      at += 4 + int32_t(n);
    }
  }
  EXPECT_EQ(CDSequenceEnd(seq), noErr);
  EXPECT_EQ(CDSequenceEnd(seq), paramErr) << "ended twice";
  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));

  CreateDirectoryA(folder.c_str(), nullptr);
  FILE* out = std::fopen((folder + "\\sequence.h264").c_str(), "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(std::fwrite(stream.data(), 1, stream.size(), out), stream.size());
  std::fclose(out);
}

TEST(ImageCompression, BadArgumentsAreRefusedWithoutWriting) {
  ASSERT_TRUE(quickTimeStarted());
  TestFrame frame(47, 31);
  ASSERT_EQ(frame.result, noErr);
  frame.draw(0);
  Rect bounds;
  MacSetRect(&bounds, 0, 0, 47, 31);
  int32_t size = 0;
  ASSERT_EQ(GetMaxCompressionSize(frame.pixMap(), &bounds, 0, codecNormalQuality, kAnimationCodecType,
                                  anyCodec, &size),
            noErr);
  ASSERT_GT(size, 0);
  EXPECT_EQ(
      GetMaxCompressionSize(frame.pixMap(), &bounds, 0, codecNormalQuality, fourCC("xxxx"), anyCodec, &size),
      noCodecErr);
  Rect outside;
  MacSetRect(&outside, 0, 0, 48, 31);
  EXPECT_EQ(GetMaxCompressionSize(frame.pixMap(), &outside, 0, codecNormalQuality, kAnimationCodecType,
                                  anyCodec, &size),
            paramErr);
  EXPECT_EQ(
      GetMaxCompressionSize(nullptr, &bounds, 0, codecNormalQuality, kAnimationCodecType, anyCodec, &size),
      nilHandleErr);

  ASSERT_EQ(
      GetMaxCompressionSize(frame.pixMap(), &bounds, 0, codecNormalQuality, kRawCodecType, anyCodec, &size),
      noErr);
  Handle data = NewHandle(size);
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
  EXPECT_EQ(CompressImage(frame.pixMap(), &outside, codecNormalQuality, kRawCodecType, desc, *data),
            paramErr);
  EXPECT_EQ(CompressImage(frame.pixMap(), &bounds, codecNormalQuality, fourCC("xxxx"), desc, *data),
            noCodecErr);
  EXPECT_EQ(CompressImage(frame.pixMap(), &bounds, 0x401, kRawCodecType, desc, *data), paramErr);
  Handle small = NewHandle(size - 1);
  EXPECT_EQ(CompressImage(frame.pixMap(), &bounds, codecNormalQuality, kRawCodecType, desc, *small), paramErr)
      << "a buffer smaller than the worst case";
  EXPECT_EQ(CompressImage(frame.pixMap(), &bounds, codecNormalQuality, kRawCodecType, nullptr, *data),
            nilHandleErr);
  ASSERT_EQ(CompressImage(frame.pixMap(), &bounds, codecNormalQuality, kRawCodecType, desc, *data), noErr);
  EXPECT_EQ((*desc)->width, 47);
  EXPECT_EQ((*desc)->height, 31);
  EXPECT_EQ((*desc)->depth, 24);
  EXPECT_GT((*desc)->dataSize, 0);

  // A disposed world's pixel map is refused, not read.
  PixMapHandle pm = frame.pixMap();
  DeleteDC(frame.dc);
  frame.dc = nullptr;
  DisposeGWorld(frame.world);
  frame.world = nullptr;
  EXPECT_EQ(CompressImage(pm, &bounds, codecNormalQuality, kRawCodecType, desc, *data), memWZErr);
  DisposeHandle(small);
  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
}

}  // namespace
