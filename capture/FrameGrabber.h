#pragma once
#include <windows.h>

#include <cstdint>

#include "QuickTimeTypes.h"

// What a grab ran into. error is noErr while the recording can go on;
// otherwise no more frames can be kept, and inFile says where: the movie file
// took no more (a full disk, a write error), or the frame itself could not be
// made or compressed (a codec short of memory); inEncoder, that it was the
// encoder of a codec that compresses frames over time that failed.
struct GrabResult {
  OSErr error;
  bool inFile;
  bool inEncoder = false;
};

// The per-turn work of a recording: take a frame when one is due. The
// target's pixels are copied through a device context taken for that frame
// alone, in the target's own DPI terms (capture/TargetPixels.h).
GrabResult grabFrame(HWND targetWindow);
// The cursor that the window under the mouse pointer shows, or null. known
// is set to false when the cursor could not be asked for (the input of the
// window's thread could not be attached), as opposed to a window that shows
// none.
HCURSOR cursorUnderMouse(bool& known);
// The cursor to paint for the one shown, with its hotspot: the shown one
// when its shape can be read, else the standard arrow with the arrow's own
// hotspot (another process's cursor cannot be read everywhere, under Wine
// never), so the pointer is still seen where it is. A cursor that could not
// be asked for (known false) is painted as the arrow too. Null when nothing
// is shown, or not even the arrow can be read.
HCURSOR drawableCursor(HCURSOR shown, bool known, POINT& hotspot);
// The rectangle a frame copies from the target: its client area, or the
// whole window with borders, measured now in the target's own pixels. False while it has none worth
// copying: minimised, of size 0, or gone.
bool measureTarget(HWND target, bool borders, int32_t& width, int32_t& height);

// Clock reading that the next frame is measured from; 0 until the first grab
// of a recording takes one (every recording start clears it).
extern uint32_t lastFrameTime;
// Edge of the cursor in source pixels before it is scaled to the output.
extern float cursorBaseSize;
// Set by the main loop when the whole window is recorded ("Capture
// Borders"): the copy then starts at the window's corner, and so does the
// cursor's position.
extern uint8_t bordersCaptured;

// Pacing, apart from any clock so that it can be checked by itself.

// Whether a frame is due: at least interval milliseconds between reference
// and now, measured in unsigned 32-bit arithmetic so the clock's wrap does
// not matter. An elapsed time equal to the interval is due.
bool frameDue(uint32_t reference, uint32_t now, uint32_t interval);

using ClockReader = uint32_t (*)();
// The pacing of one grab: takes the first reference when there is none,
// then reads now; when a frame is due, moves reference to a fresh reading
// (so the cost of copying and compressing counts toward the next frame) and
// gives the elapsed time, which becomes the frame's duration.
bool paceFrame(uint32_t& reference, uint32_t interval, ClockReader readClock, uint32_t& elapsed);

// Where the cursor lands in the output frame.
struct CursorPlacement {
  bool draw;  // false when no finite placement exists (a size of 0)
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
};

// pointer is in the target's client coordinates; clientOffset is where the
// client area starts inside the copied rectangle ((0, 0) for a pointer read
// relative to the copied rectangle already, as a grab reads it). The source
// is scaled to the output, the base size shrinks or grows with it, and every
// value is truncated toward zero, so a cursor just above or left of the
// origin is drawn clipped at the frame's edge.
CursorPlacement placeCursor(int32_t sourceWidth, int32_t sourceHeight, int32_t outputWidth,
                            int32_t outputHeight, POINT pointer, POINT hotspot, POINT clientOffset,
                            float baseSize);
