#include "TestSupport.h"

void pumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

std::string windowText(HWND window) {
  char text[1024] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string className(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

RECT childRect(HWND child) {
  RECT r = {};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

namespace {

struct BoxSearch {
  DWORD process;
  HWND found;
};

BOOL CALLBACK findDialogOfProcess(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != search->process || !IsWindowVisible(window)) return TRUE;
  if (className(window) != "#32770") return TRUE;
  search->found = window;
  return FALSE;
}

BOOL CALLBACK readBoxText(HWND child, LPARAM param) {
  auto* box = reinterpret_cast<MessageBoxWatcher*>(param);
  if (className(child) == "Static" || className(child) == "STATIC") {
    std::string t = windowText(child);
    if (!t.empty()) box->text = t;
  }
  return TRUE;
}

}  // namespace

MessageBoxWatcher::MessageBoxWatcher() { thread_ = CreateThread(nullptr, 0, watch, this, 0, nullptr); }

MessageBoxWatcher::~MessageBoxWatcher() {
  InterlockedExchange(&stop_, 1);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
}

DWORD WINAPI MessageBoxWatcher::watch(void* param) {
  auto* self = static_cast<MessageBoxWatcher*>(param);
  while (!self->stop_) {
    BoxSearch search = {GetCurrentProcessId(), nullptr};
    EnumWindows(findDialogOfProcess, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      // The box may be found before it has made its text and buttons; on a
      // loaded machine that takes more than a moment, so wait for its text
      // (every box the program shows has some) for up to two seconds.
      Sleep(50);
      for (int tries = 0; tries < 100 && self->text.empty(); ++tries) {
        EnumChildWindows(search.found, readBoxText, reinterpret_cast<LPARAM>(self));
        if (self->text.empty()) Sleep(20);
      }
      self->caption = windowText(search.found);
      self->owner = GetWindow(search.found, GW_OWNER);
      HWND ok = GetDlgItem(search.found, IDOK);
      self->hasOkButton = ok && windowText(ok) == "OK";
      PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
      InterlockedExchange(&self->seen_, 1);
      return 0;
    }
    Sleep(20);
  }
  return 0;
}

bool MessageBoxWatcher::waitForBox(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!seen_ && GetTickCount() - start < timeoutMs) {
    pumpMessages();
    Sleep(10);
  }
  return seen_ != 0;
}
