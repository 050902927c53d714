#include "app/HotKeys.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "app/CaptureState.h"
#include "resource.h"

namespace {

// Not defined by older headers; Windows 7 and later send one WM_HOTKEY per
// press instead of one per auto-repeat, so a key held a little too long does
// not stop the recording it has just started.
constexpr UINT kNoRepeat = 0x4000;

struct HotKey {
  int id;
  int command;
  UINT key;
  const char* name;
  bool registered;
};

// Keys that common programs leave alone.
HotKey hotKeys[] = {
    {1, IDC_GRAB, VK_F9, "Ctrl+Alt+F9", false},
    {2, IDC_PAUSE, VK_F10, "Ctrl+Alt+F10", false},
};

bool registerOne(HWND window, const HotKey& k) {
  if (RegisterHotKey(window, k.id, MOD_CONTROL | MOD_ALT | kNoRepeat, k.key)) return true;
  // A key held elsewhere is refused as such; anything else may be a system
  // that does not know the no-repeat flag (Vista).
  if (GetLastError() == ERROR_HOTKEY_ALREADY_REGISTERED) return false;
  return RegisterHotKey(window, k.id, MOD_CONTROL | MOD_ALT, k.key) != 0;
}

}  // namespace

void registerHotKeys(HWND mainWindow) {
  char taken[64] = "";
  for (HotKey& k : hotKeys) {
    k.registered = registerOne(mainWindow, k);
    if (k.registered) continue;
    if (taken[0] != '\0') strncat(taken, ", ", sizeof taken - strlen(taken) - 1);
    strncat(taken, k.name, sizeof taken - strlen(taken) - 1);
  }
  if (taken[0] == '\0') return;
  char text[128];
  formatKeysTaken(text, sizeof text, taken);
  SendMessageA(captureState.statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text));
}

void unregisterHotKeys(HWND mainWindow) {
  for (HotKey& k : hotKeys) {
    if (k.registered) UnregisterHotKey(mainWindow, k.id);
    k.registered = false;
  }
}

int commandOfHotKey(WPARAM id) {
  for (const HotKey& k : hotKeys) {
    if (WPARAM(k.id) == id && k.registered) return k.command;
  }
  return 0;
}

void formatMenuText(char* item, size_t size, const char* label, int command) {
  for (const HotKey& k : hotKeys) {
    if (k.command == command && k.registered) {
      snprintf(item, size, "%s\t%s", label, k.name);
      return;
    }
  }
  snprintf(item, size, "%s", label);
}

void formatKeysTaken(char* text, size_t size, const char* names) {
  snprintf(text, size, "%s in use by another program", names);
}
