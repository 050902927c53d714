#include "capture/WindowList.h"

#include <cstdio>
#include <cstring>

#include "app/CaptureState.h"
#include "capture/TargetPixels.h"
#include "resource.h"

namespace {

constexpr int kTitleBufferSize = 300;

BOOL CALLBACK addListedWindow(HWND window, LPARAM) {
  char title[kTitleBufferSize];
  if (GetWindowTextA(window, title, sizeof title) <= 0) return TRUE;
  if (!IsWindow(window)) return TRUE;
  RECT r = {};
  if (!GetWindowRect(window, &r)) return TRUE;  // it went away meanwhile
  if (r.right - r.left <= 0 || r.bottom - r.top <= 0) return TRUE;
  if (!IsWindowVisible(window)) return TRUE;
  SendMessageA(captureState.listBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(title));
  return TRUE;
}

struct TitleSearch {
  const char* title;
  HWND found;
};

BOOL CALLBACK matchTitle(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TitleSearch*>(param);
  char title[kTitleBufferSize];
  // GetWindowText cuts at the buffer and always terminates, so a title of 299
  // characters or more is compared by its first 299, as it was listed.
  if (GetWindowTextA(window, title, sizeof title) <= 0) return TRUE;
  if (strcmp(title, search->title) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

bool readSelectedTitle() {
  HWND list = captureState.listBox;
  LRESULT index = SendMessageA(list, LB_GETCURSEL, 0, 0);
  if (index == LB_ERR) return false;
  LRESULT length = SendMessageA(list, LB_GETTEXTLEN, index, 0);
  if (length == LB_ERR || length >= kTitleBufferSize) return false;
  return SendMessageA(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(captureState.targetTitle)) != LB_ERR;
}

void refreshWindowList() {
  HWND list = captureState.listBox;
  while (SendMessageA(list, LB_GETCOUNT, 0, 0) > 0) SendMessageA(list, LB_DELETESTRING, 0, 0);
  EnumWindows(addListedWindow, 0);
}

HWND findWindowByTitle(const char* title) {
  TitleSearch search = {title, nullptr};
  if (title[0] == '\0') return nullptr;
  EnumWindows(matchTitle, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool measureWindow(HWND window, bool borders, int32_t& width, int32_t& height) {
  // In the window's own pixels, as a recording copies it: the label and the
  // fields show what will be recorded, at any display scaling.
  return measureInOwnTerms(systemWindowCalls(), window, borders, width, height);
}

void probeTargetSize(bool fillFields) {
  CaptureState& s = captureState;
  readSelectedTitle();
  HWND window = findWindowByTitle(s.targetTitle);
  const bool borders = IsDlgButtonChecked(s.mainWindow, IDC_CAPTUREBORDERS) == BST_CHECKED;
  int32_t width = 0;
  int32_t height = 0;
  // A window that closed after it was found is as good as not found.
  if (!measureWindow(window, borders, width, height)) {
    refreshWindowList();
    return;
  }
  char text[256];
  snprintf(text, sizeof text, borders ? "Window Size : %dx%d" : "Client Size : %dx%d", int(width),
           int(height));
  SetWindowTextA(s.sizeLabel, text);
  // A running recording keeps the size its last frame measured; what is
  // chosen now is for the next one.
  if (!s.grabbing) {
    s.sourceWidth = width;
    s.sourceHeight = height;
  }
  if (fillFields) {
    // Setting the texts makes the fields report a change, which stores the
    // output size while idle.
    SetDlgItemInt(s.mainWindow, IDC_WIDTH, static_cast<UINT>(width), FALSE);
    SetDlgItemInt(s.mainWindow, IDC_HEIGHT, static_cast<UINT>(height), FALSE);
  }
}
