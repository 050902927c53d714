#include "capture/RecordingControl.h"

#include <windows.h>

#include <cstdio>
#include <new>

#include "app/CaptureState.h"
#include "capture/FrameGrabber.h"
#include "movie/MovieWriter.h"
#include "movie/OffscreenFrame.h"
#include "platform/ProgramFolder.h"
#include "Win32FileErrors.h"

const char kNoDestinationMessage[] = "Choose the movie file to record into first: click \"...\".";
const char kOutOfMemoryMessage[] = "Not enough memory to start recording.";
const char kFrameDurationRefusedMessage[] =
    "The frame duration must be a number of milliseconds from 1 to 2147483647: choose one in Settings.";
const char kSizeRefusedMessage[] =
    "This size cannot be recorded. Width and Height must be numbers up to 32767, and Width x Height "
    "at most 67108864 pixels (for example 8192 x 8192).";

namespace {

// Sizes at or below this read as "not set" and fall back to 320 x 240.
constexpr int32_t kSmallestSize = 16;

void tell(const char* text) { MessageBoxA(captureState.mainWindow, text, nullptr, MB_OK); }

// The movie writer's words for a file it cannot make, so a destination
// refused here reads as one refused when the file is created.
void tellCannotWrite(OSErr error) {
  char text[64];
  std::snprintf(text, sizeof text, "Impossible To Create Movie File : Error %d", int(error));
  MessageBoxA(captureState.mainWindow, text, "error", MB_OK);
}

void freeFrame() {
  delete captureState.currentFrame;
  captureState.currentFrame = nullptr;
}

}  // namespace

bool outputSizeRecordable(int32_t width, int32_t height) {
  if (width < 1 || height < 1 || width > kLargestSide || height > kLargestSide) return false;
  return int64_t(width) * height <= kLargestFramePixels;
}

OSErr probeDestination(const char* path) {
  // A read-only file is never replaced, whatever the file system would let
  // its owner do (the library refuses it the same way).
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return bdNamErr;
    if (attributes & FILE_ATTRIBUTE_READONLY) return wrPermErr;
  }
  // Opened as the movie will be, but kept as it is: no truncation, no write.
  HANDLE file = CreateFileA(path, GENERIC_WRITE | GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return osErrFromWin32(GetLastError());
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  CloseHandle(file);
  // The probe leaves no file where there was none.
  if (!existed) DeleteFileA(path);
  return noErr;
}

bool startRecording(const char* path) {
  CaptureState& s = captureState;
  if (!path || path[0] == '\0') {
    tell(kNoDestinationMessage);
    return false;
  }
  freeFrame();
  // The settings dialog takes no other; anything else would be a frame
  // interval the movie cannot hold.
  if (movieWriter.frameDuration() < 1) {
    tell(kFrameDurationRefusedMessage);
    return false;
  }
  if (s.outputWidth <= kSmallestSize) s.outputWidth = 320;
  if (s.outputHeight <= kSmallestSize) s.outputHeight = 240;
  // Refused out loud: cut to the 16 bits that the graphics world takes, the
  // size would silently become another one, or nothing at all.
  if (!outputSizeRecordable(s.outputWidth, s.outputHeight)) {
    MessageBoxA(s.mainWindow, kSizeRefusedMessage, nullptr, MB_OK);
    return false;
  }
  // A destination that cannot be written is told now, not at the first
  // frame; the file there is not changed by asking.
  if (const OSErr error = probeDestination(path)) {
    tellCannotWrite(error);
    return false;
  }
  s.currentFrame = new (std::nothrow) OffscreenFrame();
  if (!s.currentFrame) {
    tell(kOutOfMemoryMessage);
    return false;
  }
  // The frame and the movie writer tell their own failures; a failed start
  // holds nothing that a later Stop could save.
  if (!s.currentFrame->create(static_cast<int16_t>(s.outputWidth), static_cast<int16_t>(s.outputHeight),
                              true) ||
      !movieWriter.open(path, s.currentFrame)) {
    freeFrame();
    return false;
  }
  SetStretchBltMode(s.currentFrame->dc, COLORONCOLOR);
  s.frameInterval = static_cast<uint32_t>(movieWriter.frameDuration());
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

bool recordingHasFile() { return movieWriter.fileCreated(); }

bool movieAwaitsFinish() { return movieWriter.movie != nullptr; }

void abandonRecording() { movieWriter.abandon(); }
