// A window to record that shows its own clock, so a recording can be checked
// frame by frame against what the window showed when it was copied.
//   RecordingTarget.exe TITLE X Y CLIENT_W CLIENT_H
// Four still blocks of colour fill the client area; across the top runs the
// stamp: the milliseconds since the window opened, 24 bits, most significant
// first, one square block per bit, white for 1 and black for 0, and under it
// the same bits inverted. With block = CLIENT_W / 32 (integer division), bit i
// sits at x = (4 + i) * block, the value row at y = block, the inverted row at
// y = 2 * block. Blocks this large read the same after scaling and lossy
// compression; a row that is not the other's inverse marks a torn copy.
// The stamp is drawn again from the window's own loop whenever the clock has
// moved, with a wait of a millisecond between turns so that it does not take
// a whole processor from the recorder it is measuring.
#include <windows.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kStampBits = 24;
constexpr int kFirstBlock = 4;  // blocks of background left of the stamp

int clientWidth = 1280;
int clientHeight = 720;
LARGE_INTEGER frequency;
LARGE_INTEGER opened;
HBRUSH white;
HBRUSH black;

uint32_t millisecondsOpen() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return uint32_t((now.QuadPart - opened.QuadPart) * 1000 / frequency.QuadPart);
}

void fill(HDC dc, int x, int y, int w, int h, HBRUSH brush) {
  RECT r = {x, y, x + w, y + h};
  FillRect(dc, &r, brush);
}

void fillColour(HDC dc, int x, int y, int w, int h, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  fill(dc, x, y, w, h, brush);
  DeleteObject(brush);
}

void paintBackground(HDC dc) {
  const int w = clientWidth / 2;
  const int h = clientHeight / 2;
  fillColour(dc, 0, 0, w, h, RGB(200, 40, 40));
  fillColour(dc, w, 0, clientWidth - w, h, RGB(40, 160, 60));
  fillColour(dc, 0, h, w, clientHeight - h, RGB(40, 60, 200));
  fillColour(dc, w, h, clientWidth - w, clientHeight - h, RGB(220, 200, 40));
}

void paintStamp(HDC dc, uint32_t stamp) {
  const int block = clientWidth / 32;
  for (int i = 0; i < kStampBits; ++i) {
    const bool one = (stamp >> (kStampBits - 1 - i)) & 1;
    const int x = (kFirstBlock + i) * block;
    fill(dc, x, block, block, block, one ? white : black);
    fill(dc, x, 2 * block, block, block, one ? black : white);
  }
  GdiFlush();
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      paintBackground(dc);
      paintStamp(dc, millisecondsOpen());
      EndPaint(window, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  const char* title = argc > 1 ? argv[1] : "Recording Target";
  const int x = argc > 2 ? atoi(argv[2]) : 0;
  const int y = argc > 3 ? atoi(argv[3]) : 0;
  if (argc > 5) {
    clientWidth = atoi(argv[4]);
    clientHeight = atoi(argv[5]);
  }
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&opened);
  white = CreateSolidBrush(RGB(255, 255, 255));
  black = CreateSolidBrush(RGB(0, 0, 0));
  WNDCLASSA wc = {};
  wc.lpfnWndProc = windowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.lpszClassName = "SkelbyRecordingTarget";
  wc.style = CS_OWNDC;
  RegisterClassA(&wc);
  RECT r = {0, 0, clientWidth, clientHeight};
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  AdjustWindowRect(&r, style, FALSE);
  HWND window = CreateWindowExA(0, wc.lpszClassName, title, style | WS_VISIBLE, x, y, r.right - r.left,
                                r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
  if (!window) return 1;
  HDC dc = GetDC(window);
  uint32_t shown = UINT32_MAX;
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return int(msg.wParam);
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    const uint32_t now = millisecondsOpen();
    if (now != shown) {
      paintStamp(dc, now);
      shown = now;
    }
    // A wait for messages rather than a sleep: Wine hands a window's new
    // pixels to the X server, where other programs copy them from, when its
    // thread goes idle in a message wait, and otherwise only now and then.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
}
