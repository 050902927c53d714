#include "MovieTestSupport.h"

#include "FakeQuickTime.h"
#include "TestSupport.h"
#include "movie/CompressionSettings.h"
#include "platform/QuickTimeLibrary.h"
#include "platform/QuickTimeServices.h"

bool startQuickTime() {
  static const bool started = InitializeQTML(0) == noErr && EnterMovies() == noErr;
  return started;
}

FakeQuickTimeState* resetFakeQuickTime() {
  if (!startQuickTime()) return nullptr;
  // Through void*, as GetProcAddress's type fits no particular function.
  auto reset = reinterpret_cast<void (*)()>(
      reinterpret_cast<void*>(GetProcAddress(libraryHandle, "fakeQuickTimeReset")));
  auto state = reinterpret_cast<FakeQuickTimeStateFunction>(
      reinterpret_cast<void*>(GetProcAddress(libraryHandle, "fakeQuickTimeState")));
  if (!reset || !state) return nullptr;
  reset();
  return state();
}

ForegroundWindow::ForegroundWindow() {
  handle = CreateWindowExA(0, "STATIC", "movie test owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200,
                           100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  SetForegroundWindow(handle);
  pumpMessages();
}

ForegroundWindow::~ForegroundWindow() {
  DestroyWindow(handle);
  pumpMessages();
}

namespace {

struct DriverContext {
  std::function<void(HWND)> action;
  DWORD timeoutMs;
  volatile LONG shown;
  volatile LONG endedByDriver;
};

BOOL CALLBACK findExportSettings(HWND window, LPARAM param) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && IsWindowVisible(window) && className(window) == "#32770" &&
      windowText(window) == "Export Settings") {
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
  }
  return TRUE;
}

HWND findDialog() {
  HWND found = nullptr;
  EnumWindows(findExportSettings, reinterpret_cast<LPARAM>(&found));
  return found;
}

DWORD WINAPI drive(void* param) {
  auto* context = static_cast<DriverContext*>(param);
  const DWORD start = GetTickCount();
  HWND dialog = nullptr;
  while (!(dialog = findDialog()) && GetTickCount() - start < context->timeoutMs) Sleep(20);
  if (!dialog) return 0;
  InterlockedExchange(&context->shown, 1);
  Sleep(100);  // let the dialog finish showing itself
  context->action(dialog);
  while (IsWindow(dialog) && IsWindowVisible(dialog) && GetTickCount() - start < context->timeoutMs)
    Sleep(20);
  if (IsWindow(dialog) && IsWindowVisible(dialog)) {
    InterlockedExchange(&context->endedByDriver, 1);
    clickButton(dialog, 151);
  }
  return 0;
}

}  // namespace

DialogRun runExportSettings(const std::function<void(HWND)>& action, DWORD timeoutMs) {
  DriverContext context{action, timeoutMs, 0, 0};
  HANDLE thread = CreateThread(nullptr, 0, drive, &context, 0, nullptr);
  DialogRun run;
  run.result = showExportSettings();
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  run.shown = context.shown != 0;
  run.endedByDriver = context.endedByDriver != 0;
  return run;
}

void clickButton(HWND dialog, int id) {
  // Sent, not posted: the dialog has handled the click when this returns.
  SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

std::vector<std::string> comboItems(HWND dialog, int id) {
  std::vector<std::string> items;
  const LRESULT count = SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[300] = "";
    SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text));
    items.push_back(text);
  }
  return items;
}

int comboSelection(HWND dialog, int id) { return int(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0)); }

void selectComboItem(HWND dialog, int id, int index) {
  SendDlgItemMessageA(dialog, id, CB_SETCURSEL, WPARAM(index), 0);
}

int occurrences(const char* log, const char* name) {
  const std::string text = log, word = std::string(name) + " ";
  int count = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
    if (at == 0 || text[at - 1] == ' ') ++count;
  return count;
}
