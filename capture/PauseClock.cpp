#include "capture/PauseClock.h"

#include "capture/FrameClock.h"
#include "capture/FrameGrabber.h"

namespace {

bool paused = false;
// The clock reading at Pause; meaningful only while paused.
uint32_t pausedAt = 0;

}  // namespace

uint32_t referenceAfterPause(uint32_t reference, uint32_t pausedAt, uint32_t resumedAt) {
  if (reference == 0) return 0;
  const uint32_t moved = reference + static_cast<uint32_t>(resumedAt - pausedAt);
  return moved != 0 ? moved : UINT32_MAX;
}

bool recordingPaused() { return paused; }

void pauseRecording() {
  if (paused) return;
  pausedAt = clockMilliseconds();
  paused = true;
}

void resumeRecording() {
  if (!paused) return;
  lastFrameTime = referenceAfterPause(lastFrameTime, pausedAt, clockMilliseconds());
  paused = false;
}

void clearPause() { paused = false; }
