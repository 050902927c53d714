#include "capture/FrameGrabber.h"

#include <commctrl.h>

#include "app/CaptureState.h"
#include "capture/FrameClock.h"
#include "movie/MovieWriter.h"
#include "movie/OffscreenFrame.h"

uint32_t lastFrameTime = 0;
float cursorBaseSize = 32.0f;
uint8_t bordersCaptured = 0;

HCURSOR cursorUnderMouse() {
  POINT p = {};
  GetCursorPos(&p);
  HWND under = WindowFromPoint(p);
  const DWORD owner = under ? GetWindowThreadProcessId(under, nullptr) : 0;
  const DWORD self = GetCurrentThreadId();
  if (owner == self) return GetCursor();
  // Another thread's cursor is only visible with its input state attached;
  // the attachment lasts for this one query.
  if (!AttachThreadInput(self, owner, TRUE)) return nullptr;
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

HCURSOR drawableCursor(HCURSOR shown, POINT& hotspot) {
  if (!shown) return nullptr;
  if (readHotspot(shown, hotspot)) return shown;
  // The system's arrow is shared and never destroyed: loading it again
  // costs a lookup, not a copy.
  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  return readHotspot(arrow, hotspot) ? arrow : nullptr;
}

namespace {

// Where the client area starts inside the whole window.
POINT clientOffsetInWindow(HWND window) {
  POINT origin = {0, 0};
  RECT frame = {};
  if (!ClientToScreen(window, &origin) || !GetWindowRect(window, &frame)) return POINT{0, 0};
  return POINT{origin.x - frame.left, origin.y - frame.top};
}

void drawCursor(HWND targetWindow, HDC frameDC) {
  const CaptureState& s = captureState;
  POINT hotspot = {};
  HCURSOR cursor = drawableCursor(cursorUnderMouse(), hotspot);
  if (!cursor) return;
  POINT pointer = {};
  GetCursorPos(&pointer);
  ScreenToClient(targetWindow, &pointer);
  // With borders the copied rectangle starts at the window's corner, so the
  // pointer's client position moves by where the client area sits in it.
  const POINT offset = bordersCaptured ? clientOffsetInWindow(targetWindow) : POINT{0, 0};
  const CursorPlacement c = placeCursor(s.sourceWidth, s.sourceHeight, s.outputWidth, s.outputHeight, pointer,
                                        hotspot, offset, cursorBaseSize);
  if (!c.draw) return;
  DrawIconEx(frameDC, c.x, c.y, cursor, c.width, c.height, 0, nullptr, DI_NORMAL);
}

// A device context of a destroyed window is stale (its handle may even be
// given to another window): give it back and let the main loop look for the
// target by title again, as it does before the first frame.
void dropLostTarget() {
  CaptureState& s = captureState;
  ReleaseDC(s.targetWindow, s.targetDC);
  s.targetDC = nullptr;
  s.targetWindow = nullptr;
  if (s.statusBar) SendMessageA(s.statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>("Grabbing."));
}

}  // namespace

OSErr grabFrame(HWND targetWindow, HDC targetDC) {
  const CaptureState& s = captureState;
  const uint32_t reference = lastFrameTime;
  uint32_t elapsed = 0;
  if (!paceFrame(lastFrameTime, s.frameInterval, clockMilliseconds, elapsed)) return noErr;
  if (!IsWindow(targetWindow)) {
    // The next frame, once the target is back, lasts over the whole gap.
    lastFrameTime = reference;
    dropLostTarget();
    return noErr;
  }
  OffscreenFrame* frame = s.currentFrame;
  if (!frame || !frame->dc) return noErr;
  // A failed copy leaves the previous pixels; the frame still goes out, so
  // the movie's time keeps step with the clock. A source of size 0 (a
  // minimised target) has nothing to copy, and Wine's StretchBlt divides by
  // that size, so it is not asked to.
  if (s.sourceWidth > 0 && s.sourceHeight > 0) {
    StretchBlt(frame->dc, 0, 0, s.outputWidth, s.outputHeight, targetDC, 0, 0, s.sourceWidth, s.sourceHeight,
               SRCCOPY);
  }
  if (s.captureCursor) drawCursor(targetWindow, frame->dc);
  // A frame that did not compress keeps its time for the next one; one the
  // file would not take ends the recording.
  if (movieWriter.addFrame(frame, static_cast<int32_t>(elapsed))) return noErr;
  return movieWriter.lastError;
}
