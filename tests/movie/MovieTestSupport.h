// What the movie output's tests share: QuickTime started once per program,
// the test library's state, a top-level window to own things, and a driver
// for the modal Export Settings dialog.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct FakeQuickTimeState;

// InitializeQTML(0) and EnterMovies once per test program; true when both
// succeeded.
bool startQuickTime();
// The test library's state, reset to its happy path; null when the bound
// library is not the test library.
FakeQuickTimeState* resetFakeQuickTime();

// How many times `name` stands as a word in the test library's call log.
int occurrences(const char* log, const char* name);

// A visible top-level window brought to the foreground, destroyed with the object.
class ForegroundWindow {
 public:
  ForegroundWindow();
  ~ForegroundWindow();
  ForegroundWindow(const ForegroundWindow&) = delete;
  ForegroundWindow& operator=(const ForegroundWindow&) = delete;
  HWND handle = nullptr;
};

// Runs showExportSettings on this thread while `action` drives the dialog
// from a thread of its own, once the dialog is visible. The action must end
// the dialog (with clickButton); if it does not within the time-out, the
// driver presses Cancel so that no test can hang. Returns what
// showExportSettings returned; `shown` says whether the dialog was seen.
struct DialogRun {
  bool result = false;
  bool shown = false;
  bool endedByDriver = false;
};
DialogRun runExportSettings(const std::function<void(HWND)>& action, DWORD timeoutMs = 60000);

// Presses a button of a dialog from another thread, as a click would.
void clickButton(HWND dialog, int id);
// Combo box helpers, safe from another thread.
std::vector<std::string> comboItems(HWND dialog, int id);
int comboSelection(HWND dialog, int id);
void selectComboItem(HWND dialog, int id, int index);
