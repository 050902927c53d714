#include "app/MainWindowScale.h"

#include "platform/DpiFunctions.h"

namespace {

// The frame, caption and menu bar around a client area, at dpi: from the
// per-DPI metrics where the system has them, else the system's own (which
// are then the only ones there are).
RECT frameAround(DWORD style, DWORD exStyle, bool menu, UINT dpi) {
  RECT r = {0, 0, 0, 0};
  const DpiFunctions& f = dpiFunctions();
  if (!f.adjustWindowRectExForDpi || !f.adjustWindowRectExForDpi(&r, style, menu, exStyle, dpi)) {
    r = RECT{0, 0, 0, 0};
    AdjustWindowRectEx(&r, style, menu, exStyle);
  }
  return r;
}

}  // namespace

SIZE clientSizeAt96(SIZE outerAt96, DWORD style, DWORD exStyle, bool menu) {
  const RECT f = frameAround(style, exStyle, menu, USER_DEFAULT_SCREEN_DPI);
  return SIZE{outerAt96.cx - (f.right - f.left), outerAt96.cy - (f.bottom - f.top)};
}

SIZE outerSizeForDpi(SIZE clientAt96, DWORD style, DWORD exStyle, bool menu, UINT dpi) {
  const RECT f = frameAround(style, exStyle, menu, dpi);
  return SIZE{scaleToDpi(clientAt96.cx, dpi) + (f.right - f.left),
              scaleToDpi(clientAt96.cy, dpi) + (f.bottom - f.top)};
}

HFONT guiFontForDpi(UINT dpi) {
  HFONT stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  const UINT stockDpi = systemDpi();
  if (dpi == stockDpi) return stock;
  static HFONT current = nullptr;
  static HFONT previous = nullptr;
  static UINT currentDpi = 0;
  if (current && currentDpi == dpi) return current;
  LOGFONTA font = {};
  if (!GetObjectA(stock, sizeof font, &font)) return stock;
  font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(stockDpi));
  font.lfWidth = MulDiv(font.lfWidth, static_cast<int>(dpi), static_cast<int>(stockDpi));
  HFONT scaled = CreateFontIndirectA(&font);
  if (!scaled) return stock;
  // The one before the current one is no longer in any control's hands.
  if (previous) DeleteObject(previous);
  previous = current;
  current = scaled;
  currentDpi = dpi;
  return scaled;
}

RECT scaleRect(int x, int y, int w, int h, UINT dpi) {
  return RECT{scaleToDpi(x, dpi), scaleToDpi(y, dpi), scaleToDpi(x + w, dpi), scaleToDpi(y + h, dpi)};
}

void ScaledControls::add(HWND control, int x, int y, int w, int h) {
  if (!control || count_ == kMaxControls) return;
  placed_[count_++] = Placed{control, x, y, w, h};
}

namespace {

int fontHeight(HFONT font) {
  HDC screen = GetDC(nullptr);
  HGDIOBJ old = SelectObject(screen, font);
  TEXTMETRICA metrics = {};
  GetTextMetricsA(screen, &metrics);
  SelectObject(screen, old);
  ReleaseDC(nullptr, screen);
  return metrics.tmHeight;
}

}  // namespace

void ScaledControls::place(UINT dpi, HFONT font) const {
  // Font heights round up where lengths round to nearest, so a caption as
  // high as its text at 100% would lose a pixel row elsewhere: it grows
  // upward into the gap above it, its text's foot staying where it was.
  const int textHeight = dpi == USER_DEFAULT_SCREEN_DPI ? 0 : fontHeight(font);
  for (int i = 0; i < count_; ++i) {
    const Placed& p = placed_[i];
    RECT r = scaleRect(p.x, p.y, p.w, p.h, dpi);
    if (r.bottom - r.top < textHeight) r.top = r.bottom - textHeight;
    // The font first: a list box fits its height to whole lines of it.
    SendMessageA(p.control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SetWindowPos(p.control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(p.control, nullptr, TRUE);
  }
}
