// Where a frame's time goes on the way from the recorder's DIB section to the
// movie file with the None codec (24-bit RGB, about 6 MB a frame at
// 1920 x 1080): each step alone, then the steps as the movie writer takes
// them through QuickTime.qts, then the writer's addFrame whole.
//   NonePathBench.exe [FRAMES] [WIDTH HEIGHT] [FOLDER]
// Prints one row per step: milliseconds per frame, mean / median / max.
// Measured, not asserted: the figures move with whatever else the machine does.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "PixelRows.h"
#include "RawCodec.h"
#include "Win32Files.h"
#include "movie/CompressionSettings.h"
#include "movie/MovieWriter.h"
#include "movie/OffscreenFrame.h"
#include "platform/QuickTimeEnvironment.h"
#include "platform/QuickTimeServices.h"

namespace {

LARGE_INTEGER frequency;

double now() {
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

struct Times {
  std::vector<double> ms;
  void report(const char* step) {
    if (ms.empty()) return;
    double sum = 0;
    for (double m : ms) sum += m;
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    std::printf("| %-44s | %7.2f | %7.2f | %7.2f |\n", step, sum / double(ms.size()),
                sorted[sorted.size() / 2], sorted.back());
  }
};

// Runs `step` once per frame and reports it.
void measure(const char* name, int frames, const std::function<bool(int)>& step) {
  Times t;
  for (int i = 0; i < frames; ++i) {
    const double t0 = now();
    if (!step(i)) {
      std::printf("| %-44s | failed at frame %d |\n", name, i);
      return;
    }
    t.ms.push_back(now() - t0);
  }
  t.report(name);
}

HANDLE createFile(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::max(1, atoi(argv[1])) : 60;
  const int width = argc > 3 ? atoi(argv[2]) : 1920;
  const int height = argc > 3 ? atoi(argv[3]) : 1080;
  const std::string folder = argc > 4 ? argv[4] : ".";
  QueryPerformanceFrequency(&frequency);
  QuickTimeEnvironment quickTime;
  if (!quickTime.start()) {
    std::fprintf(stderr, "QuickTime.qts did not start\n");
    return 1;
  }
  OffscreenFrame frame;
  if (!frame.create(int16_t(width), int16_t(height), true)) return 1;
  // Something other than zeros in every pixel, drawn as the grabber's copy would.
  PatBlt(frame.dc, 0, 0, width, height, WHITENESS);
  HBRUSH brush = CreateSolidBrush(RGB(30, 120, 200));
  RECT r = {width / 4, height / 4, width / 2, height / 2};
  FillRect(frame.dc, &r, brush);
  DeleteObject(brush);
  GdiFlush();

  PixMapHandle pixMap = frame.gworld->portPixMap;
  qt::PixelRows rows;
  rows.base = reinterpret_cast<const uint8_t*>((*pixMap)->baseAddr);
  rows.stride = (*pixMap)->rowBytes & 0x3FFF;
  rows.width = width;
  rows.height = height;
  if (rows.stride != ptrdiff_t(width) * 4) rows.stride = ptrdiff_t(width) * 4;  // rowBytes clips at 14 bits
  const size_t frameBytes = size_t(width) * height * 4;
  const size_t sampleBytes = size_t(qt::raw::maxSize(width, height));
  std::vector<uint8_t> buffer(std::max(frameBytes, sampleBytes));

  std::printf("frames %d of %dx%d: DIB %.1f MB, None sample %.1f MB\n", frames, width, height,
              frameBytes / 1e6, sampleBytes / 1e6);
  std::printf("| step | mean ms | median ms | max ms |\n|---|---|---|---|\n");

  measure("copy of the DIB (memcpy)", frames, [&](int) {
    std::memcpy(buffer.data(), rows.base, frameBytes);
    return true;
  });
  measure("conversion to 24-bit RGB (RawCodec)", frames,
          [&](int) { return qt::raw::compress(rows, buffer.data()) == sampleBytes; });

  const std::string sinkPath = folder + "\\nonepath-sink.bin";
  // The same writes twice: first into a new file, whose pages the system
  // must find anew; then into the same file made again, whose pages were
  // let go of just before and are taken up again at once.
  for (const char* step : {"sink write, a new file", "sink write, the file made again"}) {
    qtlib::FileSink sink(createFile(sinkPath), sinkPath);
    measure(step, frames, [&](int i) {
      return sink.write(uint64_t(i) * sampleBytes, buffer.data(), sampleBytes) == noErr;
    });
  }
  {
    qtlib::FileSink sink(createFile(sinkPath), sinkPath);
    // A flush on another thread every 30 frames, as the movie's keeper
    // flushes about once a second of a recording at 30 frames per second.
    std::thread flusher;
    measure("sink write, again, a flush on another thread every 30", frames, [&](int i) {
      if (sink.write(uint64_t(i) * sampleBytes, buffer.data(), sampleBytes) != noErr) return false;
      if (i % 30 == 0) {
        if (flusher.joinable()) flusher.join();
        flusher = std::thread([&] { sink.flush(); });
      }
      return true;
    });
    if (flusher.joinable()) flusher.join();
  }
  {
    // What a flush costs the rest of the program: under Wine the server makes
    // the flush's fsync itself, and every call that needs the server (a
    // message peeked at, a device context taken) waits for it meanwhile.
    qtlib::FileSink sink(createFile(sinkPath), sinkPath);
    for (int i = 0; i < 30; ++i)
      if (sink.write(uint64_t(i) * sampleBytes, buffer.data(), sampleBytes) != noErr) return 1;
    Times peeks;
    const double t0 = now();
    std::atomic<bool> done{false};
    std::thread flusher([&] {
      sink.flush();
      done = true;
    });
    while (!done) {
      MSG msg;
      const double p0 = now();
      PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
      peeks.ms.push_back(now() - p0);
    }
    flusher.join();
    std::printf("a flush of 30 frames on another thread: %.1f ms; PeekMessage meanwhile, %zu calls:\n",
                now() - t0, peeks.ms.size());
    peeks.report("PeekMessage while the flush runs");
  }
  DeleteFileA(sinkPath.c_str());

  compressionSettings = CompressionSettings();
  std::strcpy(compressionSettings.codecName, "None");
  const std::string moviePath = folder + "\\nonepath.mov";
  {
    MovieWriter writer;
    if (!writer.open(moviePath.c_str(), &frame)) return 1;
    Times compress, add;
    const CodecQ quality = qualityLevels[clampQualityIndex()].value;
    for (int i = 0; i < frames; ++i) {
      const double t0 = now();
      LockPixels(pixMap);
      const OSErr c = CompressImage(pixMap, &writer.bounds, quality, compressionSettings.codecType,
                                    writer.imageDescription, writer.data);
      const double t1 = now();
      const OSErr a = c ? c
                        : AddMediaSample(writer.media, writer.dataHandle, 0,
                                         uint32_t((*writer.imageDescription)->dataSize), 33,
                                         writer.imageDescription, 1, 0, nullptr);
      UnlockPixels(pixMap);
      const double t2 = now();
      if (c || a) {
        std::printf("frame %d: CompressImage %d, AddMediaSample %d\n", i, c, a);
        break;
      }
      compress.ms.push_back(t1 - t0);
      add.ms.push_back(t2 - t1);
    }
    compress.report("CompressImage through QuickTime.qts");
    add.report("AddMediaSample through QuickTime.qts");
    const double t0 = now();
    writer.finish();
    std::printf("finishing the movie: %.1f ms\n", now() - t0);
  }
  {
    MovieWriter writer;
    if (!writer.open(moviePath.c_str(), &frame)) return 1;
    measure("MovieWriter::addFrame whole", frames, [&](int) { return writer.addFrame(&frame, 33); });
    writer.finish();
  }
  DeleteFileA(moviePath.c_str());
  return 0;
}
