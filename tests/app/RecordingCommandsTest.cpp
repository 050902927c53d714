// Pause/Resume, the keys that reach Skelby from any window and the recorded
// time in the status bar, on the real main window with our QuickTime.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/CaptureState.h"
#include "app/HotKeys.h"
#include "app/MainWindow.h"
#include "app/RecordingTime.h"
#include "app/Skelby.h"
#include "capture/PauseClock.h"
#include "capture/RecordingControl.h"
#include "capture/WindowList.h"
#include "movie/MovieWriter.h"
#include "platform/QuickTimeEnvironment.h"
#include "resource.h"

namespace {

std::string format(int64_t ms, uint64_t bytes) {
  char text[64];
  formatRecordingTime(text, sizeof text, ms, bytes);
  return text;
}

TEST(RecordingTimeText, LengthInWholeSecondsAndSizeInMegabytes) {
  EXPECT_EQ(format(0, 0), "00:00:00  0.0 MB");
  EXPECT_EQ(format(83999, 13002342), "00:01:23  12.4 MB");
  EXPECT_EQ(format(3600000 + 61000, 1048576), "01:01:01  1.0 MB");
  EXPECT_EQ(format(int64_t(125) * 3600000 + 59999, 0), "125:00:59  0.0 MB");
  EXPECT_EQ(format(-5, 0), "00:00:00  0.0 MB");
  // From what would show as 1024.0 MB on, gigabytes.
  EXPECT_EQ(format(0, uint64_t(1023.9 * 1048576)), "00:00:00  1023.9 MB");
  EXPECT_EQ(format(0, uint64_t(1023.96 * 1048576)), "00:00:00  1.00 GB");
  EXPECT_EQ(format(0, uint64_t(5) << 32), "00:00:00  20.00 GB");  // past 4 GiB, no 32-bit wrap
}

class RecordingCommandsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls = {8, 0xFF};
    InitCommonControlsEx(&controls);
    WNDCLASSA registered;
    if (!GetClassInfoA(GetModuleHandleA(nullptr), kMainWindowClass, &registered)) {
      ASSERT_TRUE(registerMainWindowClass(GetModuleHandleA(nullptr)));
    }
    quickTimeStarted = quickTime.start();
  }
  static void TearDownTestSuite() {
    if (quickTimeStarted) quickTime.stop();
  }

  void SetUp() override {
    ASSERT_TRUE(quickTimeStarted) << "QuickTime.qts did not start";
    captureState = CaptureState{};
    window = createMainWindow(GetModuleHandleA(nullptr));
    ASSERT_NE(window, nullptr);
    createControls(window);
    std::strcpy(captureState.destinationPath, kMovie);
    target = CreateWindowExA(0, "STATIC", "Skelby pause target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 400, 100,
                             300, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    refreshWindowList();
    pumpMessages();
    pause = GetDlgItem(window, IDC_PAUSE);
  }

  void TearDown() override {
    if (captureState.grabbing) {
      // Whatever the recording holds, a box that says so is answered.
      MessageBoxWatcher any;
      command(IDC_GRAB);
    }
    stopRecording();
    unregisterHotKeys(window);
    if (IsWindow(window)) DestroyWindow(window);
    DestroyWindow(target);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    DeleteFileA(kMovie);
    captureState = CaptureState{};
  }

  void command(int id) { SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  void select() {
    const LRESULT i = SendMessageA(captureState.listBox, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                   reinterpret_cast<LPARAM>("Skelby pause target"));
    ASSERT_NE(i, LB_ERR);
    SendMessageA(captureState.listBox, LB_SETCURSEL, i, 0);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_WINDOWLIST, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(captureState.listBox));
  }
  // A recording stopped before its first frame leaves the destination as
  // it was and says so; the box is answered here. Sends what `send` sends.
  template <typename Send>
  void stopBeforeAnyFrame(Send send) {
    MessageBoxWatcher nothing;
    send();
    ASSERT_TRUE(nothing.waitForBox());
    EXPECT_EQ(nothing.text.rfind("Nothing was recorded", 0), 0u) << nothing.text;
  }
  void grab() {
    select();
    command(IDC_GRAB);
    ASSERT_EQ(captureState.grabbing, 1);
  }
  // Main loop turns for ms milliseconds (each turn grabs when one is due).
  void turns(DWORD ms) {
    MSG msg = {};
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) runMainLoopTurn(msg);
  }
  std::string status(int part = 0) {
    char text[256] = "";
    SendMessageA(captureState.statusBar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text));
    return text;
  }
  int parts() { return static_cast<int>(SendMessageA(captureState.statusBar, SB_GETPARTS, 0, 0)); }
  // The Misc menu's items as the user sees them when it opens.
  std::string menuItem(int id, bool* grayed = nullptr) {
    HMENU misc = GetSubMenu(GetMenu(window), 0);
    SendMessageA(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(misc), MAKELPARAM(0, FALSE));
    char text[64] = "";
    GetMenuStringA(misc, id, text, sizeof text, MF_BYCOMMAND);
    if (grayed) *grayed = (GetMenuState(misc, id, MF_BYCOMMAND) & MF_GRAYED) != 0;
    return text;
  }

  static constexpr const char* kMovie = "RecordingCommandsTest.mov";
  static QuickTimeEnvironment quickTime;
  static bool quickTimeStarted;
  HWND window = nullptr;
  HWND target = nullptr;
  HWND pause = nullptr;
};

QuickTimeEnvironment RecordingCommandsTest::quickTime;
bool RecordingCommandsTest::quickTimeStarted = false;

TEST_F(RecordingCommandsTest, PauseSitsUnderGrabClearOfEveryOtherControl) {
  ASSERT_NE(pause, nullptr);
  EXPECT_EQ(windowText(pause), "Pause");
  EXPECT_FALSE(IsWindowEnabled(pause)) << "nothing to pause while idle";
  const RECT p = childRect(pause);
  const RECT g = childRect(captureState.grabButton);
  EXPECT_EQ(p.left, g.left);
  EXPECT_EQ(p.right, g.right);
  EXPECT_GT(p.top, g.bottom);
  RECT client;
  GetClientRect(window, &client);
  RECT bar;
  GetWindowRect(captureState.statusBar, &bar);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&bar), 2);
  for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (c == pause || c == captureState.statusBar) continue;
    RECT r = childRect(c), overlap;
    EXPECT_FALSE(IntersectRect(&overlap, &r, &p)) << windowText(c) << " overlaps Pause";
  }
  EXPECT_LE(p.bottom, bar.top) << "Pause runs under the status bar";
  EXPECT_LE(p.right, client.right);
}

TEST_F(RecordingCommandsTest, PausedNoFrameIsTakenAndStopSavesTheMovie) {
  grab();
  EXPECT_TRUE(IsWindowEnabled(pause));
  turns(400);
  ASSERT_EQ(status(), "Grabbing!");
  command(IDC_PAUSE);
  EXPECT_TRUE(recordingPaused());
  EXPECT_EQ(status(), "Paused.");
  EXPECT_EQ(windowText(pause), "Resume");
  EXPECT_EQ(windowText(captureState.grabButton), "Stop");
  const int64_t recorded = movieWriter.appendedDuration;
  const uint64_t bytes = movieWriter.appendedBytes;
  turns(500);
  EXPECT_EQ(movieWriter.appendedDuration, recorded) << "a frame was taken while paused";
  EXPECT_EQ(movieWriter.appendedBytes, bytes);
  EXPECT_EQ(status(), "Paused.") << "the loop's look for the target must not overwrite it";
  command(IDC_PAUSE);
  EXPECT_FALSE(recordingPaused());
  EXPECT_EQ(status(), "Grabbing!");
  EXPECT_EQ(windowText(pause), "Pause");
  turns(300);
  EXPECT_GT(movieWriter.appendedDuration, recorded);
  // Stopped while paused: saved, and the next recording starts unpaused.
  command(IDC_PAUSE);
  command(IDC_GRAB);
  EXPECT_EQ(status(), "idle.");
  EXPECT_FALSE(recordingPaused());
  EXPECT_FALSE(IsWindowEnabled(pause));
  EXPECT_EQ(windowText(pause), "Pause");
  EXPECT_FALSE(movieAwaitsFinish());
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(GetFileAttributesExA(kMovie, GetFileExInfoStandard, &data));
  EXPECT_GT(data.nFileSizeLow, movieWriter.appendedBytes) << "samples and the movie's index";
  // While idle Pause, from wherever it comes, does nothing.
  command(IDC_PAUSE);
  EXPECT_FALSE(recordingPaused());
  EXPECT_EQ(status(), "idle.");
}

TEST_F(RecordingCommandsTest, PausedBeforeTheTargetIsFoundItIsNotLookedFor) {
  grab();
  command(IDC_PAUSE);
  turns(200);
  EXPECT_EQ(captureState.targetWindow, nullptr);
  EXPECT_EQ(status(), "Paused.");
  command(IDC_PAUSE);
  EXPECT_EQ(status(), "Grabbing.");
  turns(200);
  EXPECT_EQ(status(), "Grabbing!");
}

TEST_F(RecordingCommandsTest, TheMiscMenuFollowsTheStateWithTheKeys) {
  registerHotKeys(window);
  bool grayed = false;
  EXPECT_EQ(menuItem(IDC_GRAB), "&Grab\tCtrl+Alt+F9");
  EXPECT_EQ(menuItem(IDC_PAUSE, &grayed), "&Pause\tCtrl+Alt+F10");
  EXPECT_TRUE(grayed);
  grab();
  EXPECT_EQ(menuItem(IDC_GRAB), "S&top\tCtrl+Alt+F9");
  EXPECT_EQ(menuItem(IDC_PAUSE, &grayed), "&Pause\tCtrl+Alt+F10");
  EXPECT_FALSE(grayed);
  command(IDC_PAUSE);
  EXPECT_EQ(menuItem(IDC_PAUSE), "&Resume\tCtrl+Alt+F10");
  stopBeforeAnyFrame([this] { command(IDC_GRAB); });
  EXPECT_EQ(menuItem(IDC_PAUSE, &grayed), "&Pause\tCtrl+Alt+F10");
  EXPECT_TRUE(grayed);
}

TEST_F(RecordingCommandsTest, AKeyIsTheClickWithItsRefusals) {
  registerHotKeys(window);
  EXPECT_EQ(status(), "idle") << "both keys are free here";
  EXPECT_EQ(commandOfHotKey(1), IDC_GRAB);
  EXPECT_EQ(commandOfHotKey(2), IDC_PAUSE);
  EXPECT_EQ(commandOfHotKey(3), 0);
  // Nothing chosen: the key asks for a window as the click does.
  {
    MessageBoxWatcher watcher;
    SendMessageA(window, WM_HOTKEY, 1, MAKELPARAM(MOD_CONTROL | MOD_ALT, VK_F9));
    ASSERT_TRUE(watcher.waitForBox());
    EXPECT_EQ(watcher.text, kChooseWindowMessage);
    EXPECT_EQ(captureState.grabbing, 0);
  }
  // While a box or dialog of Skelby is up the window is disabled: no key.
  select();
  EnableWindow(window, FALSE);
  SendMessageA(window, WM_HOTKEY, 1, 0);
  EXPECT_EQ(captureState.grabbing, 0) << "the key started a recording under a dialog";
  EnableWindow(window, TRUE);
  SendMessageA(window, WM_HOTKEY, 2, 0);
  EXPECT_FALSE(recordingPaused()) << "nothing to pause while idle";
  SendMessageA(window, WM_HOTKEY, 1, 0);
  ASSERT_EQ(captureState.grabbing, 1);
  SendMessageA(window, WM_HOTKEY, 2, 0);
  EXPECT_TRUE(recordingPaused());
  EnableWindow(window, FALSE);
  SendMessageA(window, WM_HOTKEY, 2, 0);
  SendMessageA(window, WM_HOTKEY, 1, 0);
  EXPECT_TRUE(recordingPaused());
  EXPECT_EQ(captureState.grabbing, 1) << "the key stopped a recording under a dialog";
  EnableWindow(window, TRUE);
  stopBeforeAnyFrame([this] { SendMessageA(window, WM_HOTKEY, 1, 0); });
  EXPECT_EQ(captureState.grabbing, 0);
  EXPECT_EQ(status(), "idle.");
}

TEST_F(RecordingCommandsTest, AKeyHeldElsewhereIsToldOnceAndLeftOffTheMenu) {
  // Another window holds Ctrl+Alt+F9 first.
  HWND other = CreateWindowExA(0, "STATIC", "holder", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  ASSERT_TRUE(RegisterHotKey(other, 7, MOD_CONTROL | MOD_ALT, VK_F9));
  registerHotKeys(window);
  EXPECT_EQ(status(), "Ctrl+Alt+F9 in use by another program");
  EXPECT_EQ(commandOfHotKey(1), 0) << "not ours";
  EXPECT_EQ(commandOfHotKey(2), IDC_PAUSE);
  EXPECT_EQ(menuItem(IDC_GRAB), "&Grab");
  EXPECT_EQ(menuItem(IDC_PAUSE), "&Pause\tCtrl+Alt+F10");
  // The click still records.
  grab();
  EXPECT_EQ(status(), "Grabbing.");
  stopBeforeAnyFrame([this] { command(IDC_GRAB); });
  EXPECT_EQ(status(), "idle.");
  unregisterHotKeys(window);

  ASSERT_TRUE(RegisterHotKey(other, 8, MOD_CONTROL | MOD_ALT, VK_F10));
  registerHotKeys(window);
  EXPECT_EQ(status(), "Ctrl+Alt+F9, Ctrl+Alt+F10 in use by another program");
  DestroyWindow(other);
}

TEST_F(RecordingCommandsTest, TheSecondStatusPartShowsTheMoviesLengthAndSizeWhileRecording) {
  EXPECT_EQ(parts(), 1);
  grab();
  ASSERT_EQ(parts(), 2);
  EXPECT_EQ(status(1), "00:00:00  0.0 MB");
  EXPECT_EQ(status(), "Grabbing.") << "the first part keeps its text";
  turns(2300);
  // Shown again about once a second: at most that far behind the movie.
  const std::string shown = status(1);
  ASSERT_GE(shown.size(), std::strlen("00:00:00  0.0 MB")) << shown;
  EXPECT_EQ(shown.substr(0, 6), "00:00:");
  EXPECT_EQ(shown.substr(8, 2), "  ");
  EXPECT_EQ(shown.substr(shown.size() - 3), " MB");
  const int seconds = std::stoi(shown.substr(6, 2));
  EXPECT_GE(seconds, 1) << shown;
  EXPECT_LE(seconds * 1000, movieWriter.appendedDuration) << shown;
  EXPECT_GT((seconds + 2) * 1000, movieWriter.appendedDuration) << shown;
  command(IDC_PAUSE);
  ASSERT_EQ(parts(), 2) << "paused, it stays";
  command(IDC_GRAB);
  EXPECT_EQ(parts(), 1);
  EXPECT_EQ(status(), "idle.");
}

}  // namespace
