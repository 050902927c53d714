// Starts that must fail before any movie is made, each with its message: no
// path, a size that cannot be recorded. No QuickTime is loaded here,
// so a start that got as far as QuickTime would show a message of its own.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "TestSupport.h"
#include "app/CaptureState.h"
#include "capture/FrameGrabber.h"
#include "capture/RecordingControl.h"
#include "movie/CompressionSettings.h"
#include "movie/OffscreenFrame.h"

namespace {

class RecordingControlTest : public ::testing::Test {
 protected:
  void SetUp() override { captureState = CaptureState{}; }
  void TearDown() override {
    stopRecording();
    captureState = CaptureState{};
  }
};

TEST_F(RecordingControlTest, AnEmptyOrMissingPathIsToldAndTouchesNothing) {
  auto* previous = new OffscreenFrame();
  captureState.currentFrame = previous;
  captureState.outputWidth = 0;
  for (const char* path : {"", static_cast<const char*>(nullptr)}) {
    MessageBoxWatcher told;
    EXPECT_FALSE(startRecording(path));
    ASSERT_TRUE(told.waitForBox());
    EXPECT_EQ(told.text, kNoDestinationMessage);
  }
  EXPECT_EQ(captureState.currentFrame, previous);  // not even the old frame is freed
  EXPECT_EQ(captureState.outputWidth, 0);          // nor the size corrected
}

// A frame interval the movie cannot be paced by is refused before anything
// is made, never turned into another.
TEST_F(RecordingControlTest, AFrameDurationBelowOneIsRefusedWithAMessage) {
  const CompressionSettings saved = compressionSettings;
  for (int32_t ms : {0, -1, INT32_MIN}) {
    compressionSettings.frameDurationMs = ms;
    MessageBoxWatcher told;
    EXPECT_FALSE(startRecording("c:\\never-written.mov")) << ms;
    ASSERT_TRUE(told.waitForBox()) << ms;
    EXPECT_EQ(told.text, kFrameDurationRefusedMessage);
    EXPECT_EQ(captureState.currentFrame, nullptr);
    EXPECT_EQ(captureState.frameInterval, 0u) << "no interval was fixed";
  }
  compressionSettings = saved;
  EXPECT_EQ(GetFileAttributesA("c:\\never-written.mov"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(RecordingControlTest, SizesThatCannotBeRecordedAreRefusedWithAMessage) {
  // Wider than a 16.16 track size holds, or more pixels than a frame may
  // have; cut to 16 bits, several would have become other sizes (0x18000
  // reads -32768, 0x10000 reads 0, 65552 reads 16).
  const struct {
    int32_t width, height;
  } sizes[] = {{0x18000, 240}, {0x10000, 240}, {32768, 240}, {65552, 240},
               {65537, 65537}, {320, 40000},   {8193, 8192}, {INT32_MAX, 240}};
  for (const auto& size : sizes) {
    captureState.outputWidth = size.width;
    captureState.outputHeight = size.height;
    MessageBoxWatcher boxes;
    EXPECT_FALSE(startRecording("c:\\never-written.mov")) << size.width << " x " << size.height;
    ASSERT_TRUE(boxes.waitForBox()) << size.width << " x " << size.height;
    EXPECT_STREQ(boxes.text.c_str(), kSizeRefusedMessage);
    EXPECT_EQ(captureState.currentFrame, nullptr) << "no frame is made for it";
  }
  EXPECT_EQ(GetFileAttributesA("c:\\never-written.mov"), INVALID_FILE_ATTRIBUTES);
}

TEST(OutputSize, RecordableUpTo32767ASideAnd2To26Pixels) {
  EXPECT_TRUE(outputSizeRecordable(1, 1));
  EXPECT_TRUE(outputSizeRecordable(32767, 17));
  EXPECT_TRUE(outputSizeRecordable(17, 32767));
  EXPECT_TRUE(outputSizeRecordable(8192, 8192));
  EXPECT_TRUE(outputSizeRecordable(32767, 2048));  // 67106816 pixels
  EXPECT_FALSE(outputSizeRecordable(32767, 2049));
  EXPECT_FALSE(outputSizeRecordable(8192, 8193));
  EXPECT_FALSE(outputSizeRecordable(32768, 17));
  EXPECT_FALSE(outputSizeRecordable(0, 240));
  EXPECT_FALSE(outputSizeRecordable(-320, 240));
}

TEST_F(RecordingControlTest, SmallSizesAreReplacedBeforeTheFrameIsMade) {
  captureState.outputWidth = 16;
  captureState.outputHeight = -5;
  // No QuickTime: the graphics world cannot be made, after a message.
  MessageBoxWatcher boxes;
  EXPECT_FALSE(startRecording("c:\\never-written.mov"));
  boxes.waitForBox(3000);
  EXPECT_EQ(captureState.outputWidth, 320);
  EXPECT_EQ(captureState.outputHeight, 240);
  captureState.outputWidth = 17;
  captureState.outputHeight = 17;
  MessageBoxWatcher again;
  EXPECT_FALSE(startRecording("c:\\never-written.mov"));
  again.waitForBox(3000);
  EXPECT_EQ(captureState.outputWidth, 17);
  EXPECT_EQ(captureState.outputHeight, 17);
}

TEST_F(RecordingControlTest, StopFreesTheFrameAndIsHarmlessTwice) {
  captureState.currentFrame = new OffscreenFrame();
  stopRecording();
  EXPECT_EQ(captureState.currentFrame, nullptr);
  stopRecording();
  EXPECT_EQ(captureState.currentFrame, nullptr);
}

}  // namespace
