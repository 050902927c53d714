// Pacing with a scripted clock and cursor placement with plain numbers: the
// arithmetic that decides when a frame is taken, how long it lasts and where
// the cursor lands in it.
#include <windows.h>
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "capture/FrameGrabber.h"

namespace {

// A clock that answers a script of readings and counts how often it was read.
struct ScriptedClock {
  std::vector<uint32_t> readings;
  size_t next = 0;
};
ScriptedClock script;

uint32_t readScript() {
  EXPECT_LT(script.next, script.readings.size()) << "clock read more often than scripted";
  if (script.next >= script.readings.size()) return 0;
  return script.readings[script.next++];
}

void scriptClock(std::vector<uint32_t> readings) { script = ScriptedClock{std::move(readings), 0}; }

TEST(FramePacingTest, DueOnceTheIntervalHasPassedAcrossTheWrap) {
  EXPECT_FALSE(frameDue(1000, 1099, 100));
  EXPECT_TRUE(frameDue(1000, 1100, 100));  // equal to the interval is due
  EXPECT_TRUE(frameDue(1000, 1250, 100));
  // 0xFFFFFFF0 to 0x10 is 32 ms on a wrapped clock, not minus four billion.
  EXPECT_TRUE(frameDue(0xFFFFFFF0u, 0x10u, 32));
  EXPECT_FALSE(frameDue(0xFFFFFFF0u, 0x10u, 33));
}

TEST(FramePacingTest, FirstCallOnlyTakesTheReference) {
  uint32_t reference = 0;
  uint32_t elapsed = 77;
  scriptClock({5000, 5003});
  EXPECT_FALSE(paceFrame(reference, 100, readScript, elapsed));
  EXPECT_EQ(reference, 5000u);
  EXPECT_EQ(script.next, 2u);  // one reading for the reference, one for now
  EXPECT_EQ(elapsed, 77u);     // untouched when no frame is taken
}

TEST(FramePacingTest, FirstCallTakesAFrameWhenTheIntervalPassesBetweenItsReadings) {
  uint32_t reference = 0;
  uint32_t elapsed = 0;
  scriptClock({5000, 5100, 5101});
  EXPECT_TRUE(paceFrame(reference, 100, readScript, elapsed));
  EXPECT_EQ(elapsed, 100u);
  EXPECT_EQ(reference, 5101u);
}

TEST(FramePacingTest, ALateTurnTakesOneLongFrameAndTheNextIsDueFromTheFreshReference) {
  uint32_t reference = 1000;
  uint32_t elapsed = 0;
  // The turn comes 250 ms after the reference; the fresh reading taken for
  // the new reference is 1252, two ms later than now.
  scriptClock({1250, 1252, 1351, 1352, 1353});
  ASSERT_TRUE(paceFrame(reference, 100, readScript, elapsed));
  EXPECT_EQ(elapsed, 250u);
  EXPECT_EQ(reference, 1252u);
  EXPECT_EQ(script.next, 2u);
  // 99 ms after the new reference: not yet, and only one reading.
  EXPECT_FALSE(paceFrame(reference, 100, readScript, elapsed));
  EXPECT_EQ(script.next, 3u);
  EXPECT_EQ(reference, 1252u);
  // 100 ms after it: due, with no catch-up for the late frame.
  ASSERT_TRUE(paceFrame(reference, 100, readScript, elapsed));
  EXPECT_EQ(elapsed, 100u);
  EXPECT_EQ(reference, 1353u);
}

TEST(FramePacingTest, IntervalOneTakesAFrameWheneverTheClockMoved) {
  uint32_t reference = 1000;
  uint32_t elapsed = 0;
  scriptClock({1000, 1001, 1001, 1001, 1003, 1003});
  EXPECT_FALSE(paceFrame(reference, 1, readScript, elapsed));
  ASSERT_TRUE(paceFrame(reference, 1, readScript, elapsed));
  EXPECT_EQ(elapsed, 1u);
  EXPECT_EQ(reference, 1001u);
  EXPECT_FALSE(paceFrame(reference, 1, readScript, elapsed));
  ASSERT_TRUE(paceFrame(reference, 1, readScript, elapsed));
  EXPECT_EQ(elapsed, 2u);
  EXPECT_EQ(script.next, script.readings.size());
}

TEST(FramePacingTest, DurationsAddUpAcrossTheClocksWrap) {
  uint32_t reference = 0xFFFFFF00u;
  uint32_t elapsed = 0;
  scriptClock({0x00000010u, 0x00000010u});
  ASSERT_TRUE(paceFrame(reference, 100, readScript, elapsed));
  EXPECT_EQ(elapsed, 0x110u);
}

const POINT kOrigin = {0, 0};

TEST(CursorPlacementTest, HalvedOutputHalvesSizeAndPosition) {
  const CursorPlacement c = placeCursor(640, 480, 320, 240, POINT{101, 51}, kOrigin, kOrigin, 32.0f);
  ASSERT_TRUE(c.draw);
  EXPECT_EQ(c.x, 50);
  EXPECT_EQ(c.y, 25);
  EXPECT_EQ(c.width, 16);
  EXPECT_EQ(c.height, 16);
}

TEST(CursorPlacementTest, SizesAreTruncated) {
  // A scale of 2.5: 12.8 becomes 12.
  const CursorPlacement c = placeCursor(800, 600, 320, 240, POINT{0, 0}, kOrigin, kOrigin, 32.0f);
  ASSERT_TRUE(c.draw);
  EXPECT_EQ(c.width, 12);
  EXPECT_EQ(c.height, 12);
  // Each axis scales by itself.
  const CursorPlacement d = placeCursor(640, 480, 640, 240, POINT{10, 10}, kOrigin, kOrigin, 32.0f);
  EXPECT_EQ(d.width, 32);
  EXPECT_EQ(d.height, 16);
  EXPECT_EQ(d.x, 10);
  EXPECT_EQ(d.y, 5);
}

TEST(CursorPlacementTest, NegativePositionsTruncateTowardZero) {
  // Scale 3.2: px - hx = -5 gives -1.5625, drawn at -1, not -2.
  const CursorPlacement c = placeCursor(1024, 768, 320, 240, POINT{0, 3}, POINT{5, 0}, kOrigin, 32.0f);
  ASSERT_TRUE(c.draw);
  EXPECT_EQ(c.x, -1);
  EXPECT_EQ(c.y, 0);  // 3 / 3.2 = 0.9375
  // A pointer left of and above the client area.
  const CursorPlacement d = placeCursor(640, 480, 320, 240, POINT{-40, -21}, POINT{0, 0}, kOrigin, 32.0f);
  EXPECT_EQ(d.x, -20);
  EXPECT_EQ(d.y, -10);
}

TEST(CursorPlacementTest, TheHotspotMovesTheCursorUpAndLeft) {
  const CursorPlacement c = placeCursor(320, 240, 320, 240, POINT{100, 60}, POINT{16, 10}, kOrigin, 32.0f);
  EXPECT_EQ(c.x, 84);
  EXPECT_EQ(c.y, 50);
}

TEST(CursorPlacementTest, WithBordersTheClientOffsetShiftsTheCursor) {
  // Window copied whole at 1:1, client area 4 px in from the left edge and
  // 23 px down (frame and caption): client point (10, 10) is window point
  // (14, 33).
  const CursorPlacement c = placeCursor(648, 507, 648, 507, POINT{10, 10}, kOrigin, POINT{4, 23}, 32.0f);
  EXPECT_EQ(c.x, 14);
  EXPECT_EQ(c.y, 33);
  // Halved: the offset scales with the rest.
  const CursorPlacement d = placeCursor(648, 508, 324, 254, POINT{10, 10}, kOrigin, POINT{4, 24}, 32.0f);
  EXPECT_EQ(d.x, 7);
  EXPECT_EQ(d.y, 17);
}

TEST(CursorPlacementTest, NoCursorWithoutAScale) {
  // A minimised target is probed at 0 x 0.
  EXPECT_FALSE(placeCursor(0, 0, 320, 240, POINT{5, 5}, kOrigin, kOrigin, 32.0f).draw);
  EXPECT_FALSE(placeCursor(640, 0, 320, 240, POINT{5, 5}, kOrigin, kOrigin, 32.0f).draw);
  EXPECT_FALSE(placeCursor(0, 480, 320, 240, POINT{5, 5}, kOrigin, kOrigin, 32.0f).draw);
  EXPECT_FALSE(placeCursor(640, 480, 0, 240, POINT{5, 5}, kOrigin, kOrigin, 32.0f).draw);
  EXPECT_FALSE(placeCursor(-640, 480, 320, 240, POINT{5, 5}, kOrigin, kOrigin, 32.0f).draw);
}

TEST(CursorPlacementTest, NoCursorWhenItShrinksBelowOnePixel) {
  // 32 / (20000 / 320) = 0.512: DrawIconEx would read 0 as full size.
  EXPECT_FALSE(placeCursor(20000, 480, 320, 240, POINT{5, 5}, kOrigin, kOrigin, 32.0f).draw);
  const CursorPlacement c = placeCursor(10240, 7680, 320, 240, POINT{5, 5}, kOrigin, kOrigin, 32.0f);
  EXPECT_TRUE(c.draw);
  EXPECT_EQ(c.width, 1);
}

TEST(CursorPlacementTest, FarAwayPointersStayInRange) {
  // Scale 1/30000: a pointer 100,000 px away lands 3e9 px away, past what
  // 32 bits hold; it is pinned at the limit instead of overflowing.
  const CursorPlacement c = placeCursor(1, 1, 30000, 30000, POINT{100000, -100000}, kOrigin, kOrigin, 32.0f);
  ASSERT_TRUE(c.draw);
  EXPECT_EQ(c.x, INT32_MAX);
  EXPECT_EQ(c.y, INT32_MIN);
}

}  // namespace
