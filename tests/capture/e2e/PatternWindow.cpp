// A window to record: four large blocks of known colours and a marker that
// changes every 100 ms, under a black square cursor whose hotspot is (8, 8),
// so a decoded movie shows where everything should be.
//   PatternWindow.exe TITLE X Y CLIENT_W CLIENT_H [CLOSE_AFTER_MS] [aware]
// With CLOSE_AFTER_MS, the window closes that long after Skelby's status first
// reads "Grabbing!" (a recording has found its target): counted from then, not
// from the start, a slow machine still records it before it goes.
// With "aware" the program declares itself DPI-aware, as most programs people
// record do: its sizes and positions are then screen pixels at any display
// scaling; without it a scaling Windows (or Wine 10) draws it at 96 dpi and
// stretches it.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

int clientWidth = 640;
int clientHeight = 480;
int tick = 0;
int closeAfter = 0;
bool closing = false;
HCURSOR square = nullptr;

bool skelbyIsGrabbing() {
  HWND skelby = FindWindowA("Grabbing an app", "Skelby");
  HWND status = skelby ? GetDlgItem(skelby, 1000) : nullptr;
  char text[32] = "";
  DWORD_PTR copied = 0;
  return status &&
         SendMessageTimeoutA(status, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 500, &copied) &&
         strcmp(text, "Grabbing!") == 0;
}

void fill(HDC dc, int x, int y, int w, int h, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  RECT r = {x, y, x + w, y + h};
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

void paint(HDC dc) {
  const int w = clientWidth / 2;
  const int h = clientHeight / 2;
  fill(dc, 0, 0, w, h, RGB(255, 0, 0));
  fill(dc, w, 0, clientWidth - w, h, RGB(0, 255, 0));
  fill(dc, 0, h, w, clientHeight - h, RGB(0, 0, 255));
  fill(dc, w, h, clientWidth - w, clientHeight - h, RGB(255, 255, 0));
  // The marker: a square in the middle, white and black by turns.
  fill(dc, w - 40, h - 40, 80, 80, (tick & 1) ? RGB(255, 255, 255) : RGB(0, 0, 0));
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      paint(dc);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_TIMER:
      if (wParam == 1) {
        ++tick;
        InvalidateRect(window, nullptr, FALSE);
        if (closeAfter > 0 && !closing && skelbyIsGrabbing()) {
          closing = true;
          SetTimer(window, 2, UINT(closeAfter), nullptr);
        }
      } else {
        DestroyWindow(window);
      }
      return 0;
    case WM_SIZE:
      // Resized (not minimised): the pattern fills the new client area.
      if (wParam != SIZE_MINIMIZED && LOWORD(lParam) > 0 && HIWORD(lParam) > 0) {
        clientWidth = LOWORD(lParam);
        clientHeight = HIWORD(lParam);
        InvalidateRect(window, nullptr, FALSE);
      }
      return 0;
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT) {
        SetCursor(square);
        return TRUE;
      }
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  const char* title = argc > 1 ? argv[1] : "Skelby Pattern";
  const int x = argc > 2 ? atoi(argv[2]) : 400;
  const int y = argc > 3 ? atoi(argv[3]) : 100;
  if (argc > 5) {
    clientWidth = atoi(argv[4]);
    clientHeight = atoi(argv[5]);
  }
  closeAfter = argc > 6 ? atoi(argv[6]) : 0;
  if (argc > 7 && strcmp(argv[7], "aware") == 0) SetProcessDPIAware();
  BYTE andMask[32 * 4] = {};
  BYTE xorMask[32 * 4] = {};
  square = CreateCursor(GetModuleHandleA(nullptr), 8, 8, 32, 32, andMask, xorMask);
  WNDCLASSA wc = {};
  wc.lpfnWndProc = windowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = square;
  wc.lpszClassName = "SkelbyPatternWindow";
  RegisterClassA(&wc);
  RECT r = {0, 0, clientWidth, clientHeight};
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  AdjustWindowRect(&r, style, FALSE);
  HWND window = nullptr;
  for (int attempt = 0; attempt < 40 && !window; ++attempt) {
    if (attempt) Sleep(250);
    window = CreateWindowExA(0, wc.lpszClassName, title, style | WS_VISIBLE, x, y, r.right - r.left,
                             r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
  }
  if (!window) return 1;
  SetTimer(window, 1, 100, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
