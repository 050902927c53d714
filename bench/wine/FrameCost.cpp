// What one frame's copy costs by itself: the recorder's own copy of another
// program's window (its client area's device context, a 32-bit top-down DIB
// section of the output size behind a memory DC, colour-on-colour stretching
// on both, one StretchBlt), repeated with nothing else around it. The rate it
// allows is the most any recording of that window can reach.
// Given a codec, it then does what one recorded frame costs with that codec:
// the same copy into the movie writer's own frame, then MovieWriter::addFrame
// (the compression with the built-in default settings and the append to a
// scratch movie through QuickTime.qts), frame after frame. The recorder's one
// thread does these one after the other, so their sum is the most a
// recording with that codec can reach; the codec's helper threads work only
// inside the compression.
//   FrameCost.exe TITLE [COPIES] [OUTPUT_W OUTPUT_H [CODEC MOVIE]]
// Prints, one "name value" per line: the target's client size, the output
// size, the milliseconds per copy (mean, min, median, max) and the frames per
// second that the mean allows; with a codec, the median milliseconds of the
// copy, of addFrame and of the two together. Exit 1 when the window is not
// found, or when a frame could not be added.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "movie/CompressionSettings.h"
#include "movie/MovieWriter.h"
#include "movie/OffscreenFrame.h"
#include "platform/QuickTimeEnvironment.h"

namespace {

double now(const LARGE_INTEGER& frequency) {
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

double median(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

double mean(const std::vector<double>& ms) {
  double sum = 0;
  for (double m : ms) sum += m;
  return sum / double(ms.size());
}

// Copy and addFrame, frames times, into a movie at path; false when a frame
// was not added.
bool measureCodec(HDC targetDC, int sourceWidth, int sourceHeight, int width, int height, int frames,
                  const char* codec, const char* path, const LARGE_INTEGER& frequency) {
  QuickTimeEnvironment quickTime;
  if (!quickTime.start()) {
    std::fprintf(stderr, "QuickTime.qts did not start\n");
    return false;
  }
  bool added = true;
  {
    OffscreenFrame frame;
    MovieWriter writer;
    compressionSettings = CompressionSettings();
    std::snprintf(compressionSettings.codecName, sizeof compressionSettings.codecName, "%s", codec);
    resolveCodecType(codec);
    if (!frame.create(int16_t(width), int16_t(height), true) || !writer.open(path, &frame)) {
      std::fprintf(stderr, "no movie at %s\n", path);
      return false;
    }
    SetStretchBltMode(frame.dc, COLORONCOLOR);
    std::vector<double> copy, add, whole;
    for (int i = 0; i < frames && added; ++i) {
      const double t0 = now(frequency);
      StretchBlt(frame.dc, 0, 0, width, height, targetDC, 0, 0, sourceWidth, sourceHeight, SRCCOPY);
      const double t1 = now(frequency);
      added = writer.addFrame(&frame, 1);
      const double t2 = now(frequency);
      copy.push_back(t1 - t0);
      add.push_back(t2 - t1);
      whole.push_back(t2 - t0);
    }
    writer.finish();
    DeleteFileA(path);
    if (!added) {
      std::fprintf(stderr, "a frame was not added: error %d\n", writer.lastError);
    } else {
      std::printf("codec %s\nframe_copy_ms %.2f\nadd_ms %.2f\nframe_ms %.2f\nframe_mean_ms %.2f\n", codec,
                  median(copy), median(add), median(whole), mean(whole));
    }
  }
  quickTime.stop();
  return added;
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
  bool codecMeasured = true;
  if (argc > 6)
    codecMeasured =
        measureCodec(targetDC, sourceWidth, sourceHeight, width, height, copies, argv[5], argv[6], frequency);

  SelectObject(frameDC, previous);
  DeleteDC(frameDC);
  DeleteObject(dib);
  ReleaseDC(target, targetDC);
  return codecMeasured ? 0 : 1;
}
