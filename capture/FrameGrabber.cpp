#include "capture/FrameGrabber.h"

#include <commctrl.h>

#include "app/CaptureState.h"
#include "capture/FrameClock.h"
#include "capture/TargetPixels.h"
#include "movie/MovieWriter.h"
#include "movie/OffscreenFrame.h"

uint32_t lastFrameTime = 0;
float cursorBaseSize = 32.0f;
uint8_t bordersCaptured = 0;

HCURSOR cursorUnderMouse(bool& known) {
  known = true;
  POINT p = {};
  GetCursorPos(&p);
  HWND under = WindowFromPoint(p);
  const DWORD owner = under ? GetWindowThreadProcessId(under, nullptr) : 0;
  const DWORD self = GetCurrentThreadId();
  if (owner == self) return GetCursor();
  // Another thread's cursor is only visible with its input state attached;
  // the attachment lasts for this one query.
  if (!AttachThreadInput(self, owner, TRUE)) {
    known = false;
    return nullptr;
  }
  HCURSOR cursor = GetCursor();
  AttachThreadInput(self, owner, FALSE);
  return cursor;
}

namespace {

// The hotspot of a cursor whose shape can be read. The query hands out fresh
// bitmaps on every call; only the hotspot is needed, and keeping them would
// leak two GDI objects per frame.
bool readHotspot(HCURSOR cursor, POINT& hotspot) {
  ICONINFO info = {};
  if (!cursor || !GetIconInfo(cursor, &info)) return false;
  if (info.hbmMask) DeleteObject(info.hbmMask);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  hotspot = POINT{static_cast<LONG>(info.xHotspot), static_cast<LONG>(info.yHotspot)};
  return true;
}

}  // namespace

HCURSOR drawableCursor(HCURSOR shown, bool known, POINT& hotspot) {
  // A window may hide the pointer (a null cursor): then nothing is painted.
  // A cursor that could not be asked for is still somewhere on screen.
  if (!shown && known) return nullptr;
  if (shown && readHotspot(shown, hotspot)) return shown;
  // The system's arrow is shared and never destroyed: loading it again
  // costs a lookup, not a copy.
  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  return readHotspot(arrow, hotspot) ? arrow : nullptr;
}

namespace {

// pointer is where the pointer is inside the copied rectangle, in the
// target's own pixels, read with the copy.
void drawCursor(POINT pointer, HDC frameDC) {
  const CaptureState& s = captureState;
  POINT hotspot = {};
  bool known = true;
  HCURSOR shown = cursorUnderMouse(known);
  HCURSOR cursor = drawableCursor(shown, known, hotspot);
  if (!cursor) return;
  const CursorPlacement c = placeCursor(s.sourceWidth, s.sourceHeight, s.outputWidth, s.outputHeight, pointer,
                                        hotspot, POINT{0, 0}, cursorBaseSize);
  if (!c.draw) return;
  DrawIconEx(frameDC, c.x, c.y, cursor, c.width, c.height, 0, nullptr, DI_NORMAL);
}

// A destroyed window's handle may even be given to another window: forget
// it and let the main loop look for the target by title again, as it does
// before the first frame.
void dropLostTarget() {
  CaptureState& s = captureState;
  s.targetWindow = nullptr;
  if (s.statusBar) SendMessageA(s.statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>("Grabbing."));
}

}  // namespace

bool measureTarget(HWND target, bool borders, int32_t& width, int32_t& height) {
  // A minimised window's rectangles are its icon's, or nothing at all.
  if (!target || IsIconic(target)) return false;
  return measureInOwnTerms(systemWindowCalls(), target, borders, width, height) && width > 0 && height > 0;
}

GrabResult grabFrame(HWND targetWindow) {
  CaptureState& s = captureState;
  const uint32_t reference = lastFrameTime;
  uint32_t elapsed = 0;
  if (!paceFrame(lastFrameTime, s.frameInterval, clockMilliseconds, elapsed)) return {noErr, false};
  if (!IsWindow(targetWindow)) {
    // The next frame, once the target is back, lasts over the whole gap.
    lastFrameTime = reference;
    dropLostTarget();
    return {noErr, false};
  }
  OffscreenFrame* frame = s.currentFrame;
  // Nothing to draw into: no frame of this recording can be kept.
  if (!frame || !frame->dc) return {paramErr, false};
  // Measured on every frame, so the whole window (or the whole inside) is
  // recorded at whatever size it has now, on whatever monitor it is now.
  // While it is minimised nothing is copied and no cursor painted: the movie
  // holds the last picture, for as long as that lasts. A failed copy leaves
  // the previous pixels; the frame still goes out, so the movie's time keeps
  // step with the clock.
  const TargetCopy copy = copyTarget(systemWindowCalls(), targetWindow, bordersCaptured != 0, frame->dc,
                                     s.outputWidth, s.outputHeight, s.captureCursor != 0);
  if (copy.measured) {
    s.sourceWidth = copy.width;
    s.sourceHeight = copy.height;
    if (copy.pointerRead) drawCursor(copy.pointer, frame->dc);
  }
  if (movieWriter.addFrame(frame, static_cast<int32_t>(elapsed))) return {noErr, false};
  const OSErr error = movieWriter.lastError != noErr ? movieWriter.lastError : OSErr(paramErr);
  return {error, movieWriter.frameCompressed, movieWriter.encoderFailed};
}
