#pragma once
#include <windows.h>

#include <cstdint>

// The list of windows that can be recorded, and the size of the chosen one.
// Windows are known by title only: no handle is kept from one call to the next.

// Empties the list box and fills it with the titles of the visible, titled,
// non-empty top-level windows.
void refreshWindowList();
// Probes the window whose title is selected in the list: shows its size in the
// size label, stores it as the source rectangle (only while idle: a running
// recording keeps its own) and, with fillFields, copies it into the Width and
// Height fields.
void probeTargetSize(bool fillFields);
// Reads the list's selected title into targetTitle; false with no selection
// (or an entry too long for the buffer), and targetTitle then keeps what it
// held.
bool readSelectedTitle();
// The first top-level window (in the window manager's order) whose title, as
// far as a 300-byte buffer holds it, equals title; null when none does.
HWND findWindowByTitle(const char* title);
// The size of the window's client area, or of the whole window with borders,
// in the window's own pixels (what a recording of it copies); false when it
// cannot be read (the window is gone).
bool measureWindow(HWND window, bool borders, int32_t& width, int32_t& height);
