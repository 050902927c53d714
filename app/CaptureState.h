#pragma once
#include <windows.h>

#include <cstdint>

class OffscreenFrame;

// What every capture step reads and writes: one process-wide record, alive for
// the whole run, owned by nobody in particular. One thread touches it.
struct CaptureState {
  char targetTitle[300] = "";
  char destinationPath[300] = "c:\\grabbed.mov";
  int32_t sourceWidth = 0;
  int32_t sourceHeight = 0;
  // The fields show 640 x 480 at start, but the stored size only follows them
  // once they report a change.
  int32_t outputWidth = 320;
  int32_t outputHeight = 240;
  uint8_t grabbing = 0;
  uint8_t quitRequested = 0;
  uint8_t captureCursor = 0;
  // 1 while the movie of a recording that ended could not be written: Stop
  // tries again.
  uint8_t unsaved = 0;
  HWND mainWindow = nullptr;
  HWND listBox = nullptr;
  HWND grabButton = nullptr;
  HWND widthField = nullptr;
  HWND heightField = nullptr;
  HWND statusBar = nullptr;
  HWND sizeLabel = nullptr;
  HWND destinationLabel = nullptr;
  HDC targetDC = nullptr;
  HWND targetWindow = nullptr;
  OffscreenFrame* currentFrame = nullptr;
  uint32_t frameInterval = 0;
};

extern CaptureState captureState;
