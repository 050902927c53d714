#include "app/DestinationDialog.h"

#include <windows.h>
#include <commdlg.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "QuickTimeTypes.h"
#include "app/CaptureState.h"

namespace {

// Room for any path the dialog can hand back, which may be longer than the
// name typed (a shortcut that it follows).
constexpr size_t kNameBufferSize = 32768;
const char kDefaultExtension[] = "mov";

// The movie writer's own words for a name it cannot take, so a name refused
// here reads as one refused at Grab.
void tellNameTooLong(HWND owner) {
  char text[64];
  std::snprintf(text, sizeof text, "Impossible To Create Movie File : Error %d", int(bdNamErr));
  MessageBoxA(owner, text, "error", MB_OK);
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// One of the dialog's texts (CDM_GETSPEC, CDM_GETFOLDERPATH), whatever its length.
std::string dialogText(HWND dialog, UINT message) {
  const LRESULT size = SendMessageA(dialog, message, 0, 0);
  if (size <= 0) return std::string();
  std::vector<char> text(static_cast<size_t>(size) + 1, '\0');
  SendMessageA(dialog, message, text.size(), reinterpret_cast<LPARAM>(text.data()));
  return std::string(text.data());
}

WNDPROC saveDialogProc = nullptr;

// Stands in front of the save dialog's own procedure. A name that makes a
// path too long for a movie is refused before the dialog takes it: the
// dialog builds the whole path in a buffer of MAX_PATH characters (Wine's
// overflows it and crashes), and such a movie could not be written anyway.
// The dialog stays open for another name.
LRESULT CALLBACK refuseLongNames(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    const std::string folder = dialogText(dialog, CDM_GETFOLDERPATH);
    const std::string name = dialogText(dialog, CDM_GETSPEC);
    if (chosenPathLength(folder.c_str(), name.c_str(), kDefaultExtension) > kLongestDestination) {
      tellNameTooLong(dialog);
      return 0;
    }
  }
  return CallWindowProcA(saveDialogProc, dialog, message, wParam, lParam);
}

// The hook's (empty) child dialog is made inside the save dialog before it
// shows: the moment to put refuseLongNames in front of the save dialog.
UINT_PTR CALLBACK saveDialogHook(HWND child, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) {
    HWND dialog = GetParent(child);
    saveDialogProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(refuseLongNames)));
  }
  return 0;
}

}  // namespace

size_t chosenPathLength(const char* folder, const char* name, const char* extension) {
  const size_t nameLength = std::strlen(name);
  if (nameLength == 0) return 0;
  size_t length = nameLength;
  const bool drive = nameLength >= 2 && name[1] == ':';
  const bool server = nameLength >= 2 && isSeparator(name[0]) && isSeparator(name[1]);
  if (!drive && !server) {
    const size_t folderLength = std::strlen(folder);
    if (isSeparator(name[0])) {
      length += 2;  // the folder's drive, "c:"
    } else if (folderLength > 0) {
      length += folderLength + (isSeparator(folder[folderLength - 1]) ? 0 : 1);
    }
  }
  const char* lastPart = name;
  for (const char* c = name; *c != '\0'; ++c) {
    if (isSeparator(*c)) lastPart = c + 1;
  }
  if (!std::strchr(lastPart, '.')) length += 1 + std::strlen(extension);
  return length;
}

void chooseDestination() {
  CaptureState& s = captureState;
  std::vector<char> name(kNameBufferSize, '\0');
  lstrcpynA(name.data(), s.destinationPath, static_cast<int>(name.size()));
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  // Modal to the main window: no Grab can be pressed while the dialog is
  // up, so the path never changes under a recording.
  ofn.hwndOwner = s.mainWindow;
  ofn.lpstrFilter = "Mov Files\0*.mov\0";
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = static_cast<DWORD>(name.size());
  ofn.lpstrTitle = "Mov destination";
  ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR | OFN_ENABLEHOOK | OFN_ENABLESIZING;
  ofn.lpfnHook = saveDialogHook;
  ofn.lpstrDefExt = kDefaultExtension;
  // Only an accepted dialog gives a name: after cancel the buffer is as it
  // was, and after a failure its first bytes hold a required size, not a
  // path. A dialog that failed (rather than was cancelled) is told.
  if (!GetSaveFileNameA(&ofn)) {
    const DWORD failure = CommDlgExtendedError();
    if (failure != 0) {
      char text[128];
      std::snprintf(text, sizeof text, "The save dialog could not be shown : Error %lu",
                    static_cast<unsigned long>(failure));
      MessageBoxA(s.mainWindow, text, "error", MB_OK);
    }
    return;
  }
  if (name[0] == '\0') return;
  if (std::strlen(name.data()) > kLongestDestination) {
    tellNameTooLong(s.mainWindow);
    return;
  }
  lstrcpynA(s.destinationPath, name.data(), sizeof s.destinationPath);
  SetWindowTextA(s.destinationLabel, s.destinationPath);
}
