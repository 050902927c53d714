#pragma once
#include <windows.h>

#include <cstdint>

#include "QuickTimeTypes.h"

// The picture a recording draws into and compresses from: a QuickTime
// offscreen graphics world and a Windows device context on the same pixels.
// The frame owns both; the device context goes first when it is destroyed.
class OffscreenFrame {
 public:
  OffscreenFrame();
  ~OffscreenFrame();
  OffscreenFrame(const OffscreenFrame&) = delete;
  OffscreenFrame& operator=(const OffscreenFrame&) = delete;

  // Makes the graphics world (pixel format 0 with useDefaultFormat, else
  // 'BGRA') and its device context. False, silently, for a size below 1;
  // false after a message box (owned by the main window, or without one by
  // the foreground window) when QuickTime cannot make the world or give its
  // device context; nothing is held then.
  bool create(int16_t width, int16_t height, bool useDefaultFormat);

  GWorldPtr gworld;
  HDC dc;
  int16_t width;
  int16_t height;
};
