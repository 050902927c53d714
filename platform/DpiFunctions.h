#pragma once
#include <windows.h>

// The per-monitor DPI calls of user32. They came with Windows 10 (1607 for
// the thread contexts, the rest with 1607/1703 too), so they are looked up
// at run time: on an older system the members are null and callers keep to
// the process's own terms, as before these calls existed.
struct DpiFunctions {
  DPI_AWARENESS_CONTEXT(WINAPI* getWindowDpiAwarenessContext)(HWND);
  DPI_AWARENESS_CONTEXT(WINAPI* setThreadDpiAwarenessContext)(DPI_AWARENESS_CONTEXT);
  UINT(WINAPI* getDpiForWindow)(HWND);
  UINT(WINAPI* getDpiForSystem)();
  BOOL(WINAPI* adjustWindowRectExForDpi)(LPRECT, DWORD, BOOL, DWORD, UINT);
  BOOL(WINAPI* systemParametersInfoForDpi)(UINT, UINT, PVOID, UINT, UINT);
};

// Looked up once, on first use.
const DpiFunctions& dpiFunctions();

// The DPI a window is shown at: its monitor's under per-monitor awareness,
// the system's otherwise (and on systems without per-monitor DPI).
UINT windowDpi(HWND window);
// The DPI the system's stock objects (DEFAULT_GUI_FONT) and metrics were
// made for.
UINT systemDpi();
// A length given at 96 dpi (100%), at dpi: rounded to the nearest pixel.
int scaleToDpi(int length, UINT dpi);
