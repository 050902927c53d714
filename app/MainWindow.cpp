#include "app/MainWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/CaptureState.h"
#include "app/DestinationDialog.h"
#include "app/HotKeys.h"
#include "app/MainWindowScale.h"
#include "app/RecordingTime.h"
#include "capture/PauseClock.h"
#include "capture/RecordingControl.h"
#include "capture/WindowList.h"
#include "movie/CompressionSettings.h"
#include "platform/DpiFunctions.h"
#include "platform/ProgramFolder.h"
#include "resource.h"

const char kMainWindowClass[] = "Grabbing an app";
const char kMainWindowTitle[] = "Skelby";
const char kChooseWindowMessage[] = "Choose the window to record first: click its title in the list.";

namespace {

// WM_GETDPISCALEDSIZE (Windows 10 1703), which older headers lack.
constexpr UINT kGetDpiScaledSize = 0x02E4;

const char kAboutCaption[] = "Skelby developers - https://skelby.org";
char aboutTextBuffer[256] = "";

constexpr DWORD kMainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// The window's outer size at 100%; at other scalings its client area scales.
constexpr SIZE kMainWindowSizeAt96 = {275, 380};

// The layout below is in pixels at 96 dpi; it is placed at the DPI of the
// window's monitor, and placed again when the window moves to another.
UINT layoutDpi = USER_DEFAULT_SCREEN_DPI;
ScaledControls mainControls;

HFONT guiFont() { return guiFontForDpi(layoutDpi); }

HWND createChild(HWND parent, DWORD exStyle, const char* className, const char* text, DWORD style, int x,
                 int y, int w, int h, int id) {
  const RECT r = scaleRect(x, y, w, h, layoutDpi);
  HWND child =
      CreateWindowExA(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                      r.right - r.left, r.bottom - r.top, parent,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
  SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(guiFont()), FALSE);
  mainControls.add(child, x, y, w, h);
  return child;
}

SIZE mainWindowSize(UINT dpi) {
  if (dpi == USER_DEFAULT_SCREEN_DPI) return kMainWindowSizeAt96;
  return outerSizeForDpi(clientSizeAt96(kMainWindowSizeAt96, kMainWindowStyle, 0, true), kMainWindowStyle, 0,
                         true, dpi);
}

// The lowest edge of the controls at 100% (the file chooser's), and the gap
// kept between it and the status bar.
constexpr int kControlsBottomAt96 = 310;
constexpr int kGapAboveStatusAt96 = 4;

// The frame, caption and menu bar are the system's to draw, as is the status
// bar's height, and at some scalings they come out taller than the metrics
// say: the window grows (or shrinks) by the difference, so the client area
// holds the whole layout and the status bar under it. At 100% on a monitor
// of 100% the window keeps its size of 275 x 380.
void fitClientArea(HWND window, UINT dpi) {
  if (dpi == USER_DEFAULT_SCREEN_DPI && windowDpi(window) == USER_DEFAULT_SCREEN_DPI) return;
  const SIZE at96 = clientSizeAt96(kMainWindowSizeAt96, kMainWindowStyle, 0, true);
  RECT client = {};
  RECT outer = {};
  RECT status = {};
  if (!GetClientRect(window, &client) || !GetWindowRect(window, &outer)) return;
  GetWindowRect(captureState.statusBar, &status);
  const int height =
      std::max<int>(scaleToDpi(at96.cy, dpi), scaleToDpi(kControlsBottomAt96 + kGapAboveStatusAt96, dpi) +
                                                  (status.bottom - status.top));
  const int dx = scaleToDpi(at96.cx, dpi) - client.right;
  const int dy = height - client.bottom;
  if (dx == 0 && dy == 0) return;
  SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + dx, outer.bottom - outer.top + dy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageA(captureState.statusBar, WM_SIZE, 0, 0);
}

// Everything placed at dpi: the controls, their font, and the status bar,
// which sizes itself to its font and to the window's bottom edge.
void placeControlsAt(UINT dpi) {
  layoutDpi = dpi;
  HFONT font = guiFont();
  mainControls.place(dpi, font);
  SendMessageA(captureState.statusBar, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  SendMessageA(captureState.statusBar, WM_SIZE, 0, 0);
}

// The window moved to a monitor of another scaling (or the scaling
// changed): the system suggests where it goes, at the size asked for below.
LRESULT onDpiChanged(HWND window, WPARAM wParam, LPARAM lParam) {
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  placeControlsAt(HIWORD(wParam));
  fitClientArea(window, HIWORD(wParam));
  InvalidateRect(window, nullptr, TRUE);
  return 0;
}

// Asked before a change of DPI: the size that keeps the whole layout, scaled.
LRESULT onGetDpiScaledSize(WPARAM wParam, LPARAM lParam) {
  *reinterpret_cast<SIZE*>(lParam) = mainWindowSize(static_cast<UINT>(wParam));
  return TRUE;
}

// A caption above a digits-only edit; the edit is what the caller keeps. It
// scrolls, so a number wider than the box is typed whole instead of being cut
// where the box ends (and read as another number).
HWND createLabelledField(HWND parent, const char* label, const char* text, int x, int y, int w, int h,
                         int id) {
  createChild(parent, 0, "STATIC", label, 0, x, y - 15, w, h - 5, -1);
  return createChild(parent, WS_EX_CLIENTEDGE, "EDIT", text, ES_NUMBER | ES_AUTOHSCROLL, x, y, w, h, id);
}

int32_t readSizeField(int id) {
  HWND field = GetDlgItem(captureState.mainWindow, id);
  std::string text(static_cast<size_t>(GetWindowTextLengthA(field)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(field, &text[0], static_cast<int>(text.size()))));
  return sizeFromText(text.c_str());
}

void onSizeFieldChanged(int id) {
  if (captureState.grabbing) return;
  if (id == IDC_WIDTH) {
    captureState.outputWidth = readSizeField(id);
  } else {
    captureState.outputHeight = readSizeField(id);
  }
}

// Only a choice the user made is measured: the list also reports focus
// changes, and a title read before a Refresh may name a window that is gone,
// and looking for it would refill the list under the user.
void onWindowList(WORD notification) {
  if (notification != LBN_SELCHANGE && notification != LBN_DBLCLK) return;
  if (SendMessageA(captureState.listBox, LB_GETCURSEL, 0, 0) == LB_ERR) return;
  probeTargetSize(false);
  if (notification == LBN_DBLCLK) probeTargetSize(true);
}

// The label shows the chosen window's size in the mode now ticked; a
// running recording keeps its own rectangle. Only an entry selected in the
// list is measured: a title read before a Refresh may name a window that is
// gone, and looking for it would refill the list under the user.
void onCaptureBorders() {
  if (SendMessageA(captureState.listBox, LB_GETCURSEL, 0, 0) != LB_ERR) probeTargetSize(false);
}

void onExit() {
  captureState.quitRequested = 1;
  PostQuitMessage(0);
}

// Whatever the shell shows (a choice of program, an error) sits over the
// main window; a page it could not open at all is told.
void onHelp() {
  const char* page = programPath("help\\index.html");
  const INT_PTR result = openWithShell(page, false, captureState.mainWindow);
  if (result > 32) return;
  char text[400];
  snprintf(text, sizeof text, "The help page could not be opened : Error %d\n\n%s", int(result), page);
  MessageBoxA(captureState.mainWindow, text, kMainWindowTitle, MB_OK | MB_ICONWARNING);
}

void onAbout() { MessageBoxA(captureState.mainWindow, aboutTextBuffer, kAboutCaption, MB_OK); }

void setStatus(const char* text) {
  SendMessageA(captureState.statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text));
}

// What cannot change under a recording looks so: the size fields, the file
// chooser and Settings are disabled while grabbing.
void enableIdleCommands(bool enable) {
  HWND main = captureState.mainWindow;
  EnableWindow(captureState.widthField, enable);
  EnableWindow(captureState.heightField, enable);
  EnableWindow(GetDlgItem(main, IDC_CHOOSEFILE), enable);
  EnableMenuItem(GetMenu(main), IDM_SETTINGS, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
  DrawMenuBar(main);
}

// Pause is live while a recording runs, and says Resume while it is paused.
void showPauseCommand() {
  HWND button = GetDlgItem(captureState.mainWindow, IDC_PAUSE);
  SetWindowTextA(button, recordingPaused() ? "Resume" : "Pause");
  EnableWindow(button, captureState.grabbing != 0);
}

// Shows the size a start has settled on (16 or less replaced by 320 x 240),
// so the fields always say what is recorded.
void showOutputSize() {
  const CaptureState& s = captureState;
  if (readSizeField(IDC_WIDTH) != s.outputWidth) {
    SetDlgItemInt(s.mainWindow, IDC_WIDTH, static_cast<UINT>(s.outputWidth), FALSE);
  }
  if (readSizeField(IDC_HEIGHT) != s.outputHeight) {
    SetDlgItemInt(s.mainWindow, IDC_HEIGHT, static_cast<UINT>(s.outputHeight), FALSE);
  }
}

// A recording, or a movie still to be written, keeps its settings and its
// destination.
bool busy() { return captureState.grabbing || captureState.unsaved; }

// Boxes sit over the main window, which is disabled meanwhile; once it is
// destroyed (closed while recording) they stand alone, as a box given a
// window that no longer exists would not be shown at all.
HWND boxOwner() {
  HWND main = captureState.mainWindow;
  return main && IsWindow(main) ? main : nullptr;
}

void tell(const char* text) { MessageBoxA(boxOwner(), text, "Skelby", MB_OK | MB_ICONWARNING); }

const char kNotSavedAdvice[] =
    "Make room on the disk, then press Stop to try again. Until then the file plays up to its last "
    "fragment.";

// What the user is told about a movie that was not saved: one kept for
// another try, or one whose file would not close, which nothing can mend.
void formatNotSaved(char* text, size_t size, OSErr error) {
  if (movieAwaitsFinish()) {
    snprintf(text, size, "The movie could not be saved : Error %d\n\n%s", int(error), kNotSavedAdvice);
  } else {
    snprintf(text, size,
             "The movie file could not be closed : Error %d\n\nThe movie may be cut short: it plays at least "
             "up to its last fragment.",
             int(error));
  }
}

void markStop() {
  captureState.stopMarked = 1;
  captureState.stopEndedAt = GetTickCount();
}

// A recording stopped before its first frame: there is no file, and the
// destination is as it was. The user hears why, with the failure that ended
// it if there was one.
void tellNothingRecorded(const char* cause) {
  const TargetSearch search = captureState.targetSearch;
  const char* title = captureState.recordingTitle;
  char text[512];
  if (cause) {
    snprintf(text, sizeof text, "%s\n\nNothing was recorded.", cause);
  } else if (search == TargetSearch::notFound) {
    snprintf(text, sizeof text, "Nothing was recorded: no window titled \"%s\" could be found.", title);
  } else if (search == TargetSearch::minimised) {
    snprintf(text, sizeof text, "Nothing was recorded: the window titled \"%s\" stayed minimised.", title);
  } else {
    snprintf(text, sizeof text, "Nothing was recorded: Stop came before the first frame.");
  }
  tell(text);
}

// After the movie was written (noErr) the window goes idle; a movie kept
// for another try keeps the button on Stop, which tries again; neither that
// nor a file that did not close ever reads "idle.".
void showFinished(OSErr error) {
  CaptureState& s = captureState;
  s.unsaved = error != noErr && movieAwaitsFinish() ? 1 : 0;
  if (s.unsaved) {
    SetWindowTextA(s.grabButton, "Stop");
    setStatus("Not saved: press Stop to try again.");
    return;
  }
  SetWindowTextA(s.grabButton, "Grab");
  setStatus(error == noErr ? "idle." : "Not saved: the movie file did not close.");
  enableIdleCommands(true);
}

// Ends the recording and shows what became of its movie before telling
// why, so the window never reads "Grabbing!" behind the message. cause says
// why the recording stopped (null for the Stop button); the user hears it
// and any failure to save in one box.
void endRecording(const char* cause) {
  stopGrabbing();
  const bool recorded = recordingHasFile();
  const OSErr error = stopRecording();
  showFinished(error);
  // A Stop the user pressed; a recording that ended on a failure says so
  // in a box, which takes any second click.
  if (!cause) markStop();
  if (!recorded) {
    tellNothingRecorded(cause);
    return;
  }
  if (!cause && error == noErr) return;
  char saved[320] = "The movie keeps everything recorded up to then.";
  if (error != noErr) formatNotSaved(saved, sizeof saved, error);
  char text[512];
  snprintf(text, sizeof text, "%s%s%s", cause ? cause : "", cause ? "\n\n" : "", saved);
  tell(text);
}

void onStop() { endRecording(nullptr); }

// A failed start has told the user whatever there is to tell (or nothing,
// for an empty path): the window stays idle. Only an entry selected now
// names the window: after a Refresh, or a probe that found the chosen window
// gone and refilled the list, the title read before names nothing chosen.
void onGrab() {
  CaptureState& s = captureState;
  if (s.stopMarked && grabFollowsStop(s.stopEndedAt, GetTickCount(), GetDoubleClickTime())) return;
  s.stopMarked = 0;
  if (!readSelectedTitle() || s.targetTitle[0] == '\0') {
    MessageBoxA(s.mainWindow, kChooseWindowMessage, kMainWindowTitle, MB_OK);
    return;
  }
  // The fields, not what they last reported: they may have changed while
  // the stored size could not follow (during the last recording).
  s.outputWidth = readSizeField(IDC_WIDTH);
  s.outputHeight = readSizeField(IDC_HEIGHT);
  const bool started = startRecording(s.destinationPath);
  showOutputSize();
  if (!started) return;
  lstrcpynA(s.recordingTitle, s.targetTitle, sizeof s.recordingTitle);
  s.captureOptionsTaken = 0;
  s.targetSearch = TargetSearch::notFound;
  s.grabbing = 1;
  SetWindowTextA(s.grabButton, "Stop");
  setStatus("Grabbing.");
  enableIdleCommands(false);
  showPauseCommand();
  showRecordingTime();
}

void onGrabOrStop() {
  if (busy()) {
    onStop();
  } else {
    onGrab();
  }
}

// Pause and Resume, from the button, the menu or the key: only a running
// recording pauses (a key pressed while idle does what the disabled button
// does: nothing). Resumed, the status says again what the recording does.
void onPauseOrResume() {
  CaptureState& s = captureState;
  if (!s.grabbing) return;
  if (recordingPaused()) {
    resumeRecording();
    if (s.targetWindow) {
      setStatus("Grabbing!");
    } else {
      setStatus("Grabbing.");
    }
  } else {
    pauseRecording();
    setStatus("Paused.");
  }
  showPauseCommand();
}

// The Misc menu says what Grab/Stop and Pause/Resume would do now, with
// their keys while they are Skelby's.
void onMiscMenu(HMENU menu) {
  char text[64];
  formatMenuText(text, sizeof text, busy() ? "S&top" : "&Grab", IDC_GRAB);
  ModifyMenuA(menu, IDC_GRAB, MF_BYCOMMAND | MF_STRING, IDC_GRAB, text);
  formatMenuText(text, sizeof text, recordingPaused() ? "&Resume" : "&Pause", IDC_PAUSE);
  ModifyMenuA(menu, IDC_PAUSE, MF_BYCOMMAND | MF_STRING | (captureState.grabbing ? MF_ENABLED : MF_GRAYED),
              IDC_PAUSE, text);
}

void onChooseFile() {
  if (!busy()) chooseDestination();
}

// While one of Skelby's dialogs or message boxes is up the main window is
// disabled, as they are modal to it. A command that reaches it all the same
// (a posted one) must not start a recording inside a start, or change the
// destination or the settings under a dialog. Once Skelby is quitting, the
// movie being finished is the last thing it does: a Grab there would create
// a new movie over it, a Stop finish it inside its own finish.
bool refusedWhileModal(int id) {
  if (IsWindowEnabled(captureState.mainWindow) && !captureState.quitRequested) return false;
  return id == IDC_GRAB || id == IDC_PAUSE || id == IDC_CHOOSEFILE || id == IDM_SETTINGS;
}

LRESULT onCommand(WPARAM wParam) {
  const int id = LOWORD(wParam);
  if (refusedWhileModal(id)) return 0;
  switch (id) {
    case IDC_WIDTH:
    case IDC_HEIGHT:
      onSizeFieldChanged(id);
      break;
    case IDM_EXIT:
      onExit();
      break;
    case IDM_HELP:
      onHelp();
      break;
    case IDM_ABOUT:
      onAbout();
      break;
    case IDC_WINDOWLIST:
      onWindowList(HIWORD(wParam));
      break;
    case IDC_CAPTUREBORDERS:
      if (HIWORD(wParam) == BN_CLICKED) onCaptureBorders();
      break;
    case IDC_REFRESH:
      refreshWindowList();
      break;
    case IDC_CHOOSEFILE:
      onChooseFile();
      break;
    case IDC_GRAB:
      onGrabOrStop();
      break;
    case IDC_PAUSE:
      onPauseOrResume();
      break;
    case IDM_SETTINGS:
      if (!busy()) showExportSettings();
      break;
    default:
      break;
  }
  return 0;
}

// A key from any window is the command of its button, refused as a click
// on it would be.
LRESULT onHotKey(WPARAM id) {
  const int command = commandOfHotKey(id);
  if (command) onCommand(MAKEWPARAM(command, BN_CLICKED));
  return 0;
}

// Says why the session is held up while the movie is saved (Windows Vista
// and later show it; older systems have no such call, so it is looked up).
class SessionEndBlock {
 public:
  explicit SessionEndBlock(HWND window) : window_(window) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    create_ = reinterpret_cast<Create>(
        reinterpret_cast<void (*)()>(user32 ? GetProcAddress(user32, "ShutdownBlockReasonCreate") : nullptr));
    destroy_ = reinterpret_cast<Destroy>(reinterpret_cast<void (*)()>(
        user32 ? GetProcAddress(user32, "ShutdownBlockReasonDestroy") : nullptr));
    blocked_ = create_ && destroy_ && create_(window_, L"Skelby is saving the movie it was recording.");
  }
  ~SessionEndBlock() {
    if (blocked_) destroy_(window_);
  }
  SessionEndBlock(const SessionEndBlock&) = delete;
  SessionEndBlock& operator=(const SessionEndBlock&) = delete;

 private:
  using Create = BOOL(WINAPI*)(HWND, LPCWSTR);
  using Destroy = BOOL(WINAPI*)(HWND);
  HWND window_;
  Create create_;
  Destroy destroy_;
  bool blocked_;
};

// Logoff, restart or shutdown: the recording is finished and its movie
// written before Skelby lets the session end. Nobody is there to answer a
// box: a movie that cannot be written is let go of, and its file plays up
// to its last fragment.
void saveForEndOfSession() {
  if (!busy()) return;
  SessionEndBlock block(captureState.mainWindow);
  stopGrabbing();
  const OSErr error = stopRecording();
  if (error != noErr && movieAwaitsFinish()) abandonRecording();
  showFinished(error);
  markStop();
}

LRESULT onQueryEndSession() {
  saveForEndOfSession();
  return TRUE;
}

// The session ends (ending is true) once this returns, and the process with
// it: whatever the query did not save is saved now, and the loop ends.
LRESULT onEndSession(bool ending) {
  if (!ending) return 0;
  saveForEndOfSession();
  captureState.quitRequested = 1;
  return 0;
}

LRESULT onDestroy() {
  captureState.quitRequested = 1;
  PostQuitMessage(0);
  return 0;
}

}  // namespace

void stopGrabbing() {
  CaptureState& s = captureState;
  s.grabbing = 0;
  clearPause();
  if (s.mainWindow) showPauseCommand();
  hideRecordingTime();
  s.targetWindow = nullptr;
}

void stopAfterFailedFrame(GrabResult failure) {
  char cause[160];
  // The first frame makes the movie file: a file that could not be made
  // gets the words of any other file that cannot be made.
  snprintf(cause, sizeof cause,
           failure.inEncoder     ? "Recording stopped: the encoder failed on a frame : Error %d"
           : !failure.inFile     ? "Recording stopped: a frame could not be recorded : Error %d"
           : !recordingHasFile() ? "Impossible To Create Movie File : Error %d"
                                 : "Recording stopped: the movie file could not take more frames : Error %d",
           int(failure.error));
  endRecording(cause);
}

void finishBeforeExit() {
  stopGrabbing();
  for (;;) {
    const OSErr error = stopRecording();
    if (error == noErr) return;
    showFinished(error);
    char text[320];
    if (!movieAwaitsFinish()) {
      formatNotSaved(text, sizeof text, error);
      tell(text);
      return;
    }
    snprintf(
        text, sizeof text,
        "The movie could not be saved : Error %d\n\nMake room on the disk and choose Retry, or Cancel to "
        "quit: the file then plays up to its last fragment.",
        int(error));
    if (MessageBoxA(boxOwner(), text, "Skelby", MB_RETRYCANCEL | MB_ICONWARNING) != IDRETRY) {
      abandonRecording();
      return;
    }
  }
}

bool grabFollowsStop(uint32_t stopEndedAt, uint32_t now, uint32_t doubleClickTime) {
  return now - stopEndedAt < doubleClickTime;
}

int32_t sizeFromText(const char* text) {
  int64_t value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return INT32_MAX;
    value = value * 10 + (*c - '0');
    if (value > INT32_MAX) return INT32_MAX;
  }
  return static_cast<int32_t>(value);
}

void formatAboutText(int year) {
  snprintf(aboutTextBuffer, sizeof aboutTextBuffer,
           "Skelby - records a window into a QuickTime movie.\n\nCopyright (c) %d the Skelby "
           "developers.",
           year);
}

const char* aboutText() { return aboutTextBuffer; }

bool registerMainWindowClass(HINSTANCE instance) {
  WNDCLASSA wc = {};
  wc.style = 0;
  wc.lpfnWndProc = mainWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, "ICO_A");
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszMenuName = "MENUMAINBARQT";
  wc.lpszClassName = kMainWindowClass;
  return RegisterClassA(&wc) != 0;
}

HWND createMainWindow(HINSTANCE instance) {
  return CreateWindowExA(0, kMainWindowClass, kMainWindowTitle, kMainWindowStyle, 0, 0,
                         kMainWindowSizeAt96.cx, kMainWindowSizeAt96.cy, nullptr, nullptr, instance, nullptr);
}

void createControls(HWND mainWindow) {
  CaptureState& s = captureState;
  s.mainWindow = mainWindow;
  // Created at 100%; on a monitor of another scaling the window grows with
  // its layout before anything is shown.
  layoutDpi = windowDpi(mainWindow);
  mainControls = ScaledControls{};
  if (layoutDpi != USER_DEFAULT_SCREEN_DPI) {
    const SIZE size = mainWindowSize(layoutDpi);
    SetWindowPos(mainWindow, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  s.statusBar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE, "idle", mainWindow, IDC_STATUSBAR);
  SendMessageA(s.statusBar, WM_SETFONT, reinterpret_cast<WPARAM>(guiFont()), FALSE);
  s.listBox = createChild(mainWindow, WS_EX_CLIENTEDGE, "LISTBOX", "listbox",
                          WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_SORT, 10, 10, 250, 150, IDC_WINDOWLIST);
  createChild(mainWindow, 0, "BUTTON", "Refresh", BS_PUSHBUTTON, 200, 165, 60, 20, IDC_REFRESH);
  createChild(mainWindow, 0, "BUTTON", "...", BS_PUSHBUTTON, 220, 290, 40, 20, IDC_CHOOSEFILE);
  s.grabButton = createChild(mainWindow, 0, "BUTTON", "Grab", BS_PUSHBUTTON, 200, 210, 60, 50, IDC_GRAB);
  createChild(mainWindow, 0, "BUTTON", "Capture Borders", BS_AUTOCHECKBOX, 10, 190, 180, 15,
              IDC_CAPTUREBORDERS);
  createChild(mainWindow, 0, "BUTTON", "Capture Cursor", BS_AUTOCHECKBOX, 10, 210, 180, 15,
              IDC_CAPTURECURSOR);
  s.sizeLabel = createChild(mainWindow, WS_EX_CLIENTEDGE, "STATIC", "Window Size : 640x480", 0, 10, 165, 180,
                            18, IDC_SIZELABEL);
  s.destinationLabel =
      createChild(mainWindow, WS_EX_CLIENTEDGE, "STATIC", s.destinationPath, 0, 10, 290, 200, 18, -1);
  s.widthField = createLabelledField(mainWindow, "Width:", "640", 10, 245, 60, 18, IDC_WIDTH);
  s.heightField = createLabelledField(mainWindow, "Height:", "480", 90, 245, 60, 18, IDC_HEIGHT);
  // Under Grab, between it and the file chooser; live only while recording.
  createChild(mainWindow, 0, "BUTTON", "Pause", BS_PUSHBUTTON | WS_DISABLED, 200, 265, 60, 20, IDC_PAUSE);
  if (layoutDpi != USER_DEFAULT_SCREEN_DPI) {
    placeControlsAt(layoutDpi);
    fitClientArea(mainWindow, layoutDpi);
  }
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      return onDestroy();
    case WM_COMMAND:
      return onCommand(wParam);
    case WM_HOTKEY:
      return onHotKey(wParam);
    case WM_INITMENUPOPUP:
      // The first popup is Misc; the window menu and About need nothing.
      if (!HIWORD(lParam) && LOWORD(lParam) == 0) onMiscMenu(reinterpret_cast<HMENU>(wParam));
      return DefWindowProcA(window, message, wParam, lParam);
    case WM_DPICHANGED:
      return onDpiChanged(window, wParam, lParam);
    case kGetDpiScaledSize:
      return onGetDpiScaledSize(wParam, lParam);
    case WM_QUERYENDSESSION:
      return onQueryEndSession();
    case WM_ENDSESSION:
      return onEndSession(wParam != FALSE);
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}
