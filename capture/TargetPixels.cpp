#include "capture/TargetPixels.h"

#include "platform/DpiFunctions.h"

namespace {

WindowCalls systemCalls() {
  const DpiFunctions& dpi = dpiFunctions();
  WindowCalls calls = {};
  calls.getWindowDpiAwarenessContext = dpi.getWindowDpiAwarenessContext;
  calls.setThreadDpiAwarenessContext = dpi.setThreadDpiAwarenessContext;
  calls.isIconic = IsIconic;
  calls.getClientRect = GetClientRect;
  calls.getWindowRect = GetWindowRect;
  calls.screenToClient = ScreenToClient;
  calls.getCursorPos = GetCursorPos;
  calls.getDC = GetDC;
  calls.getWindowDC = GetWindowDC;
  calls.releaseDC = ReleaseDC;
  calls.stretchBlt = StretchBlt;
  return calls;
}

// The measure itself, in whatever context the thread runs in now; with
// borders, origin is the window's corner on the screen.
bool measureHere(const WindowCalls& calls, HWND window, bool borders, RECT& r) {
  return window && (borders ? calls.getWindowRect(window, &r) : calls.getClientRect(window, &r));
}

// The pointer inside the copied rectangle: client coordinates, or with
// borders relative to the window's corner (windowRect, read in this same
// context).
bool readPointer(const WindowCalls& calls, HWND target, bool borders, const RECT& windowRect,
                 POINT& pointer) {
  if (!calls.getCursorPos(&pointer)) return false;
  if (borders) {
    pointer.x -= windowRect.left;
    pointer.y -= windowRect.top;
    return true;
  }
  return calls.screenToClient(target, &pointer) != FALSE;
}

}  // namespace

const WindowCalls& systemWindowCalls() {
  static const WindowCalls calls = systemCalls();
  return calls;
}

TargetDpiScope::TargetDpiScope(const WindowCalls& calls, HWND window) : calls_(calls) {
  if (!window || !calls.getWindowDpiAwarenessContext || !calls.setThreadDpiAwarenessContext) return;
  DPI_AWARENESS_CONTEXT own = calls.getWindowDpiAwarenessContext(window);
  // Null for a window that is gone; the switch answers null when refused.
  if (own) previous_ = calls.setThreadDpiAwarenessContext(own);
}

TargetDpiScope::~TargetDpiScope() {
  if (previous_) calls_.setThreadDpiAwarenessContext(previous_);
}

bool measureInOwnTerms(const WindowCalls& calls, HWND window, bool borders, int32_t& width, int32_t& height) {
  TargetDpiScope own(calls, window);
  RECT r = {};
  if (!measureHere(calls, window, borders, r)) return false;
  width = r.right - r.left;
  height = r.bottom - r.top;
  return true;
}

TargetCopy copyTarget(const WindowCalls& calls, HWND target, bool borders, HDC destination,
                      int32_t outputWidth, int32_t outputHeight, bool wantPointer) {
  TargetCopy copy = {false, 0, 0, false, POINT{0, 0}};
  // A minimised window's rectangles are its icon's, or nothing at all.
  if (!target || calls.isIconic(target)) return copy;
  TargetDpiScope own(calls, target);
  RECT r = {};
  if (!measureHere(calls, target, borders, r)) return copy;
  copy.width = r.right - r.left;
  copy.height = r.bottom - r.top;
  if (copy.width <= 0 || copy.height <= 0) return copy;
  copy.measured = true;
  // Taken, used and given back in the target's context: a device context
  // kept from one frame to the next would outlive a change of context.
  if (HDC source = borders ? calls.getWindowDC(target) : calls.getDC(target)) {
    calls.stretchBlt(destination, 0, 0, outputWidth, outputHeight, source, 0, 0, copy.width, copy.height,
                     SRCCOPY);
    calls.releaseDC(target, source);
  }
  if (wantPointer) copy.pointerRead = readPointer(calls, target, borders, r, copy.pointer);
  return copy;
}
