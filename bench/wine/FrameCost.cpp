// What one frame's copy costs by itself: the recorder's own copy of another
// program's window (its client area's device context, a 32-bit top-down DIB
// section of the output size behind a memory DC, colour-on-colour stretching
// on both, one StretchBlt), repeated with nothing else around it. The rate it
// allows is the most any recording of that window can reach.
//   FrameCost.exe TITLE [COPIES] [OUTPUT_W OUTPUT_H]
// Prints, one "name value" per line: the target's client size, the output
// size, the milliseconds per copy (mean, min, median, max) and the frames per
// second that the mean allows. Exit 1 when the window is not found.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double now(const LARGE_INTEGER& frequency) {
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

HWND waitForWindow(const char* title, int ms) {
  for (int waited = 0;; waited += 50) {
    HWND w = FindWindowA(nullptr, title);
    if (w || waited >= ms) return w;
    Sleep(50);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: FrameCost TITLE [COPIES] [OUTPUT_W OUTPUT_H]\n");
    return 2;
  }
  const int copies = argc > 2 ? std::max(1, atoi(argv[2])) : 60;
  HWND target = waitForWindow(argv[1], 15000);
  if (!target) {
    std::fprintf(stderr, "no window titled %s\n", argv[1]);
    return 1;
  }
  RECT client = {};
  GetClientRect(target, &client);
  const int sourceWidth = client.right - client.left;
  const int sourceHeight = client.bottom - client.top;
  const int width = argc > 4 ? atoi(argv[3]) : sourceWidth;
  const int height = argc > 4 ? atoi(argv[4]) : sourceHeight;
  std::printf("client %dx%d\noutput %dx%d\n", sourceWidth, sourceHeight, width, height);
  if (sourceWidth < 1 || sourceHeight < 1 || width < 1 || height < 1) return 1;

  HDC targetDC = GetDC(target);
  SetStretchBltMode(targetDC, COLORONCOLOR);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC frameDC = CreateCompatibleDC(nullptr);
  if (!targetDC || !dib || !frameDC) return 1;
  HGDIOBJ previous = SelectObject(frameDC, dib);
  SetStretchBltMode(frameDC, COLORONCOLOR);

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  // The first copies set up the X server's side of the window; they are not counted.
  for (int i = 0; i < 3; ++i)
    StretchBlt(frameDC, 0, 0, width, height, targetDC, 0, 0, sourceWidth, sourceHeight, SRCCOPY);
  std::vector<double> took;
  int failed = 0;
  const double start = now(frequency);
  for (int i = 0; i < copies; ++i) {
    const double t0 = now(frequency);
    if (!StretchBlt(frameDC, 0, 0, width, height, targetDC, 0, 0, sourceWidth, sourceHeight, SRCCOPY))
      ++failed;
    took.push_back(now(frequency) - t0);
  }
  const double mean = (now(frequency) - start) / copies;
  std::sort(took.begin(), took.end());
  std::printf("copies %d\nfailed %d\n", copies, failed);
  std::printf("copy_ms %.2f\nmin_ms %.2f\nmedian_ms %.2f\nmax_ms %.2f\n", mean, took.front(),
              took[took.size() / 2], took.back());
  std::printf("limit_fps %.1f\n", 1000.0 / mean);

  SelectObject(frameDC, previous);
  DeleteDC(frameDC);
  DeleteObject(dib);
  ReleaseDC(target, targetDC);
  return 0;
}
