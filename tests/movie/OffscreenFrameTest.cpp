// The offscreen frame against the test library: sizes, formats, the device
// context on the world's pixels, release order and the failure message.
#include "movie/OffscreenFrame.h"

#include <gtest/gtest.h>

#include <cstring>

#include "FakeQuickTime.h"
#include "MovieTestSupport.h"
#include "TestSupport.h"
#include "app/CaptureState.h"

namespace {

class OffscreenFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qt = resetFakeQuickTime();
    ASSERT_NE(qt, nullptr) << "the test library is not the bound QuickTime.qts";
  }
  FakeQuickTimeState* qt = nullptr;
};

TEST_F(OffscreenFrameTest, SizesBelowOneAreRefusedSilently) {
  MessageBoxWatcher watcher;
  const struct { int16_t w, h; } sizes[] = {{0, 10}, {10, -5}, {-1, -1}, {0, 0}};
  for (const auto& size : sizes) {
    OffscreenFrame frame;
    EXPECT_FALSE(frame.create(size.w, size.h, true)) << size.w << " x " << size.h;
    EXPECT_EQ(frame.gworld, nullptr);
    EXPECT_EQ(frame.dc, nullptr);
  }
  EXPECT_EQ(std::strstr(qt->log, "QTNewGWorld"), nullptr) << qt->log;
  EXPECT_FALSE(watcher.waitForBox(300)) << "unexpected box: " << watcher.text;
  EXPECT_EQ(qt->liveWorlds, 0);
}

TEST_F(OffscreenFrameTest, MakesWorldOfTheSizeWithAContextOnItsPixels) {
  {
    OffscreenFrame frame;
    ASSERT_TRUE(frame.create(320, 240, true));
    EXPECT_EQ(qt->worldPixelFormat, 0u) << "the default format is asked with 0";
    EXPECT_EQ(qt->worldBounds.left, 0);
    EXPECT_EQ(qt->worldBounds.top, 0);
    EXPECT_EQ(qt->worldBounds.right, 320);
    EXPECT_EQ(qt->worldBounds.bottom, 240);
    EXPECT_EQ(frame.width, 320);
    EXPECT_EQ(frame.height, 240);
    ASSERT_NE(frame.gworld, nullptr);
    ASSERT_NE(frame.dc, nullptr);

    // GDI drawing through the frame's context lands in the world's pixel map.
    RECT r = {3, 2, 4, 3};
    HBRUSH brush = CreateSolidBrush(RGB(0x12, 0x34, 0x56));
    FillRect(frame.dc, &r, brush);
    DeleteObject(brush);
    GdiFlush();
    const PixMap& map = **frame.gworld->portPixMap;
    const auto* pixel = reinterpret_cast<const uint8_t*>(map.baseAddr) + 2 * map.rowStride + 3 * 4;
    EXPECT_EQ(pixel[0], 0x56);  // blue
    EXPECT_EQ(pixel[1], 0x34);
    EXPECT_EQ(pixel[2], 0x12);  // red
  }
  // The context went first, then the world, and nothing twice.
  EXPECT_EQ(qt->worldsDisposedWithLiveDC, 0);
  EXPECT_EQ(qt->liveWorlds, 0);
  EXPECT_EQ(qt->doubleReleases, 0);
}

TEST_F(OffscreenFrameTest, OneByOneAndBgraOnRequest) {
  OffscreenFrame frame;
  ASSERT_TRUE(frame.create(1, 1, false));
  EXPECT_EQ(qt->worldPixelFormat, fourCC("BGRA"));
  EXPECT_EQ(qt->worldBounds.right, 1);
  EXPECT_EQ(qt->worldBounds.bottom, 1);
}

TEST_F(OffscreenFrameTest, WorldFailureTellsTheForegroundWindowAndHoldsNothing) {
  qt->newGWorldResult = memFullErr;
  ForegroundWindow owner;
  MessageBoxWatcher watcher;
  {
    OffscreenFrame frame;
    EXPECT_FALSE(frame.create(640, 480, true));
    ASSERT_TRUE(watcher.waitForBox());
    EXPECT_EQ(watcher.text, "Impossible to create  GWorld");
    EXPECT_EQ(watcher.caption, "Error") << "the system's default caption";
    EXPECT_EQ(watcher.owner, owner.handle);
    EXPECT_TRUE(watcher.hasOkButton);
    EXPECT_EQ(frame.gworld, nullptr) << "whatever the library left in the slot is not kept";
    EXPECT_EQ(frame.dc, nullptr);
  }
  EXPECT_EQ(std::strstr(qt->log, "DisposeGWorld"), nullptr) << qt->log;
  EXPECT_EQ(qt->doubleReleases, 0);
}

// A world without a device context could never be drawn into: the frame
// says so and keeps nothing, so a recording of a blank picture never starts.
TEST_F(OffscreenFrameTest, AWorldWithoutADeviceContextIsToldAndReleased) {
  qt->portHDCFails = true;
  ForegroundWindow main;
  captureState.mainWindow = main.handle;
  OffscreenFrame frame;
  MessageBoxWatcher watcher;
  EXPECT_FALSE(frame.create(32, 24, true));
  ASSERT_TRUE(watcher.waitForBox());
  EXPECT_EQ(watcher.text, "Impossible to draw into the frame: QuickTime gave no device context.");
  EXPECT_EQ(watcher.owner, main.handle);
  EXPECT_EQ(frame.gworld, nullptr);
  EXPECT_EQ(frame.dc, nullptr);
  EXPECT_EQ(qt->liveWorlds, 0) << "the world is disposed of";
  captureState.mainWindow = nullptr;
}

TEST_F(OffscreenFrameTest, WithAMainWindowTheFailureIsModalToIt) {
  qt->newGWorldResult = memFullErr;
  ForegroundWindow main;
  ForegroundWindow foreground;  // in front, yet not the owner
  captureState.mainWindow = main.handle;
  MessageBoxWatcher watcher;
  {
    OffscreenFrame frame;
    EXPECT_FALSE(frame.create(640, 480, true));
    ASSERT_TRUE(watcher.waitForBox());
    EXPECT_EQ(watcher.owner, main.handle);
  }
  captureState.mainWindow = nullptr;
}

TEST_F(OffscreenFrameTest, DestroyingAFrameNeverCreatedReleasesNothing) {
  { OffscreenFrame frame; }
  EXPECT_STREQ(qt->log, "");
  EXPECT_EQ(qt->doubleReleases, 0);
}

}  // namespace
