#include "capture/RecordingControl.h"

#include <new>

#include "app/CaptureState.h"
#include "capture/FrameGrabber.h"
#include "movie/MovieWriter.h"
#include "movie/OffscreenFrame.h"
#include "platform/ProgramFolder.h"

namespace {

// Sizes at or below this read as "not set" and fall back to 320 x 240.
constexpr int32_t kSmallestSize = 16;

// The graphics world takes 16-bit sizes: the low 16 bits, read as signed, so
// a size that reads negative or zero there fails the start.
int16_t low16(int32_t size) { return static_cast<int16_t>(static_cast<uint16_t>(size & 0xFFFF)); }

void freeFrame() {
  delete captureState.currentFrame;
  captureState.currentFrame = nullptr;
}

}  // namespace

bool startRecording(const char* path) {
  CaptureState& s = captureState;
  if (!path || path[0] == '\0') return false;
  freeFrame();
  // The program has no message for an allocation failure: the start fails
  // and the window stays idle.
  s.currentFrame = new (std::nothrow) OffscreenFrame();
  if (!s.currentFrame) return false;
  if (s.outputWidth <= kSmallestSize) s.outputWidth = 320;
  if (s.outputHeight <= kSmallestSize) s.outputHeight = 240;
  // A failed frame or movie stays until the next start or stop frees it.
  if (!s.currentFrame->create(low16(s.outputWidth), low16(s.outputHeight), true)) return false;
  SetStretchBltMode(s.currentFrame->dc, COLORONCOLOR);
  if (!movieWriter.open(path, s.currentFrame)) return false;
  const int32_t duration = movieWriter.frameDuration();
  s.frameInterval = static_cast<uint32_t>(duration < 1 ? 1 : duration);
  // Each recording starts its own timing: without this, the first grab of a
  // later recording would measure from the last frame of the previous one
  // and hand the whole pause to its first frame.
  lastFrameTime = 0;
  recordProgramFolder();
  return true;
}

OSErr stopRecording() {
  // The frame is not needed to write the movie, now or on a later try.
  freeFrame();
  if (movieWriter.finish() || !movieWriter.movie) return noErr;
  return movieWriter.lastError;
}

void abandonRecording() { movieWriter.abandon(); }
