#include "platform/DpiFunctions.h"

namespace {

template <typename Function>
void lookUp(HMODULE user32, const char* name, Function& function) {
  // Through void*: FARPROC's own type says nothing about the real one.
  function =
      user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

DpiFunctions lookUpAll() {
  DpiFunctions f = {};
  HMODULE user32 = GetModuleHandleA("user32.dll");
  lookUp(user32, "GetWindowDpiAwarenessContext", f.getWindowDpiAwarenessContext);
  lookUp(user32, "SetThreadDpiAwarenessContext", f.setThreadDpiAwarenessContext);
  lookUp(user32, "GetDpiForWindow", f.getDpiForWindow);
  lookUp(user32, "GetDpiForSystem", f.getDpiForSystem);
  lookUp(user32, "AdjustWindowRectExForDpi", f.adjustWindowRectExForDpi);
  lookUp(user32, "SystemParametersInfoForDpi", f.systemParametersInfoForDpi);
  return f;
}

UINT screenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace

const DpiFunctions& dpiFunctions() {
  static const DpiFunctions functions = lookUpAll();
  return functions;
}

UINT systemDpi() {
  const DpiFunctions& f = dpiFunctions();
  const UINT dpi = f.getDpiForSystem ? f.getDpiForSystem() : 0;
  return dpi ? dpi : screenDpi();
}

UINT windowDpi(HWND window) {
  const DpiFunctions& f = dpiFunctions();
  const UINT dpi = f.getDpiForWindow && window ? f.getDpiForWindow(window) : 0;
  return dpi ? dpi : systemDpi();
}

int scaleToDpi(int length, UINT dpi) {
  return MulDiv(length, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
}
