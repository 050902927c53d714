#include "app/Skelby.h"

#include <commctrl.h>

#include "app/CaptureState.h"
#include "app/MainWindow.h"
#include "capture/WindowList.h"
#include "platform/ProgramFolder.h"

namespace {

// Dispatches at most one waiting message; true when one was taken.
bool dispatchOneMessage(MSG& msg) {
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return true;
}

}  // namespace

int runMainLoop() {
  MSG msg = {};
  do {
    Sleep(0);
    dispatchOneMessage(msg);
  } while (!captureState.quitRequested);
  // A quit request always posts a quit message with code 0. Take it, so the
  // exit code is that code and not the parameter of whatever message (a menu
  // command, a click on the close box) happened to end the loop.
  PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  return static_cast<int>(msg.wParam);
}

int skelbyMain(HINSTANCE instance, HINSTANCE previous, int showCommand) {
  // QuickTime start

  formatAboutText(currentYear());

  INITCOMMONCONTROLSEX controls = {8, 0xFF};
  InitCommonControlsEx(&controls);

  if (!previous && !registerMainWindowClass(instance)) return 0;
  HWND mainWindow = createMainWindow(instance);
  if (!mainWindow) {
    // Without a window nothing could ever end the loop.
    // QuickTime stop (no window)
    return 0;
  }
  createControls(mainWindow);
  refreshWindowList();
  ShowWindow(mainWindow, showCommand);
  UpdateWindow(mainWindow);

  const int exitCode = runMainLoop();

  if (captureState.targetDC && captureState.targetWindow) {
    ReleaseDC(captureState.targetWindow, captureState.targetDC);
  }
  // QuickTime stop
  return exitCode;
}
