// The Export Settings dialog: codec, quality and frame duration.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "app/CaptureState.h"
#include "movie/CompressionSettings.h"
#include "platform/DpiFunctions.h"
#include "resource.h"

namespace {

// The title picture, bitmap resource 100, in pixels at 100%.
constexpr int kTitleWidth = 160;
constexpr int kTitleHeight = 120;
// Posted to itself once the dialog manager has scaled the dialog to a new
// DPI, to scale the title picture after it.
constexpr UINT kRescaleTitle = WM_APP + 1;

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

HWND titlePicture(HWND dialog) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if ((GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) return child;
  }
  return nullptr;
}

// The title picture stretched to a size, halftoned so that its lettering
// stays legible; null when it cannot be made (the picture at 100% then stays).
HBITMAP titleOfSize(SIZE size) {
  HBITMAP original = static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_TITLE),
                                                     IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!original) return nullptr;
  const int width = size.cx;
  const int height = size.cy;
  HDC screen = GetDC(nullptr);
  HBITMAP scaled = CreateCompatibleBitmap(screen, width, height);
  HDC from = CreateCompatibleDC(screen);
  HDC to = CreateCompatibleDC(screen);
  if (scaled && from && to) {
    HGDIOBJ oldFrom = SelectObject(from, original);
    HGDIOBJ oldTo = SelectObject(to, scaled);
    SetStretchBltMode(to, HALFTONE);
    SetBrushOrgEx(to, 0, 0, nullptr);
    StretchBlt(to, 0, 0, width, height, from, 0, 0, kTitleWidth, kTitleHeight, SRCCOPY);
    SelectObject(from, oldFrom);
    SelectObject(to, oldTo);
  }
  if (from) DeleteDC(from);
  if (to) DeleteDC(to);
  ReleaseDC(nullptr, screen);
  DeleteObject(original);
  return scaled;
}

// The picture this dialog made and handed to its picture control, if any.
HBITMAP scaledTitle = nullptr;

// The dialog's base units at 100%: its template's font, MS Sans Serif 8 at
// 96 dpi, makes a dialog unit 6/4 pixels wide and 13/8 high.
constexpr SIZE kBaseUnitsAtHundred = {6, 13};

// How much the dialog's units grew from 100%, in thousandths: the smaller of
// the two, so the picture keeps within its place. A font does not always
// grow as the DPI does (Wine's bitmap MS Sans Serif has a few sizes only: at
// 200% the dialog grows by half), so the dialog is asked, not the DPI.
int dialogGrowth(HWND dialog) {
  RECT units = {0, 0, 4, 8};
  MapDialogRect(dialog, &units);
  return std::min(MulDiv(1000, units.right, kBaseUnitsAtHundred.cx),
                  MulDiv(1000, units.bottom, kBaseUnitsAtHundred.cy));
}

// The dialog's units grow with its font at every scaling, the picture's
// pixels do not: away from 100% (or after a move between monitors) it is
// replaced by one grown as much as the dialog's units, so it keeps its place
// beside the controls. The one it replaces is handed back by the control
// and deleted here, unless it is the control's own from the template.
SIZE scaleTitlePicture(HWND dialog, HWND picture) {
  const UINT dpi = windowDpi(dialog);
  if (dpi == USER_DEFAULT_SCREEN_DPI && !scaledTitle) return SIZE{kTitleWidth, kTitleHeight};
  const int growth = dialogGrowth(dialog);
  const SIZE size = {MulDiv(kTitleWidth, growth, 1000), MulDiv(kTitleHeight, growth, 1000)};
  HBITMAP scaled = titleOfSize(size);
  if (!scaled) return SIZE{kTitleWidth, kTitleHeight};
  const LRESULT previous =
      SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaled));
  if (scaledTitle && reinterpret_cast<HBITMAP>(previous) == scaledTitle) DeleteObject(scaledTitle);
  scaledTitle = scaled;
  return size;
}

// A bitmap control takes its picture's size as its outer size, so its sunken
// frame would hide the picture's edges; it is widened by the frame instead.
void fitPictureInsideItsFrame(HWND dialog) {
  HWND picture = titlePicture(dialog);
  if (!picture) return;
  const SIZE size = scaleTitlePicture(dialog, picture);
  RECT outer = {}, inner = {};
  GetWindowRect(picture, &outer);
  GetClientRect(picture, &inner);
  const int frameX = (outer.right - outer.left) - inner.right;
  const int frameY = (outer.bottom - outer.top) - inner.bottom;
  SetWindowPos(picture, nullptr, 0, 0, size.cx + frameX, size.cy + frameY,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void deleteScaledTitle(HWND dialog) {
  if (!scaledTitle) return;
  if (HWND picture = titlePicture(dialog)) SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, 0);
  DeleteObject(scaledTitle);
  scaledTitle = nullptr;
}

std::string controlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  std::string text(static_cast<size_t>(GetWindowTextLengthA(control)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(control, &text[0], static_cast<int>(text.size()))));
  return text;
}

// The duration field as it last read a number (or nothing): what a change
// that is not a number is undone to.
std::string acceptedDuration;
WNDPROC durationEditProc = nullptr;

// The field takes digits only from the keyboard, but a paste goes around
// that. A paste is taken only when it is a whole number, spaces around it
// dropped; anything else ("12.5", "-40", "1e3") is refused with a beep
// rather than cut to some of its digits, which would make it another number.
LRESULT CALLBACK durationFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PASTE) return CallWindowProcA(durationEditProc, field, message, wParam, lParam);
  std::string digits;
  if (OpenClipboard(field)) {
    HANDLE data = GetClipboardData(CF_TEXT);
    const char* text = data ? static_cast<const char*>(GlobalLock(data)) : nullptr;
    if (text && !pastedDuration(text, digits)) digits.clear();
    if (text) GlobalUnlock(data);
    CloseClipboard();
  }
  if (digits.empty()) {
    MessageBeep(MB_OK);
  } else {
    SendMessageA(field, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(digits.c_str()));
  }
  return 0;
}

// Whatever else puts text into the field (a program sending it text) gets
// the same answer: a text that is not all digits is undone.
void keepDigitsOnly(HWND dialog) {
  const std::string text = controlText(dialog, IDC_FRAMEDURATION);
  if (text.find_first_not_of("0123456789") == std::string::npos) {
    acceptedDuration = text;
    return;
  }
  HWND field = GetDlgItem(dialog, IDC_FRAMEDURATION);
  SetWindowTextA(field, acceptedDuration.c_str());  // reports a change again, now all digits
  SendMessageA(field, EM_SETSEL, acceptedDuration.size(), acceptedDuration.size());
  MessageBeep(MB_OK);
}

INT_PTR onInitDialog(HWND dialog) {
  fitPictureInsideItsFrame(dialog);
  fillCodecList(dialog);
  fillQualityList(dialog);
  acceptedDuration.clear();
  SetDlgItemInt(dialog, IDC_FRAMEDURATION, static_cast<UINT>(compressionSettings.frameDurationMs), FALSE);
  HWND duration = GetDlgItem(dialog, IDC_FRAMEDURATION);
  durationEditProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(duration, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(durationFieldProc)));
  centreInWorkArea(dialog);
  SetForegroundWindow(dialog);
  return TRUE;  // the dialog manager chooses the focus
}

void onOk(HWND dialog) {
  CompressionSettings& settings = compressionSettings;
  // A duration no movie can be paced by is refused, and the dialog stays
  // open with nothing changed, for another.
  const int32_t duration = parseFrameDuration(controlText(dialog, IDC_FRAMEDURATION).c_str());
  if (duration < 1) {
    MessageBoxA(dialog, kFrameDurationRefused, "Export Settings", MB_OK | MB_ICONWARNING);
    SetFocus(GetDlgItem(dialog, IDC_FRAMEDURATION));
    return;
  }
  GetDlgItemTextA(dialog, IDC_CODEC, settings.codecName, sizeof settings.codecName);
  const LRESULT quality = SendDlgItemMessageA(dialog, IDC_QUALITY, CB_GETCURSEL, 0, 0);
  // No selection cannot come from the list itself; "Lossless" is the default.
  settings.qualityIndex = quality >= 0 && quality <= 5 ? static_cast<int32_t>(quality) : 0;
  settings.frameDurationMs = duration;
  EndDialog(dialog, 1);
}

}  // namespace

bool pastedDuration(const char* text, std::string& digits) {
  const std::string pasted = text;
  const char* const kSpace = " \t\r\n";
  const size_t first = pasted.find_first_not_of(kSpace);
  if (first == std::string::npos) return false;
  const std::string trimmed = pasted.substr(first, pasted.find_last_not_of(kSpace) - first + 1);
  if (trimmed.find_first_not_of("0123456789") != std::string::npos) return false;
  digits = trimmed;
  return true;
}

const char kFrameDurationRefused[] =
    "The frame duration must be a whole number of milliseconds from 1 to 2147483647.";

int32_t parseFrameDuration(const char* text) {
  if (!text || *text == '\0') return 0;
  uint64_t value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return 0;
    value = value * 10 + static_cast<uint64_t>(*c - '0');
    if (value > INT32_MAX) return 0;  // would read as 0 or less as a signed number
  }
  return static_cast<int32_t>(value);
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
    case WM_DPICHANGED:
      // The dialog manager scales the dialog and its controls after this.
      PostMessageA(dialog, kRescaleTitle, 0, 0);
      return FALSE;
    case kRescaleTitle:
      fitPictureInsideItsFrame(dialog);
      return TRUE;
    case WM_DESTROY:
      deleteScaledTitle(dialog);
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
