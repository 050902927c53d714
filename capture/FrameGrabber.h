#pragma once
#include <windows.h>

#include <cstdint>

// The per-turn work of a recording: take a frame when one is due.
void grabFrame(HWND targetWindow, HDC targetDC);
// The cursor that the window under the mouse pointer shows, or null.
HCURSOR cursorUnderMouse();

extern uint32_t lastFrameTime;
extern float cursorBaseSize;
