#pragma once
#include <windows.h>

#include <string>

// Helpers for tests that drive real windows in their own process.

// Dispatches every waiting message of this thread.
void pumpMessages();
// The window's text.
std::string windowText(HWND window);
// The window's class name.
std::string className(HWND window);
// The child's rectangle in its parent's client coordinates.
RECT childRect(HWND child);

// Watches, from a thread of its own, for a message box of this process, notes
// what it shows and dismisses it with OK, so no test ever waits for a person.
class MessageBoxWatcher {
 public:
  MessageBoxWatcher();
  ~MessageBoxWatcher();
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  // Waits (pumping this thread's messages) until a box was seen and
  // dismissed, or the time-out passed; true when one was seen.
  bool waitForBox(DWORD timeoutMs = 10000);
  bool seen() const { return seen_ != 0; }
  std::string caption;
  std::string text;
  HWND owner = nullptr;
  bool hasOkButton = false;

 private:
  static DWORD WINAPI watch(void* self);
  HANDLE thread_ = nullptr;
  volatile LONG stop_ = 0;
  volatile LONG seen_ = 0;
};
