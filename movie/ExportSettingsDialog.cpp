// The Export Settings dialog: codec, quality and frame duration.
#include <windows.h>

#include <cstdint>
#include <string>

#include "app/CaptureState.h"
#include "movie/CompressionSettings.h"
#include "resource.h"

namespace {

// The title picture, bitmap resource 100, in pixels.
constexpr int kTitleWidth = 160;
constexpr int kTitleHeight = 120;

void fillCodecList(HWND dialog) {
  // The first failure ends the loop, so the user sees at most one message.
  for (int32_t index = 0; fetchCodecName(index); ++index) {
    SendDlgItemMessageA(dialog, IDC_CODEC, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(codecListEntry));
  }
  SendDlgItemMessageA(dialog, IDC_CODEC, CB_SETCURSEL, 0, 0);
}

void fillQualityList(HWND dialog) {
  for (const QualityLevel& level : qualityLevels) {
    SendDlgItemMessageA(dialog, IDC_QUALITY, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(level.label));
  }
  SendDlgItemMessageA(dialog, IDC_QUALITY, CB_SETCURSEL, 0, 0);
}

void centreInWorkArea(HWND dialog) {
  RECT work = {};
  RECT box = {};
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) || !GetWindowRect(dialog, &box)) return;
  const int w = box.right - box.left;
  const int h = box.bottom - box.top;
  const int x = work.left + (work.right - work.left - w) / 2;
  const int y = work.top + (work.bottom - work.top - h) / 2;
  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A bitmap control takes its picture's size as its outer size, so its sunken
// frame would hide the picture's edges; it is widened by the frame instead.
void fitPictureInsideItsFrame(HWND dialog) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if ((GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) != SS_BITMAP) continue;
    RECT outer = {}, inner = {};
    GetWindowRect(child, &outer);
    GetClientRect(child, &inner);
    const int frameX = (outer.right - outer.left) - inner.right;
    const int frameY = (outer.bottom - outer.top) - inner.bottom;
    SetWindowPos(child, nullptr, 0, 0, kTitleWidth + frameX, kTitleHeight + frameY,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

INT_PTR onInitDialog(HWND dialog) {
  fitPictureInsideItsFrame(dialog);
  fillCodecList(dialog);
  fillQualityList(dialog);
  SetDlgItemInt(dialog, IDC_FRAMEDURATION, static_cast<UINT>(compressionSettings.frameDurationMs), FALSE);
  centreInWorkArea(dialog);
  SetForegroundWindow(dialog);
  return TRUE;  // the dialog manager chooses the focus
}

std::string controlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  std::string text(static_cast<size_t>(GetWindowTextLengthA(control)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(control, &text[0], static_cast<int>(text.size()))));
  return text;
}

// The field takes digits only from the keyboard, but a paste goes around
// that: what is pasted is cleaned to its digits at once, so the field shows
// the number Ok will store (" 50" or "50x" read as 1 or 50 unseen before).
// The caret stays after what was typed or pasted.
void keepDigitsOnly(HWND dialog) {
  HWND field = GetDlgItem(dialog, IDC_FRAMEDURATION);
  const std::string text = controlText(dialog, IDC_FRAMEDURATION);
  const std::string digits = digitsOnly(text.c_str());
  if (digits == text) return;
  DWORD caret = 0;
  SendMessageA(field, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&caret));
  const size_t keptBeforeCaret = digitsOnly(text.substr(0, caret).c_str()).size();
  SetWindowTextA(field, digits.c_str());  // reports a change again, with nothing left to clean
  SendMessageA(field, EM_SETSEL, keptBeforeCaret, keptBeforeCaret);
}

void onOk(HWND dialog) {
  CompressionSettings& settings = compressionSettings;
  GetDlgItemTextA(dialog, IDC_CODEC, settings.codecName, sizeof settings.codecName);
  const LRESULT quality = SendDlgItemMessageA(dialog, IDC_QUALITY, CB_GETCURSEL, 0, 0);
  // No selection cannot come from the list itself; "Lossless" is the default.
  settings.qualityIndex = quality >= 0 && quality <= 5 ? static_cast<int32_t>(quality) : 0;
  settings.frameDurationMs = parseFrameDuration(controlText(dialog, IDC_FRAMEDURATION).c_str());
  EndDialog(dialog, 1);
}

}  // namespace

std::string digitsOnly(const char* text) {
  std::string digits;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c >= '0' && *c <= '9') digits += *c;
  }
  return digits;
}

int32_t parseFrameDuration(const char* text) {
  uint64_t value = 0;
  for (const char* c = text; c && *c >= '0' && *c <= '9'; ++c) {
    value = value * 10 + static_cast<uint64_t>(*c - '0');
    if (value > INT32_MAX) return 1;  // would read as 0 or less as a signed number
  }
  return value == 0 ? 1 : static_cast<int32_t>(value);
}

// Only the two buttons end the dialog: the cancel command that Escape sends
// is left unhandled on purpose, as is every other message.
INT_PTR CALLBACK exportSettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return onInitDialog(dialog);
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_OK:
          onOk(dialog);
          break;
        case IDC_CANCEL:
          EndDialog(dialog, 0);
          break;
        case IDC_FRAMEDURATION:
          if (HIWORD(wParam) == EN_CHANGE) keepDigitsOnly(dialog);
          break;
      }
      return FALSE;
  }
  return FALSE;
}

bool showExportSettings() {
  // Modal to the main window, so nothing of it (a Grab) runs while the
  // settings are being changed.
  HWND owner = captureState.mainWindow ? captureState.mainWindow : GetForegroundWindow();
  const INT_PTR result =
      DialogBoxParamA(GetModuleHandleA(nullptr), "EXPORTQTDLG", owner, exportSettingsDialogProc, 0);
  return result == 1;
}
