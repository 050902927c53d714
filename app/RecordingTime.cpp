#include "app/RecordingTime.h"

#include <windows.h>
#include <commctrl.h>

#include <cinttypes>
#include <cstdio>

#include "app/CaptureState.h"
#include "movie/MovieWriter.h"

namespace {

constexpr DWORD kShowEvery = 1000;  // milliseconds
bool shown = false;
DWORD lastShown = 0;

// The movie file's size as the disk has it (its samples and the index that
// keeps it readable); while it cannot be read (not created yet, or a path the
// program cannot open), the samples appended.
uint64_t movieFileSize() {
  HANDLE file = CreateFileA(captureState.destinationPath, FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return movieWriter.appendedBytes;
  LARGE_INTEGER size = {};
  const bool read = GetFileSizeEx(file, &size) != 0;
  CloseHandle(file);
  return read ? uint64_t(size.QuadPart) : movieWriter.appendedBytes;
}

void showNow() {
  char text[64];
  formatRecordingTime(text, sizeof text, movieWriter.appendedDuration, movieFileSize());
  SendMessageA(captureState.statusBar, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(text));
  lastShown = GetTickCount();
}

// Wide enough for the longest text likely (hundreds of hours, a thousand
// MB) in the status bar's own font, so it holds at every display scale.
int timePartWidth(HWND statusBar) {
  HDC dc = GetDC(statusBar);
  if (!dc) return 140;
  HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(statusBar, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  const char sample[] = "000:00:00  0000.0 MB  ";
  SIZE extent = {};
  GetTextExtentPoint32A(dc, sample, int(sizeof sample - 1), &extent);
  if (old) SelectObject(dc, old);
  ReleaseDC(statusBar, dc);
  return extent.cx;
}

}  // namespace

void showRecordingTime() {
  HWND bar = captureState.statusBar;
  if (!bar) return;
  RECT client = {};
  GetClientRect(bar, &client);
  const int width = timePartWidth(bar);
  int edges[2] = {client.right > width ? int(client.right) - width : 0, -1};
  SendMessageA(bar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(edges));
  shown = true;
  showNow();
}

void updateRecordingTime() {
  if (!shown || GetTickCount() - lastShown < kShowEvery) return;
  showNow();
}

void hideRecordingTime() {
  if (!shown) return;
  shown = false;
  int edges[1] = {-1};
  SendMessageA(captureState.statusBar, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(edges));
}

void formatRecordingTime(char* text, size_t size, int64_t milliseconds, uint64_t bytes) {
  const uint64_t seconds = milliseconds > 0 ? uint64_t(milliseconds) / 1000 : 0;
  const unsigned hours = unsigned(seconds / 3600);
  const unsigned minutes = unsigned(seconds / 60 % 60);
  const unsigned rest = unsigned(seconds % 60);
  const double megabytes = double(bytes) / (1024.0 * 1024.0);
  if (megabytes < 1023.95) {  // what "%.1f" would round up to 1024.0
    snprintf(text, size, "%02u:%02u:%02u  %.1f MB", hours, minutes, rest, megabytes);
  } else {
    snprintf(text, size, "%02u:%02u:%02u  %.2f GB", hours, minutes, rest, megabytes / 1024.0);
  }
}
