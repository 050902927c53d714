#include "app/Skelby.h"

#include <commctrl.h>

#include "app/CaptureState.h"
#include "app/HotKeys.h"
#include "app/MainWindow.h"
#include "app/RecordingTime.h"
#include "capture/FrameGrabber.h"
#include "capture/PauseClock.h"
#include "capture/RecordingControl.h"
#include "capture/WindowList.h"
#include "platform/ProgramFolder.h"
#include "platform/QuickTimeEnvironment.h"
#include "resource.h"

namespace {

// Dispatches at most one waiting message; true when one was taken.
bool dispatchOneMessage(MSG& msg) {
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return true;
}

bool isChecked(int id) { return IsDlgButtonChecked(captureState.mainWindow, id) == BST_CHECKED; }

// Grabbing has begun but the target is not held yet: look for it by the
// title being recorded. A title that matches nothing is tried again on the
// next turn.
void findTarget() {
  CaptureState& s = captureState;
  HWND window = findWindowByTitle(s.recordingTitle);
  if (!window) {
    s.targetSearch = TargetSearch::notFound;
    return;
  }
  // The options of a recording are those of the first time its target is
  // found: a target that closes and comes back is copied as it was before.
  if (!s.captureOptionsTaken) {
    s.captureCursor = isChecked(IDC_CAPTURECURSOR) ? 1 : 0;
    bordersCaptured = isChecked(IDC_CAPTUREBORDERS) ? 1 : 0;
    s.captureOptionsTaken = 1;
  }
  // Every frame measures the target again; here it only has to have a size
  // worth recording. A minimised one is waited for until it is restored, and
  // the status keeps saying it is being looked for.
  int32_t width = 0;
  int32_t height = 0;
  if (!measureTarget(window, bordersCaptured != 0, width, height)) {
    s.targetSearch = TargetSearch::minimised;
    return;
  }
  s.targetWindow = window;
  s.targetSearch = TargetSearch::found;
  SendMessageA(s.statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>("Grabbing!"));
}

}  // namespace

void runMainLoopTurn(MSG& msg) {
  Sleep(0);
  // Paused, a recording takes no frame and does not look for its target.
  if (captureState.grabbing && !recordingPaused()) {
    if (captureState.targetWindow) {
      const GrabResult result = grabFrame(captureState.targetWindow);
      if (result.error != noErr) stopAfterFailedFrame(result);
    } else {
      findTarget();
    }
  }
  if (captureState.grabbing) updateRecordingTime();
  dispatchOneMessage(msg);
}

int runMainLoop() {
  MSG msg = {};
  do {
    runMainLoopTurn(msg);
  } while (!captureState.quitRequested);
  // A quit request always posts a quit message with code 0. Take it, so the
  // exit code is that code and not the parameter of whatever message (a menu
  // command, a click on the close box) happened to end the loop.
  PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  return static_cast<int>(msg.wParam);
}

int skelbyMain(HINSTANCE instance, HINSTANCE previous, int showCommand) {
  QuickTimeEnvironment quickTime;
  if (!quickTime.start()) {
    // The caption is where QuickTime can be had.
    MessageBoxA(nullptr, "Quicktime is not installed", "https://support.apple.com/downloads/quicktime",
                MB_OK);
    return 0;
  }

  formatAboutText(currentYear());

  INITCOMMONCONTROLSEX controls = {8, 0xFF};
  InitCommonControlsEx(&controls);

  if (!previous && !registerMainWindowClass(instance)) return 0;
  HWND mainWindow = createMainWindow(instance);
  if (!mainWindow) {
    // Without a window nothing could ever end the loop.
    quickTime.stop();
    return 0;
  }
  createControls(mainWindow);
  refreshWindowList();
  registerHotKeys(mainWindow);
  ShowWindow(mainWindow, showCommand);
  UpdateWindow(mainWindow);

  const int exitCode = runMainLoop();
  // The keys go with the loop: what is left is finishing the movie. (A
  // window closed by its box has let go of them already.)
  if (IsWindow(mainWindow)) unregisterHotKeys(mainWindow);

  // Forgets the target and finishes a movie still being recorded when the
  // window was closed, or one whose finish failed before, while QuickTime
  // still runs.
  finishBeforeExit();
  quickTime.stop();
  return exitCode;
}
