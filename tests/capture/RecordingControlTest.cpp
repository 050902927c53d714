// Starts that must fail before any movie is made, and fail quietly: no path,
// or a size whose low 16 bits read as zero or negative. No QuickTime is
// loaded here, so a start that got as far as QuickTime would show a message.
#include <windows.h>
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/CaptureState.h"
#include "capture/FrameGrabber.h"
#include "capture/RecordingControl.h"
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

TEST_F(RecordingControlTest, AnEmptyOrMissingPathFailsSilentlyAndTouchesNothing) {
  MessageBoxWatcher boxes;
  auto* previous = new OffscreenFrame();
  captureState.currentFrame = previous;
  captureState.outputWidth = 0;
  EXPECT_FALSE(startRecording(""));
  EXPECT_FALSE(startRecording(nullptr));
  EXPECT_EQ(captureState.currentFrame, previous);  // not even the old frame is freed
  EXPECT_EQ(captureState.outputWidth, 0);          // nor the size corrected
  EXPECT_FALSE(boxes.waitForBox(300)) << boxes.text;
}

TEST_F(RecordingControlTest, ASizeReadingNegativeIn16BitsFailsBeforeQuickTime) {
  MessageBoxWatcher boxes;
  captureState.outputWidth = 0x18000;  // low 16 bits 0x8000: -32768
  captureState.outputHeight = 240;
  EXPECT_FALSE(startRecording("c:\\never-written.mov"));
  ASSERT_NE(captureState.currentFrame, nullptr);  // kept until the next start or stop
  EXPECT_EQ(captureState.currentFrame->gworld, nullptr);
  captureState.outputWidth = 0x10000;  // low 16 bits 0, yet above 16
  EXPECT_FALSE(startRecording("c:\\never-written.mov"));
  EXPECT_FALSE(boxes.waitForBox(300)) << boxes.text;
  EXPECT_EQ(GetFileAttributesA("c:\\never-written.mov"), INVALID_FILE_ATTRIBUTES);
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
