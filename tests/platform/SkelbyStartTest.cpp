// Skelby's start: without a usable QuickTime it says so and quits before any
// window exists; with our QuickTime.qts beside it, it opens its window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QuickTimeTestSupport.h"

namespace {

const char kDownloadCaption[] = "https://support.apple.com/downloads/quicktime";

struct ProcessWindows {
  DWORD processId;
  std::vector<HWND> windows;
};

BOOL CALLBACK collectWindowOfProcess(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<ProcessWindows*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == found->processId) found->windows.push_back(window);
  return TRUE;
}

std::vector<HWND> topLevelWindowsOf(DWORD processId) {
  ProcessWindows found{processId, {}};
  EnumWindows(collectWindowOfProcess, reinterpret_cast<LPARAM>(&found));
  return found.windows;
}

std::string textOf(HWND window) {
  char text[512] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// Starts the copy of skelby.exe in `folder`; closes the handles on the way out.
struct SkelbyProcess {
  PROCESS_INFORMATION info = {};
  bool started = false;
  explicit SkelbyProcess(const TempFolder& folder) {
    started = startProgram(folder.path() + "skelby.exe", folder.path(), &info);
  }
  ~SkelbyProcess() {
    if (!started) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  DWORD exitCode(DWORD timeoutMs) const {
    if (WaitForSingleObject(info.hProcess, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info.hProcess, &code);
    return code;
  }
};

}  // namespace

TEST(SkelbyStart, WithoutQuickTimeShowsMessageAndExitsZeroBeforeAnyWindow) {
  removeRegistryFolders();
  TempFolder folder;
  ASSERT_TRUE(folder.copyIn(binFolder() + "skelby.exe", "skelby.exe"));
  SkelbyProcess skelby(folder);
  ASSERT_TRUE(skelby.started);

  HWND box = nullptr;
  bool otherWindow = false;
  for (int i = 0; i < 300 && !box; ++i) {
    for (HWND window : topLevelWindowsOf(skelby.info.dwProcessId)) {
      if (textOf(window) == kDownloadCaption) {
        box = window;
      } else if (IsWindowVisible(window)) {
        otherWindow = true;
      }
    }
    if (!box) Sleep(50);
  }
  ASSERT_NE(box, nullptr) << "no message box with the download address as caption";
  EXPECT_EQ(textOf(GetDlgItem(box, 0xFFFF)), "Quicktime is not installed");
  HWND ok = GetDlgItem(box, IDOK);
  ASSERT_NE(ok, nullptr) << "the box has an OK button";
  for (HWND window : topLevelWindowsOf(skelby.info.dwProcessId)) {
    if (window != box && textOf(window) == "Skelby") otherWindow = true;
  }
  EXPECT_FALSE(otherWindow) << "a window opened before QuickTime was found";
  PostMessageA(box, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(ok));
  EXPECT_EQ(skelby.exitCode(20000), 0u);
}

TEST(SkelbyStart, WithOurQuickTimeBesideItOpensItsWindow) {
  removeRegistryFolders();
  TempFolder folder;
  ASSERT_TRUE(folder.copyIn(binFolder() + "skelby.exe", "skelby.exe"));
  ASSERT_TRUE(folder.copyIn(ourLibraryPath(), "QuickTime.qts"));
  SkelbyProcess skelby(folder);
  ASSERT_TRUE(skelby.started);

  HWND main = nullptr;
  for (int i = 0; i < 300 && !main; ++i) {
    for (HWND window : topLevelWindowsOf(skelby.info.dwProcessId)) {
      EXPECT_NE(textOf(window), kDownloadCaption) << "QuickTime was not found beside the program";
      if (textOf(window) == "Skelby" && IsWindowVisible(window)) main = window;
    }
    if (!main) Sleep(50);
  }
  ASSERT_NE(main, nullptr) << "the main window did not open";
  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(skelby.exitCode(20000), 0u);
}
