// What the window does when a recording cannot go on or its movie cannot be
// saved, driven through the real main window and main loop against the test
// library (QuickTime answers what each test asks for).
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
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

// An H.264 encoder that fails mid-recording: the same single stop, in words
// that name the encoder, the frames before it saved, and the sequence ended
// once. One that cannot start is told at Grab, before any file is made.
TEST_F(RecordingFailuresTest, AnEncoderThatFailsStopsTheRecordingOnceWithItsOwnWords) {
  const auto offerH264 = [&] {
    qt->codecs[qt->codecCount++] = FakeCodec{kH264CodecType, 5, "H.264"};
    std::strcpy(compressionSettings.codecName, "H.264");
  };
  {
    // A scope of its own: a watcher still alive would race the next part's
    // watcher for its box and dismiss it first.
    offerH264();
    recordFrames(3);
    EXPECT_EQ(qt->sequencesBegun, 1);
    qt->sequenceFrameResult = codecErr;
    MessageBoxWatcher told;
    ASSERT_TRUE(turnUntil([&] { return captureState.grabbing == 0; })) << "the recording went on";
    ASSERT_TRUE(told.waitForBox()) << "nobody was told";
    EXPECT_EQ(told.text.rfind("Recording stopped: the encoder failed on a frame : Error -8960", 0), 0u)
        << told.text;
    EXPECT_NE(told.text.find("The movie keeps everything recorded up to then."), std::string::npos)
        << told.text;
    EXPECT_EQ(occurrences(qt->log, "AddMovieResource"), 1);
    EXPECT_EQ(qt->sequencesEnded, 1);
    EXPECT_EQ(qt->liveSequences, 0);
    EXPECT_EQ(qt->brokenReferences, 0);
    EXPECT_EQ(status(), "idle.");
    MessageBoxWatcher again;
    turnUntil([] { return false; }, 200);
    EXPECT_FALSE(again.waitForBox(300)) << "told again: " << again.text;
  }

  qt = resetFakeQuickTime();
  offerH264();
  qt->sequenceBeginResult = codecErr;
  Sleep(GetDoubleClickTime() + 20);
  MessageBoxWatcher atGrab;
  command(IDC_GRAB);
  ASSERT_TRUE(atGrab.waitForBox());
  EXPECT_EQ(atGrab.text, "The codec could not start compressing : Error -8960");
  EXPECT_EQ(captureState.grabbing, 0);
  EXPECT_EQ(occurrences(qt->log, "CreateMovieFile"), 0);
  EXPECT_EQ(qt->liveSequences, 0);
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
  Sleep(GetDoubleClickTime() + 20);
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

std::string fileBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

TEST(GrabAfterStop, WithinTheDoubleClickTimeOfAStopIsIgnored) {
  EXPECT_TRUE(grabFollowsStop(1000, 1000, 500));
  EXPECT_TRUE(grabFollowsStop(1000, 1499, 500));
  EXPECT_FALSE(grabFollowsStop(1000, 1500, 500));
  EXPECT_FALSE(grabFollowsStop(1000, 90000, 500));
  // The tick count wraps after 49.7 days.
  EXPECT_TRUE(grabFollowsStop(0xFFFFFF00u, 0x00000010u, 500));
  EXPECT_FALSE(grabFollowsStop(0xFFFFFF00u, 0x00000200u, 500));
}

// The second click of a double-click on Stop lands on Grab: it must not
// start a new movie over the one just saved. A Grab a moment later does.
TEST_F(RecordingFailuresTest, AGrabRightAfterAStopIsIgnoredAndOneAMomentLaterRecords) {
  recordFrames(2);
  MessageBoxWatcher quiet;
  command(IDC_GRAB);  // Stop
  command(IDC_GRAB);  // the second click
  EXPECT_EQ(captureState.grabbing, 0);
  EXPECT_EQ(status(), "idle.");
  EXPECT_EQ(windowText(captureState.grabButton), "Grab");
  EXPECT_EQ(occurrences(qt->log, "CreateMovieFile"), 1) << "no new movie over the saved one";
  EXPECT_EQ(occurrences(qt->log, "GetMaxCompressionSize"), 1) << "no start was tried";
  EXPECT_FALSE(quiet.waitForBox(300)) << quiet.text;

  Sleep(GetDoubleClickTime() + 50);
  recordFrames(qt->samples + 1);
  EXPECT_EQ(occurrences(qt->log, "CreateMovieFile"), 2);
}

// The window to record closed after it was chosen: Grab goes on looking for
// it, and Stop finds nothing recorded. The file at the destination is as it
// was, and the user hears why.
TEST_F(RecordingFailuresTest, AStopBeforeAnyFrameLeavesTheDestinationAsItWasAndSaysWhy) {
  const char kOld[] = "an earlier movie, kept byte for byte";
  {
    std::ofstream out(captureState.destinationPath, std::ios::binary);
    out << kOld;
  }
  DestroyWindow(target);
  target = nullptr;
  command(IDC_GRAB);
  ASSERT_EQ(captureState.grabbing, 1);
  turnUntil([] { return false; }, 50);
  EXPECT_EQ(status(), "Grabbing.");
  MessageBoxWatcher told;
  command(IDC_GRAB);  // Stop
  ASSERT_TRUE(told.waitForBox());
  EXPECT_EQ(told.text,
            std::string("Nothing was recorded: no window titled \"") + kTarget + "\" could be found.");
  EXPECT_EQ(told.owner, window);
  EXPECT_EQ(fileBytes(captureState.destinationPath), kOld);
  EXPECT_EQ(occurrences(qt->log, "CreateMovieFile"), 0);
  EXPECT_EQ(status(), "idle.");
  EXPECT_EQ(captureState.unsaved, 0);
  // Nothing is left to save at exit either.
  MessageBoxWatcher atExit;
  finishBeforeExit();
  EXPECT_FALSE(atExit.waitForBox(300)) << atExit.text;
  EXPECT_EQ(occurrences(qt->log, "AddMovieResource"), 0);
  DeleteFileA(captureState.destinationPath);
}

TEST_F(RecordingFailuresTest, AWindowThatStaysMinimisedIsNamedAsTheReason) {
  ShowWindow(target, SW_MINIMIZE);
  pumpMessages();
  command(IDC_GRAB);
  ASSERT_EQ(captureState.grabbing, 1);
  turnUntil([] { return false; }, 50);
  MessageBoxWatcher told;
  command(IDC_GRAB);  // Stop
  ASSERT_TRUE(told.waitForBox());
  EXPECT_EQ(told.text,
            std::string("Nothing was recorded: the window titled \"") + kTarget + "\" stayed minimised.");
  EXPECT_FALSE(fileExists(captureState.destinationPath));
}

// Asking whether the destination can be written changes nothing there; one
// that cannot be written is told at Grab with the library's code.
TEST_F(RecordingFailuresTest, ADestinationThatCannotBeWrittenIsToldAtGrabAndLeftAlone) {
  std::strcpy(captureState.destinationPath, "c:\\no such folder\\out.mov");
  MessageBoxWatcher told;
  command(IDC_GRAB);
  ASSERT_TRUE(told.waitForBox());
  EXPECT_EQ(told.text, "Impossible To Create Movie File : Error -120");
  EXPECT_EQ(captureState.grabbing, 0);
  EXPECT_EQ(captureState.currentFrame, nullptr);

  // A read-only file is refused, and stays as it was.
  std::strcpy(captureState.destinationPath, "c:\\read-only.mov");
  {
    std::ofstream out(captureState.destinationPath, std::ios::binary);
    out << "kept";
  }
  SetFileAttributesA(captureState.destinationPath, FILE_ATTRIBUTE_READONLY);
  MessageBoxWatcher readOnly;
  command(IDC_GRAB);
  ASSERT_TRUE(readOnly.waitForBox());
  EXPECT_EQ(readOnly.text, "Impossible To Create Movie File : Error -61");
  EXPECT_EQ(fileBytes(captureState.destinationPath), "kept");
  SetFileAttributesA(captureState.destinationPath, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(captureState.destinationPath);
  EXPECT_EQ(occurrences(qt->log, "CreateMovieFile"), 0);

  // A writable one: asked, and no file is left where there was none.
  EXPECT_EQ(probeDestination("c:\\probed.mov"), noErr);
  EXPECT_FALSE(fileExists("c:\\probed.mov"));
}

// Everything a start needs is checked before the movie file is made, and a
// start that failed (there, or at the first frame) leaves no movie to save
// or to try again.
TEST_F(RecordingFailuresTest, AFailedStartIsToldAndLeavesNothingToSave) {
  qt->maxCompressionSizeResult = codecSizeErr;
  MessageBoxWatcher codec;
  command(IDC_GRAB);
  ASSERT_TRUE(codec.waitForBox());
  EXPECT_EQ(codec.text, "The codec cannot compress frames of this size : Error -8963");
  EXPECT_EQ(captureState.grabbing, 0);

  qt = resetFakeQuickTime();
  qt->portHDCFails = true;
  MessageBoxWatcher frame;
  command(IDC_GRAB);
  ASSERT_TRUE(frame.waitForBox());
  EXPECT_EQ(frame.text, "Impossible to draw into the frame: QuickTime gave no device context.");
  EXPECT_EQ(captureState.grabbing, 0);
  EXPECT_EQ(captureState.currentFrame, nullptr);

  // The file cannot be made when the first frame is ready.
  qt = resetFakeQuickTime();
  qt->createMovieFileResult = dskFulErr;
  qt->moviesErrorAfterCreateFailure = dskFulErr;
  command(IDC_GRAB);
  ASSERT_EQ(captureState.grabbing, 1);
  MessageBoxWatcher told;
  ASSERT_TRUE(turnUntil([] { return captureState.grabbing == 0; }));
  ASSERT_TRUE(told.waitForBox());
  EXPECT_EQ(told.text, "Impossible To Create Movie File : Error -34\n\nNothing was recorded.");
  EXPECT_EQ(status(), "idle.");
  EXPECT_EQ(windowText(captureState.grabButton), "Grab");
  EXPECT_EQ(captureState.unsaved, 0);

  MessageBoxWatcher atExit;
  finishBeforeExit();
  EXPECT_FALSE(atExit.waitForBox(300)) << "asked to save a movie never made: " << atExit.text;
  EXPECT_EQ(occurrences(qt->log, "AddMovieResource"), 0);
  EXPECT_EQ(qt->liveMovies, 0);
  EXPECT_EQ(qt->liveHandles, 0);
}

// Logoff, restart or shutdown: the movie is finished before the answer.
TEST_F(RecordingFailuresTest, TheEndOfTheSessionSavesTheMovieBeforeItIsLetGo) {
  recordFrames(3);
  MessageBoxWatcher quiet;
  EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
  EXPECT_EQ(occurrences(qt->log, "AddMovieResource"), 1) << "saved before the answer";
  EXPECT_EQ(occurrences(qt->log, "CloseMovieFile"), 1);
  EXPECT_EQ(captureState.grabbing, 0);
  EXPECT_EQ(captureState.targetWindow, nullptr);
  EXPECT_EQ(status(), "idle.");
  SendMessageA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_EQ(captureState.quitRequested, 1);
  EXPECT_EQ(occurrences(qt->log, "AddMovieResource"), 1) << "saved once";
  EXPECT_FALSE(quiet.waitForBox(300)) << "nobody is there to answer: " << quiet.text;
}

TEST_F(RecordingFailuresTest, AtTheEndOfTheSessionAMovieThatCannotBeSavedKeepsItsLastFragment) {
  recordFrames(3);
  qt->addMovieResourceResult = dskFulErr;
  MessageBoxWatcher quiet;
  SendMessageA(window, WM_ENDSESSION, TRUE, 0);  // without a query first
  EXPECT_EQ(occurrences(qt->log, "AddMovieResource"), 1);
  EXPECT_EQ(occurrences(qt->log, "CloseMovieFile"), 1) << "let go of: the file keeps its fragments";
  EXPECT_EQ(qt->liveMovies, 0);
  EXPECT_EQ(captureState.unsaved, 0) << "nothing is left to retry";
  EXPECT_EQ(captureState.quitRequested, 1);
  EXPECT_FALSE(quiet.waitForBox(300)) << quiet.text;
}

// Watches for one of Skelby's own dialogs (by caption) from a thread of its
// own, and ends it with the command given, so no test waits for a person.
struct DialogWatcher {
  const char* caption;
  int closeWith;
  volatile LONG seen = 0;
  volatile LONG stop = 0;
  HANDLE thread = nullptr;

  DialogWatcher(const char* c, int id) : caption(c), closeWith(id) {
    thread = CreateThread(nullptr, 0, run, this, 0, nullptr);
  }
  ~DialogWatcher() {
    InterlockedExchange(&stop, 1);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  static DWORD WINAPI run(void* param) {
    auto* self = static_cast<DialogWatcher*>(param);
    while (!self->stop) {
      HWND dialog = FindWindowA("#32770", self->caption);
      if (dialog && IsWindowVisible(dialog)) {
        InterlockedExchange(&self->seen, 1);
        Sleep(100);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(self->closeWith, BN_CLICKED), 0);
        while (IsWindow(dialog) && !self->stop) Sleep(20);
        return 0;
      }
      Sleep(20);
    }
    return 0;
  }
};

// Under one of Skelby's modal boxes the main window is disabled; a command
// that reaches it all the same (posted) must not open the save dialog or
// Settings over the box. Enabled again, the same commands open them.
TEST_F(RecordingFailuresTest, TheDestinationDialogAndSettingsAreRefusedUnderAModalBox) {
  qt->codecCount = 1;
  qt->codecs[0] = {fourCC("rle "), 9, "Animation"};
  for (const auto& c :
       {std::make_pair(IDC_CHOOSEFILE, "Mov destination"), std::make_pair(IDM_SETTINGS, "Export Settings")}) {
    const int cancel = c.first == IDM_SETTINGS ? IDC_CANCEL : IDCANCEL;
    {
      DialogWatcher refused(c.second, cancel);
      EnableWindow(window, FALSE);
      command(c.first);
      Sleep(500);
      EXPECT_EQ(refused.seen, 0) << c.second << " opened under a modal box";
      EnableWindow(window, TRUE);
    }
    DialogWatcher opened(c.second, cancel);
    command(c.first);
    EXPECT_EQ(opened.seen, 1) << c.second << " did not open";
  }
}

}  // namespace
