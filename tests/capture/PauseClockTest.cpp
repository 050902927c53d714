// Durations across a pause: the arithmetic with a scripted clock, including
// the 32-bit clock wrapping while paused, and the pause state on the real
// clock.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "capture/FrameClock.h"
#include "capture/FrameGrabber.h"
#include "capture/PauseClock.h"

namespace {

// A clock that reads what the test sets; every reading advances nothing.
uint32_t scripted = 0;
uint32_t readScripted() { return scripted; }

// A recording driven turn by turn on the scripted clock: one grab per
// millisecond, pauses given as [from, to) in clock time. Returns the
// durations of the frames, as the grabber hands them to the writer.
struct Recording {
  uint32_t interval = 100;
  uint32_t reference = 0;
  bool paused = false;
  uint32_t pausedAt = 0;
  std::vector<uint32_t> frames;

  void turn() {
    if (paused) return;
    uint32_t elapsed = 0;
    if (paceFrame(reference, interval, readScripted, elapsed)) frames.push_back(elapsed);
  }
  void pause() {
    paused = true;
    pausedAt = scripted;
  }
  void resume() {
    paused = false;
    reference = referenceAfterPause(reference, pausedAt, scripted);
  }
  // Runs from the clock's reading now for ms milliseconds, a turn each.
  void run(uint32_t ms) {
    for (uint32_t i = 0; i < ms; ++i, ++scripted) turn();
    turn();
  }
  uint64_t total() const {
    uint64_t sum = 0;
    for (uint32_t d : frames) sum += d;
    return sum;
  }
};

TEST(ReferenceAfterPause, MovesOnByThePauseAndKeepsTheTimeBeforeIt) {
  // Frame at 1000; paused at 1040 for 3000 ms: 40 ms are kept, and the
  // next frame is due 60 ms after Resume.
  EXPECT_EQ(referenceAfterPause(1000, 1040, 4040), 4000u);
  EXPECT_FALSE(frameDue(4000, 4099, 100));
  EXPECT_TRUE(frameDue(4000, 4100, 100));
  // A pause of no time changes nothing.
  EXPECT_EQ(referenceAfterPause(1000, 1040, 1040), 1000u);
  // No reference yet: the first grab after Resume takes one.
  EXPECT_EQ(referenceAfterPause(0, 1040, 4040), 0u);
}

TEST(ReferenceAfterPause, TheClockWrappingDuringThePauseChangesNothing) {
  // Frame 0x100 ms before the wrap, paused 0x50 ms later, resumed 0x1000 ms
  // after the pause began, past the wrap.
  const uint32_t frame = 0xFFFFFF00u;
  const uint32_t pausedAt = 0xFFFFFF50u;
  const uint32_t resumedAt = pausedAt + 0x1000u;  // wraps to 0x00000F50
  ASSERT_LT(resumedAt, pausedAt);
  const uint32_t moved = referenceAfterPause(frame, pausedAt, resumedAt);
  EXPECT_EQ(moved, 0x00000F00u);
  EXPECT_EQ(uint32_t(resumedAt - moved), 0x50u) << "the 80 ms before the pause are kept";
  EXPECT_FALSE(frameDue(moved, resumedAt + 19, 100));
  EXPECT_TRUE(frameDue(moved, resumedAt + 20, 100));
  // Paused before the wrap, the reference itself wraps: the same.
  EXPECT_EQ(referenceAfterPause(0xFFFFFFF0u, 0xFFFFFFF8u, 0x00000010u), 0x00000008u);
}

TEST(ReferenceAfterPause, AReferenceMovedOntoZeroIsNotTakenForNone) {
  // 0 means "no reference": one millisecond back instead.
  EXPECT_EQ(referenceAfterPause(0xFFFFFF00u, 0xFFFFFF10u, 0x00000010u), 0xFFFFFFFFu);
}

TEST(PausedRecording, TheMovieSkipsThePauseAtThePaceItHad) {
  for (uint32_t start : {1000u, 0xFFFFFFFFu - 3950u, 0xFFFFFFFFu - 1200u}) {
    SCOPED_TRACE(start);
    scripted = start;
    Recording r;
    r.run(2950);  // frames up to 2900 (the first reference is start)
    r.pause();    // 50 ms after the last frame
    r.run(3000);  // paused: nothing
    const size_t before = r.frames.size();
    r.resume();
    r.run(3050);
    // 6000 ms recorded: 60 frames of 100 ms, none longer, none shorter.
    EXPECT_EQ(before, 29u);
    ASSERT_EQ(r.frames.size(), 60u);
    for (uint32_t d : r.frames) EXPECT_EQ(d, 100u);
    EXPECT_EQ(r.total(), 6000u);
  }
}

TEST(PausedRecording, ManyQuickPairsNeitherLoseNorDoubleAFrame) {
  srand(7);
  scripted = 0xFFFFFFFFu - 5000u;  // the clock wraps among the pauses
  Recording r;
  uint32_t active = 0;
  r.turn();  // the first reference
  for (int pair = 0; pair < 200; ++pair) {
    const uint32_t run = 1 + uint32_t(rand() % 250);
    r.run(run);
    active += run;
    r.pause();
    r.run(uint32_t(rand() % 40));  // some pauses last no time at all
    r.resume();
    r.turn();
  }
  // Every frame lasts exactly the interval; the time since the last one is
  // what no frame holds yet.
  for (uint32_t d : r.frames) EXPECT_EQ(d, 100u);
  EXPECT_EQ(r.frames.size(), active / 100);
  EXPECT_EQ(r.total(), active - active % 100);
}

TEST(PausedRecording, ALateTurnAfterResumeGivesOneLongerFrameAsWithoutPause) {
  scripted = 5000;
  Recording r;
  r.run(1000);  // 10 frames, the last at 6000
  r.pause();
  scripted += 700;
  r.resume();
  scripted += 250;  // the first turn after Resume comes 250 ms late
  r.turn();
  ASSERT_EQ(r.frames.size(), 11u);
  EXPECT_EQ(r.frames.back(), 250u);
}

TEST(PauseState, PauseAndResumeMoveTheGrabbersReferenceByThePause) {
  calibrateClock();
  clearPause();
  EXPECT_FALSE(recordingPaused());
  resumeRecording();  // not paused: nothing to do
  lastFrameTime = clockMilliseconds() - 30;
  const uint32_t before = lastFrameTime;
  pauseRecording();
  EXPECT_TRUE(recordingPaused());
  Sleep(60);
  pauseRecording();  // a second Pause does not restart the pause
  Sleep(60);
  resumeRecording();
  EXPECT_FALSE(recordingPaused());
  const uint32_t moved = lastFrameTime - before;
  EXPECT_GE(moved, 120u) << "the whole pause is skipped";
  EXPECT_LT(moved, 60000u);

  // A reference not taken yet stays so; clearPause forgets a pause.
  lastFrameTime = 0;
  pauseRecording();
  Sleep(20);
  resumeRecording();
  EXPECT_EQ(lastFrameTime, 0u);
  pauseRecording();
  clearPause();
  EXPECT_FALSE(recordingPaused());
}

}  // namespace
