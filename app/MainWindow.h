#pragma once
#include <windows.h>

#include <cstdint>

#include "QuickTimeTypes.h"
#include "capture/FrameGrabber.h"

// The one window of the program: the list of windows to record, the capture
// options, the output size, the destination and Grab/Stop.
extern const char kMainWindowClass[];  // "Grabbing an app"
extern const char kMainWindowTitle[];  // "Skelby"
// What Grab says when no window has been chosen in the list.
extern const char kChooseWindowMessage[];

// Registers the main window's class from this module's resources.
bool registerMainWindowClass(HINSTANCE instance);
// Creates the (still hidden) main window; null when the system refuses.
HWND createMainWindow(HINSTANCE instance);
// Builds every child control and stores the handles in the capture state.
void createControls(HWND mainWindow);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Ends grabbing and forgets the target (no device context is held between
// frames).
void stopGrabbing();
// A grab found that no more frames can be kept (the movie file takes no
// more, or a frame could not be made): the recording stops, keeping what
// the file holds, and the user is told once.
void stopAfterFailedFrame(GrabResult failure);
// At exit: stops grabbing and writes a movie still open; while that fails,
// asks (over the main window, whose commands are refused from now on)
// whether to try again or to leave the file as its last fragment left it.
void finishBeforeExit();
// Whether a Grab at now (milliseconds, a wrapping tick count) comes within
// the double-click time of the end of the last Stop: then it is the second
// click of a double-click on Stop, or a second press while the movie was
// being saved, and is ignored.
bool grabFollowsStop(uint32_t stopEndedAt, uint32_t now, uint32_t doubleClickTime);
// The number a Width or Height field shows. Empty reads 0 (a start replaces
// it); text that is not a plain number, or one past INT32_MAX, reads
// INT32_MAX: a size no start accepts, so it is refused, not cut or wrapped.
int32_t sizeFromText(const char* text);
// Formats the About text with the year read at start-up.
void formatAboutText(int year);
const char* aboutText();
