#pragma once
#include <windows.h>

#include <cstdint>

// Measuring a target window and copying its pixels in the target's own terms.
//
// At display scalings above 100% Windows gives a program the sizes and
// positions of other windows in the program's own DPI awareness (an unaware
// program sees every window scaled to 96 dpi), while a window's device
// context always holds the window's own pixels. A measure taken in one
// program's terms and a copy taken from another window's pixels disagree,
// and the copy comes out cropped or padded. So every measure, every copy and
// every pointer position is taken with the calling thread switched into the
// target window's own DPI awareness context, and a device context is taken
// and given back within that same switch, never used across two contexts.

// The platform calls this takes, as a table, so that a test can stand in a
// display of several monitors and scalings for the real one.
struct WindowCalls {
  // Both null on systems without per-thread DPI contexts (before Windows 10
  // 1607): there everything runs in the process's own terms, as it did.
  DPI_AWARENESS_CONTEXT(WINAPI* getWindowDpiAwarenessContext)(HWND);
  DPI_AWARENESS_CONTEXT(WINAPI* setThreadDpiAwarenessContext)(DPI_AWARENESS_CONTEXT);
  BOOL(WINAPI* isIconic)(HWND);
  BOOL(WINAPI* getClientRect)(HWND, LPRECT);
  BOOL(WINAPI* getWindowRect)(HWND, LPRECT);
  BOOL(WINAPI* screenToClient)(HWND, LPPOINT);
  BOOL(WINAPI* getCursorPos)(LPPOINT);
  HDC(WINAPI* getDC)(HWND);
  HDC(WINAPI* getWindowDC)(HWND);
  int(WINAPI* releaseDC)(HWND, HDC);
  BOOL(WINAPI* stretchBlt)(HDC, int, int, int, int, HDC, int, int, int, int, DWORD);
};

// The system's own calls.
const WindowCalls& systemWindowCalls();

// While it lives, the calling thread runs in the window's own DPI awareness
// context; the thread's previous context comes back at its end. Does nothing
// where the system has no such contexts, or for a window that is gone.
class TargetDpiScope {
 public:
  TargetDpiScope(const WindowCalls& calls, HWND window);
  ~TargetDpiScope();
  TargetDpiScope(const TargetDpiScope&) = delete;
  TargetDpiScope& operator=(const TargetDpiScope&) = delete;

 private:
  const WindowCalls& calls_;
  DPI_AWARENESS_CONTEXT previous_ = nullptr;
};

// The window's client area, or the whole window with borders, in its own
// pixels: the rectangle a recording of it copies. False when it cannot be
// read (no window, or one that is gone).
bool measureInOwnTerms(const WindowCalls& calls, HWND window, bool borders, int32_t& width, int32_t& height);

// What one frame took from its target.
struct TargetCopy {
  // False while the target has nothing worth copying (minimised, of size 0
  // or gone): then nothing was copied and no pointer read.
  bool measured;
  int32_t width;  // the rectangle copied, in the target's own pixels
  int32_t height;
  // Where the pointer is inside that rectangle (the client area, or the
  // whole window with borders), in the same pixels; read only on request.
  bool pointerRead;
  POINT pointer;
};

// Measures the target and copies the whole of that rectangle, stretched to
// outputWidth x outputHeight, into destination; with wantPointer also reads
// where the pointer is inside it. The copy's result is not looked at: a copy
// that fails leaves the destination's previous pixels.
TargetCopy copyTarget(const WindowCalls& calls, HWND target, bool borders, HDC destination,
                      int32_t outputWidth, int32_t outputHeight, bool wantPointer);
