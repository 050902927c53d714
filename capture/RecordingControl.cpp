#include "capture/RecordingControl.h"

#include <new>

#include "app/CaptureState.h"
#include "capture/FrameGrabber.h"
#include "movie/MovieWriter.h"
#include "movie/OffscreenFrame.h"
#include "platform/ProgramFolder.h"

const char kSizeRefusedMessage[] =
    "This size cannot be recorded. Width and Height must be numbers up to 32767, and Width x Height "
    "at most 67108864 pixels (for example 8192 x 8192).";

namespace {

// Sizes at or below this read as "not set" and fall back to 320 x 240.
constexpr int32_t kSmallestSize = 16;

void freeFrame() {
  delete captureState.currentFrame;
  captureState.currentFrame = nullptr;
}

}  // namespace

bool outputSizeRecordable(int32_t width, int32_t height) {
  if (width < 1 || height < 1 || width > kLargestSide || height > kLargestSide) return false;
  return int64_t(width) * height <= kLargestFramePixels;
}

bool startRecording(const char* path) {
  CaptureState& s = captureState;
  if (!path || path[0] == '\0') return false;
  freeFrame();
  if (s.outputWidth <= kSmallestSize) s.outputWidth = 320;
  if (s.outputHeight <= kSmallestSize) s.outputHeight = 240;
  // Refused out loud: cut to the 16 bits that the graphics world takes, the
  // size would silently become another one, or nothing at all.
  if (!outputSizeRecordable(s.outputWidth, s.outputHeight)) {
    MessageBoxA(s.mainWindow, kSizeRefusedMessage, nullptr, MB_OK);
    return false;
  }
  // The program has no message for an allocation failure: the start fails
  // and the window stays idle.
  s.currentFrame = new (std::nothrow) OffscreenFrame();
  if (!s.currentFrame) return false;
  // A failed frame or movie stays until the next start or stop frees it.
  if (!s.currentFrame->create(static_cast<int16_t>(s.outputWidth), static_cast<int16_t>(s.outputHeight),
                              true)) {
    return false;
  }
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
  const bool open = movieWriter.movie != nullptr;
  // Without a movie, finish only lets go of what a failed start left.
  if (movieWriter.finish() || !open) return noErr;
  // A file that did not close is not saved either, though there is no movie
  // left to try again with.
  return movieWriter.lastError != noErr ? movieWriter.lastError : OSErr(ioErr);
}

bool movieAwaitsFinish() { return movieWriter.movie != nullptr; }

void abandonRecording() { movieWriter.abandon(); }
