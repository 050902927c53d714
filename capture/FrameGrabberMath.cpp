// The arithmetic of a grab, kept apart from windows and device contexts so
// that it can be checked with a scripted clock and plain numbers.
#include <climits>

#include "capture/FrameGrabber.h"

bool frameDue(uint32_t reference, uint32_t now, uint32_t interval) {
  return static_cast<uint32_t>(now - reference) >= interval;
}

bool paceFrame(uint32_t& reference, uint32_t interval, ClockReader readClock, uint32_t& elapsed) {
  if (reference == 0) reference = readClock();
  const uint32_t now = readClock();
  if (!frameDue(reference, now, interval)) return false;
  elapsed = now - reference;
  reference = readClock();
  return true;
}

namespace {

// Truncates toward zero, kept inside the range of a 32-bit integer so that a
// far-away pointer cannot turn into an undefined conversion.
int32_t truncateToInt(double value) {
  if (value >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  if (value <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

CursorPlacement placeCursor(int32_t sourceWidth, int32_t sourceHeight, int32_t outputWidth,
                            int32_t outputHeight, POINT pointer, POINT hotspot, POINT clientOffset,
                            float baseSize) {
  CursorPlacement placement = {false, 0, 0, 0, 0};
  // A minimised target is probed at 0 x 0: no scale exists, so no cursor.
  if (sourceWidth <= 0 || sourceHeight <= 0 || outputWidth <= 0 || outputHeight <= 0) {
    return placement;
  }
  const double sx = static_cast<double>(sourceWidth) / outputWidth;
  const double sy = static_cast<double>(sourceHeight) / outputHeight;
  placement.width = truncateToInt(baseSize / sx);
  placement.height = truncateToInt(baseSize / sy);
  // DrawIconEx reads a size of 0 as "the cursor's own size", which would paint
  // a full-size cursor where it should shrink below one pixel.
  if (placement.width < 1 || placement.height < 1) return placement;
  // Signed differences: a hotspot further right than the pointer places the
  // cursor left of the frame, clipped there.
  const int64_t dx = static_cast<int64_t>(pointer.x) + clientOffset.x - static_cast<int64_t>(hotspot.x);
  const int64_t dy = static_cast<int64_t>(pointer.y) + clientOffset.y - static_cast<int64_t>(hotspot.y);
  placement.x = truncateToInt(static_cast<double>(dx) / sx);
  placement.y = truncateToInt(static_cast<double>(dy) / sy);
  placement.draw = true;
  return placement;
}
