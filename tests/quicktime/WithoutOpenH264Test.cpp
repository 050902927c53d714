// QuickTime.qts in a folder without OpenH264 beside it (bin/without-openh264/,
// where this program and a copy of the library live), while the folder this
// runs in, and so the DLL search path, does hold the DLL: H.264 must not be
// offered, as the library takes OpenH264 from its own folder only.
#include <gtest/gtest.h>

#include <string>

#include "QuickTimeShellTest.h"
#include "platform/QuickTimeServices.h"

namespace {

#if defined(_WIN64)
const char kOpenH264Dll[] = "openh264-2.3.1-win64.dll";
#else
const char kOpenH264Dll[] = "openh264-2.3.1-win32.dll";
#endif

TEST(WithoutOpenH264, TheListHasTheFourCodecsAndH264IsUnknown) {
  ASSERT_TRUE(quickTimeStarted());
  ASSERT_FALSE(fileExists(programFolder() + kOpenH264Dll));
  char cwd[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, cwd);
  EXPECT_TRUE(fileExists(std::string(cwd) + "\\" + kOpenH264Dll))
      << "the DLL is in the current folder, where a search by name would find it";

  CodecNameSpecListPtr list = nullptr;
  ASSERT_EQ(GetCodecNameList(&list, 0), noErr);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count, 4);
  const char* names[] = {"Animation", "None", "Photo - JPEG", "PNG"};
  for (int i = 0; i < 4; ++i) {
    const CodecNameSpec& e = list->list[i];
    EXPECT_NE(e.cType, kH264CodecType);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.typeName + 1), e.typeName[0]), names[i]);
  }
  EXPECT_EQ(DisposeCodecNameList(list), noErr);

  TestFrame frame(32, 16);
  ASSERT_EQ(frame.result, noErr);
  frame.draw(1);
  Rect bounds;
  MacSetRect(&bounds, 0, 0, 32, 16);
  int32_t size = 0;
  EXPECT_EQ(
      GetMaxCompressionSize(frame.pixMap(), &bounds, 0, codecNormalQuality, kH264CodecType, anyCodec, &size),
      noCodecErr);
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
  ImageSequence seq = 7;
  EXPECT_EQ(CompressSequenceBegin(&seq, frame.pixMap(), nullptr, &bounds, nullptr, 0, kH264CodecType,
                                  anyCodec, codecNormalQuality, codecNormalQuality, 0, nullptr, 0, desc),
            noCodecErr);
  EXPECT_EQ(seq, 0);
  // The other codecs run in a sequence all the same.
  ASSERT_EQ(CompressSequenceBegin(&seq, frame.pixMap(), nullptr, &bounds, nullptr, 0, kPNGCodecType, anyCodec,
                                  codecNormalQuality, codecNormalQuality, 0, nullptr, 0, desc),
            noErr);
  ASSERT_EQ(
      GetMaxCompressionSize(frame.pixMap(), &bounds, 0, codecNormalQuality, kPNGCodecType, anyCodec, &size),
      noErr);
  Handle data = NewHandle(size);
  int32_t written = 0;
  uint8_t similarity = 9;
  EXPECT_EQ(CompressSequenceFrame(seq, frame.pixMap(), &bounds, 0, *data, &written, &similarity, nullptr),
            noErr);
  EXPECT_GT(written, 0);
  EXPECT_EQ(similarity, 0);
  EXPECT_EQ(CDSequenceEnd(seq), noErr);
  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
}

}  // namespace
