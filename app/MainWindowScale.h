#pragma once
#include <windows.h>

// The main window is laid out in pixels at 96 dpi (100%). These place it at
// the DPI of the monitor it is on: every rectangle and the font scale with
// it, so the layout at 100% is exactly the 96-dpi one.

// The outer size of a window of this style whose client area is
// clientAt96 scaled to dpi, with the frame, caption and menu bar of dpi.
SIZE outerSizeForDpi(SIZE clientAt96, DWORD style, DWORD exStyle, bool menu, UINT dpi);
// The client size of a window whose outer size at 96 dpi is outerAt96.
SIZE clientSizeAt96(SIZE outerAt96, DWORD style, DWORD exStyle, bool menu);
// The default GUI font for dpi: the stock font itself at the DPI it was
// made for, else a copy of it scaled to dpi. A scaled font lives until the
// DPI changes twice more, so controls never hold a deleted one.
HFONT guiFontForDpi(UINT dpi);
// A rectangle given at 96 dpi, at dpi: the edges are scaled, so controls
// that meet at 96 dpi meet at every DPI and none overlaps another.
RECT scaleRect(int x, int y, int w, int h, UINT dpi);

// The controls of one window, remembered with their 96-dpi rectangles.
class ScaledControls {
 public:
  // Remembers control's place at 96 dpi.
  void add(HWND control, int x, int y, int w, int h);
  // Moves every remembered control to its place at dpi and gives it font.
  void place(UINT dpi, HFONT font) const;

 private:
  struct Placed {
    HWND control;
    int x, y, w, h;
  };
  static constexpr int kMaxControls = 24;
  Placed placed_[kMaxControls] = {};
  int count_ = 0;
};
