// The codec list and the compressor's checks, through the program's calls.
// The pixels themselves are checked by decoding the movies (check-movies.sh).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "QuickTimeShellTest.h"
#include "platform/QuickTimeServices.h"

namespace {

TEST(ImageCompression, ListsTheFourCodecsByName) {
  ASSERT_TRUE(quickTimeStarted());
  CodecNameSpecListPtr list = nullptr;
  ASSERT_EQ(GetCodecNameList(&list, 0), noErr);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count, 4);
  const struct {
    OSType type;
    const char* name;
  } expected[] = {{kAnimationCodecType, "Animation"},
                  {kRawCodecType, "None"},
                  {kJPEGCodecType, "Photo - JPEG"},
                  {kPNGCodecType, "PNG"}};
  for (int i = 0; i < 4; ++i) {
    const CodecNameSpec& e = list->list[i];
    EXPECT_EQ(e.cType, expected[i].type);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.typeName + 1), e.typeName[0]), expected[i].name);
  }
  EXPECT_EQ(DisposeCodecNameList(list), noErr);
  EXPECT_EQ(DisposeCodecNameList(list), paramErr) << "disposed twice";
  EXPECT_EQ(DisposeCodecNameList(nullptr), paramErr);
  EXPECT_EQ(GetCodecNameList(nullptr, 0), paramErr);
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
