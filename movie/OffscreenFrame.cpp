#include "movie/OffscreenFrame.h"

#include "app/CaptureState.h"
#include "platform/QuickTimeServices.h"

// The size starts at 0 rather than unset, so a frame that was never created
// reads as empty to anyone who looks at it.
OffscreenFrame::OffscreenFrame() : gworld(nullptr), dc(nullptr), width(0), height(0) {}

// The device context goes first: it draws into the world's pixels, and the
// world's pixels go with the world.
OffscreenFrame::~OffscreenFrame() {
  if (dc) {
    DeleteDC(dc);
    dc = nullptr;
  }
  if (gworld) {
    DisposeGWorld(gworld);
    gworld = nullptr;
  }
}

bool OffscreenFrame::create(int16_t frameWidth, int16_t frameHeight, bool useDefaultFormat) {
  if (frameWidth < 1 || frameHeight < 1) return false;
  width = frameWidth;
  height = frameHeight;

  Rect bounds;
  MacSetRect(&bounds, 0, 0, frameWidth, frameHeight);
  const OSType pixelFormat = useDefaultFormat ? 0 : k32BGRAPixelFormat;
  if (QTNewGWorld(&gworld, pixelFormat, &bounds, nullptr, nullptr, 0) != noErr) {
    // Whatever the library wrote into the slot, it is no world of ours.
    gworld = nullptr;
    // Modal to the main window, so no second Grab starts under the box.
    HWND owner = captureState.mainWindow ? captureState.mainWindow : GetForegroundWindow();
    MessageBoxA(owner, "Impossible to create  GWorld", nullptr, MB_OK);
    return false;
  }
  // Without its device context nothing could be copied into the frame: a
  // recording of it would hold only a blank picture.
  dc = static_cast<HDC>(GetPortHDC(gworld));
  if (!dc) {
    DisposeGWorld(gworld);
    gworld = nullptr;
    HWND owner = captureState.mainWindow ? captureState.mainWindow : GetForegroundWindow();
    MessageBoxA(owner, "Impossible to draw into the frame: QuickTime gave no device context.", nullptr,
                MB_OK);
    return false;
  }
  return true;
}
