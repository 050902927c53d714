// What the window does when a recording cannot go on or its movie cannot be
// saved, driven through the real main window and main loop against the test
// library (QuickTime answers what each test asks for).
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FakeQuickTime.h"
#include "MovieTestSupport.h"
#include "TestSupport.h"
#include "app/CaptureState.h"
#include "app/MainWindow.h"
#include "app/Skelby.h"
#include "capture/RecordingControl.h"
#include "capture/WindowList.h"
#include "movie/CompressionSettings.h"
#include "resource.h"

namespace {

constexpr const char* kTarget = "Skelby failure target";

class RecordingFailuresTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls = {8, 0xFF};
    InitCommonControlsEx(&controls);
    ASSERT_TRUE(registerMainWindowClass(GetModuleHandleA(nullptr)));
  }

  void SetUp() override {
    qt = resetFakeQuickTime();
    ASSERT_NE(qt, nullptr) << "the test library is not the bound QuickTime.qts";
    captureState = CaptureState{};
    compressionSettings = CompressionSettings{};
    compressionSettings.frameDurationMs = 1;
    target = CreateWindowExA(0, "STATIC", kTarget, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 400, 100, 200, 150,
                             nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    window = createMainWindow(GetModuleHandleA(nullptr));
    ASSERT_NE(window, nullptr);
    createControls(window);
    ShowWindow(window, SW_SHOWNORMAL);
    refreshWindowList();
    pumpMessages();
    std::strcpy(captureState.destinationPath, "c:\\failures.mov");
    const LRESULT index =
        SendMessageA(captureState.listBox, LB_FINDSTRINGEXACT, -1, reinterpret_cast<LPARAM>(kTarget));
    ASSERT_NE(index, LB_ERR);
    SendMessageA(captureState.listBox, LB_SETCURSEL, index, 0);
  }

  void TearDown() override {
    if (captureState.grabbing || captureState.unsaved) {
      qt->addMovieResourceResult = qt->closeMovieFileResult = qt->compressImageResult = noErr;
      stopGrabbing();
      stopRecording();
    }
    if (IsWindow(window)) DestroyWindow(window);
    if (target) DestroyWindow(target);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    captureState = CaptureState{};
  }

  void command(int id) { SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

  // Turns the main loop until done() holds, at most `turns` times (each
  // turn waits a millisecond, so a frame is due on most of them).
  template <typename Done>
  bool turnUntil(Done done, int turns = 20000) {
    MSG msg = {};
    for (int i = 0; i < turns; ++i) {
      if (done()) return true;
      runMainLoopTurn(msg);
      Sleep(1);
    }
    return done();
  }

  // Grab, then turn until at least `frames` frames are in the movie.
  void recordFrames(int32_t frames) {
    command(IDC_GRAB);
    ASSERT_EQ(captureState.grabbing, 1);
    ASSERT_TRUE(turnUntil([&] { return qt->samples >= frames; })) << qt->samples << " frames";
    ASSERT_EQ(windowText(captureState.statusBar), "Grabbing!");
  }

  std::string status() { return windowText(captureState.statusBar); }

  FakeQuickTimeState* qt = nullptr;
  HWND window = nullptr;
  HWND target = nullptr;
};

TEST_F(RecordingFailuresTest, ACodecShortOfMemoryStopsTheRecordingOnceAndTheMovieKeepsItsFrames) {
  for (const OSErr failure : {OSErr(codecErr), OSErr(memFullErr)}) {
    qt = resetFakeQuickTime();
    recordFrames(3);
    qt->compressImageResult = failure;
    MessageBoxWatcher told;
    ASSERT_TRUE(turnUntil([&] { return captureState.grabbing == 0; })) << "the recording went on";
    ASSERT_TRUE(told.waitForBox()) << "nobody was told";
    const std::string first =
        "Recording stopped: a frame could not be recorded : Error " + std::to_string(failure);
    EXPECT_EQ(told.text.rfind(first, 0), 0u) << told.text;
    EXPECT_NE(told.text.find("The movie keeps everything recorded up to then."), std::string::npos)
        << told.text;
    EXPECT_EQ(told.owner, window);
    // The frames before the failure are in the movie, and it is written.
    const int32_t kept = qt->samples;
    EXPECT_GE(kept, 3);
    EXPECT_EQ(occurrences(qt->log, "AddMovieResource"), 1);
    EXPECT_EQ(occurrences(qt->log, "CloseMovieFile"), 1);
    EXPECT_EQ(qt->openFiles, 0);
    EXPECT_EQ(status(), "idle.");
    EXPECT_EQ(windowText(captureState.grabButton), "Grab");
    EXPECT_EQ(captureState.targetWindow, nullptr);

    // Told once: the loop goes on without another word or another frame.
    MessageBoxWatcher again;
    turnUntil([] { return false; }, 200);
    EXPECT_FALSE(again.waitForBox(300)) << "told again: " << again.text;
    EXPECT_EQ(qt->samples, kept);
  }
}

TEST_F(RecordingFailuresTest, AFileThatDoesNotCloseIsNotReportedSaved) {
  recordFrames(2);
  qt->closeMovieFileResult = ioErr;
  MessageBoxWatcher told;
  command(IDC_GRAB);  // Stop
  ASSERT_TRUE(told.waitForBox());
  EXPECT_EQ(told.text.rfind("The movie file could not be closed : Error -36", 0), 0u) << told.text;
  EXPECT_EQ(status(), "Not saved: the movie file did not close.");
  // Nothing is left to try again with: the window is ready for the next one.
  EXPECT_EQ(windowText(captureState.grabButton), "Grab");
  EXPECT_EQ(captureState.unsaved, 0);
  EXPECT_TRUE(IsWindowEnabled(captureState.widthField));

  // At exit the same failure is told once, with no Retry that could not help.
  qt->closeMovieFileResult = noErr;
  recordFrames(qt->samples + 2);
  qt->closeMovieFileResult = ioErr;
  MessageBoxWatcher atExit;
  finishBeforeExit();
  ASSERT_TRUE(atExit.seen());
  EXPECT_EQ(atExit.text.rfind("The movie file could not be closed : Error -36", 0), 0u) << atExit.text;
  EXPECT_TRUE(atExit.hasOkButton);
  EXPECT_EQ(atExit.owner, window);
}

BOOL CALLBACK longestStatic(HWND child, LPARAM param) {
  auto* text = reinterpret_cast<std::string*>(param);
  const std::string name = className(child);
  if (name == "Static" || name == "STATIC") {
    const std::string t = windowText(child);
    if (t.size() > text->size()) *text = t;
  }
  return TRUE;
}

// Stands in for a user at the Retry box of exit: clicks Grab and Stop on the
// main window (as posted commands, which a disabled window still receives),
// notes what it sees, then makes room and chooses Retry. Any other box is
// noted and dismissed.
struct RetryBoxUser {
  HWND main;
  FakeQuickTimeState* qt;
  std::vector<std::string> boxes;
  bool mainEnabledUnderBox = true;
  HWND owner = nullptr;
  volatile LONG done = 0;

  static DWORD WINAPI run(void* param) {
    auto* self = static_cast<RetryBoxUser*>(param);
    for (int waited = 0; !self->done && waited < 20000; waited += 20) {
      HWND box = FindWindowA("#32770", "Skelby");
      if (!box || !IsWindowVisible(box)) {
        Sleep(20);
        continue;
      }
      Sleep(50);
      std::string text;
      EnumChildWindows(box, longestStatic, reinterpret_cast<LPARAM>(&text));
      self->boxes.push_back(text);
      if (GetDlgItem(box, IDRETRY)) {
        self->owner = GetWindow(box, GW_OWNER);
        self->mainEnabledUnderBox = IsWindowEnabled(self->main) != FALSE;
        PostMessageA(self->main, WM_COMMAND, MAKEWPARAM(IDC_GRAB, BN_CLICKED), 0);
        Sleep(300);
        PostMessageA(self->main, WM_COMMAND, MAKEWPARAM(IDC_GRAB, BN_CLICKED), 0);
        Sleep(300);
        self->qt->addMovieResourceResult = noErr;  // room made
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDRETRY, BN_CLICKED), 0);
      } else {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      }
      while (IsWindow(box) && IsWindowVisible(box)) Sleep(20);
    }
    return 0;
  }
};

TEST_F(RecordingFailuresTest, GrabAndStopAtExitsRetryBoxAreRefusedAndTheMovieIsSaved) {
  recordFrames(3);
  qt->addMovieResourceResult = dskFulErr;
  // Exit from the menu, as the loop meets it: the loop ends and takes the
  // quit message, and the shutdown finishes the movie.
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
  EXPECT_EQ(runMainLoop(), 0);
  ASSERT_EQ(captureState.quitRequested, 1);
  const int32_t kept = qt->samples;

  RetryBoxUser user = {window, qt, {}, true, nullptr, 0};
  HANDLE thread = CreateThread(nullptr, 0, RetryBoxUser::run, &user, 0, nullptr);
  finishBeforeExit();
  InterlockedExchange(&user.done, 1);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);

  ASSERT_FALSE(user.boxes.empty()) << "no Retry box came up";
  ASSERT_EQ(user.boxes.size(), 1u) << "a second box came up: " << user.boxes.back();
  EXPECT_EQ(user.boxes[0].rfind("The movie could not be saved : Error -34", 0), 0u)
      << "[" << user.boxes[0] << "]";
  EXPECT_EQ(user.owner, window);
  EXPECT_FALSE(user.mainEnabledUnderBox) << "the main window took clicks under the box";
  // No new movie was created over the one being saved, which is saved whole.
  EXPECT_EQ(occurrences(qt->log, "CreateMovieFile"), 1);
  EXPECT_EQ(occurrences(qt->log, "AddMovieResource"), 2);
  EXPECT_EQ(occurrences(qt->log, "CloseMovieFile"), 1);
  EXPECT_EQ(qt->samples, kept);
  EXPECT_EQ(qt->openFiles, 0);
  EXPECT_EQ(captureState.grabbing, 0);
  EXPECT_EQ(captureState.targetWindow, nullptr) << "the target is forgotten";
}

}  // namespace
