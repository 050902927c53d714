#pragma once
#include <windows.h>

#include <cstdint>

class OffscreenFrame;

enum class TargetSearch : uint8_t {
  notFound,   // no window has the recorded title
  minimised,  // it has, but it is minimised (or has no size)
  found,      // it is recorded, a frame at a time
};

// What every capture step reads and writes: one process-wide record, alive for
// the whole run, owned by nobody in particular. One thread touches it.
struct CaptureState {
  char targetTitle[300] = "";
  // The title a running recording looks for: fixed at Grab, so a click in
  // the list while recording (or a target that closes and comes back) never
  // turns the recording to another window.
  char recordingTitle[300] = "";
  char destinationPath[300] = "c:\\grabbed.mov";
  int32_t sourceWidth = 0;
  int32_t sourceHeight = 0;
  // What the Width and Height fields show at start; Grab reads the fields
  // again, so the movie always has the size they show.
  int32_t outputWidth = 640;
  int32_t outputHeight = 480;
  uint8_t grabbing = 0;
  uint8_t quitRequested = 0;
  uint8_t captureCursor = 0;
  // 1 while the movie of a recording that ended could not be written: Stop
  // tries again.
  uint8_t unsaved = 0;
  // Set once the capture options ("Capture Cursor", "Capture Borders") were
  // taken for the running recording, when its target was first found; a
  // target that comes back is copied the same way.
  uint8_t captureOptionsTaken = 0;
  // How far the look for the target of the running recording got, so that a
  // Stop before any frame can say why nothing was recorded.
  TargetSearch targetSearch = TargetSearch::notFound;
  // When the last Stop ended (a tick count), so that the second click of a
  // double-click on Stop, or a second press while the movie was being
  // saved, which lands on Grab, does not start a new movie over the one
  // just saved.
  uint8_t stopMarked = 0;
  uint32_t stopEndedAt = 0;
  HWND mainWindow = nullptr;
  HWND listBox = nullptr;
  HWND grabButton = nullptr;
  HWND widthField = nullptr;
  HWND heightField = nullptr;
  HWND statusBar = nullptr;
  HWND sizeLabel = nullptr;
  HWND destinationLabel = nullptr;
  // The window being recorded, once found; null while it is looked for.
  HWND targetWindow = nullptr;
  OffscreenFrame* currentFrame = nullptr;
  uint32_t frameInterval = 0;
};

extern CaptureState captureState;
