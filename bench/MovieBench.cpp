// Memory of a long recording, what checkpoints cost, and a movie past 4 GiB
// read by ffprobe.
//
// 1. 100,000 AddMediaSample calls into a sink that only counts bytes: heap
//    bytes per frame (glibc's mallinfo2) and allocations made by the last
//    half of the samples, when the tables have long since grown.
// 2. An hour at 30 frames a second into a real file, with checkpoints and
//    without: the bytes they add, the time AddMediaSample takes in all (the
//    flushes wait for the disk), the longest single call, and how far the
//    last checkpoint lags behind at the end.
// 3. A real movie file of 4.1 GiB whose sample bytes are left as holes (a
//    sparse file), so ffprobe reads the co64 offsets without 4 GiB going to
//    disk.
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "BackgroundFlush.h"
#include "Handles.h"
#include "Movies.h"

namespace {
std::atomic<uint64_t> allocations{0};
}

// Counting operator new; glibc's free releases what malloc gave.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
  ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

class CountingSink : public qt::Sink {
 public:
  OSErr write(uint64_t, const void*, size_t size) override {
    bytes += size;
    return noErr;
  }
  OSErr setLength(uint64_t) override { return noErr; }
  OSErr flush() override { return noErr; }
  uint64_t bytes = 0;
};

// A real file, flushed in the background as the library's own file sink
// does. Writes of `holesFrom` bytes or more (samples of the large movie) are
// left as holes.
class FileSink : public qt::Sink {
 public:
  explicit FileSink(const char* path, size_t holesFrom = SIZE_MAX)
      : fd_(open(path, O_CREAT | O_TRUNC | O_WRONLY, 0644)),
        holesFrom_(holesFrom),
        background_([this] { return fdatasync(fd_) == 0 ? noErr : ioErr; }) {}
  ~FileSink() override {
    background_.stop();
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  OSErr write(uint64_t offset, const void* data, size_t size) override {
    if (size >= holesFrom_) return noErr;
    return pwrite(fd_, data, size, off_t(offset)) == ssize_t(size) ? noErr : ioErr;
  }
  OSErr setLength(uint64_t length) override { return ftruncate(fd_, off_t(length)) == 0 ? noErr : ioErr; }
  OSErr flush() override {
    if (OSErr err = background_.wait()) return err;
    return fdatasync(fd_) == 0 ? noErr : ioErr;
  }
  OSErr startFlush() override { return background_.start(); }
  OSErr flushStatus() override { return background_.status(); }
  // Waits for a flush in the background to end. An hour of samples goes by
  // here in seconds; in a recording each flush has a second or more of the
  // recording's own time to run in.
  void waitForBackground() { background_.wait(); }

 private:
  int fd_;
  size_t holesFrom_;
  qt::BackgroundFlush background_;
};

// Bytes handed out by malloc, small blocks and large mmapped ones alike.
size_t heapInUse() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

ImageDescriptionHandle rawDescription(int16_t w, int16_t h) {
  Handle handle = qt::NewHandle(sizeof(ImageDescription));
  ImageDescription* d = reinterpret_cast<ImageDescription*>(*handle);
  d->idSize = sizeof(ImageDescription);
  d->cType = kRawCodecType;
  d->width = w;
  d->height = h;
  d->depth = 24;
  d->clutID = -1;
  d->frameCount = 1;
  return reinterpret_cast<ImageDescriptionHandle>(handle);
}

struct Parts {
  Movie movie = nullptr;
  Track track = nullptr;
  Media media = nullptr;
};

Parts makeMovie(std::shared_ptr<qt::Sink> sink, int w, int h, bool checkpoints = true) {
  Parts p;
  qt::MovieOptions options;
  options.checkpoints = checkpoints;
  qt::CreateMovieInSink(sink, options, &p.movie);
  qt::NewMovieTrack(p.movie, w << 16, h << 16, 0, &p.track);
  qt::NewTrackMedia(p.track, VideoMediaType, 1000, nullptr, 0, &p.media);
  qt::BeginMediaEdits(p.media);
  return p;
}

void memoryPerFrame() {
  const int kFrames = 100000;
  auto sink = std::make_shared<CountingSink>();
  Parts p = makeMovie(sink, 1280, 720);
  Handle data = qt::NewHandle(4096);
  ImageDescriptionHandle desc = rawDescription(1280, 720);
  const size_t heapBefore = heapInUse();
  uint64_t allocsAtHalf = 0;
  for (int i = 0; i < kFrames; ++i) {
    if (i == kFrames / 2) allocsAtHalf = allocations;
    // Durations as a grabber measures them: mostly 33, now and then longer.
    qt::AddMediaSample(p.media, data, 0, 1000 + uint32_t(i % 3000), 33 + (i % 17 == 0 ? 17 : 0), desc, 1, 0,
                       nullptr);
  }
  const uint64_t lateAllocs = allocations - allocsAtHalf;
  const size_t heapAfter = heapInUse();
  std::printf(
      "AddMediaSample, %d frames: %.1f bytes of heap per frame (tables hold %.1f bytes/frame), "
      "%llu allocations during the last %d frames, %.1f MB of samples counted\n",
      kFrames, double(heapAfter - heapBefore) / kFrames, double(qt::MediaTableBytes(p.media)) / kFrames,
      static_cast<unsigned long long>(lateAllocs), kFrames / 2, double(sink->bytes) / 1e6);
  qt::DisposeMovie(p.movie);
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

struct HourRun {
  double seconds = 0;            // in AddMediaSample, all calls
  double cpuSeconds = 0;         // of those, this thread's processor time
  double longestMs = 0;          // the longest single call
  double backgroundSeconds = 0;  // waiting for the flushes in the background, after the calls
  uint64_t fileBytes = 0;        // the finished file
  qt::CheckpointReport report;
  uint64_t lagMs = 0;  // recorded time the last checkpoint does not hold
};

// Processor time of the calling thread: what our code costs, apart from the
// time the kernel keeps it waiting for the disk.
double threadCpuSeconds() {
  timespec t = {};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

HourRun recordHour(const std::string& path, uint32_t sampleSize, bool checkpoints) {
  using Clock = std::chrono::steady_clock;
  HourRun run;
  sync();  // the previous run's data is on the disk before this one starts
  auto sink = std::make_shared<FileSink>(path.c_str());
  Parts p = makeMovie(sink, 320, 240, checkpoints);
  Handle data = qt::NewHandle(int32_t(sampleSize));
  for (uint32_t i = 0; i < sampleSize; ++i) (*data)[i] = char(i * 7);
  ImageDescriptionHandle desc = rawDescription(320, 240);
  const int kFrames = 30 * 3600;
  uint64_t recorded = 0;
  std::vector<uint64_t> timeAt(kFrames + 1, 0);
  for (int i = 0; i < kFrames; ++i) {
    const TimeValue duration = 33 + (i % 3 == 0);
    const double cpu0 = threadCpuSeconds();
    const Clock::time_point t0 = Clock::now();
    qt::AddMediaSample(p.media, data, 0, sampleSize, duration, desc, 1, 0, nullptr);
    const Clock::time_point t1 = Clock::now();
    run.cpuSeconds += threadCpuSeconds() - cpu0;
    sink->waitForBackground();
    const double s = std::chrono::duration<double>(t1 - t0).count();
    run.seconds += s;
    run.longestMs = std::max(run.longestMs, s * 1000);
    run.backgroundSeconds += std::chrono::duration<double>(Clock::now() - t1).count();
    recorded += uint64_t(duration);
    timeAt[size_t(i) + 1] = recorded;
  }
  qt::GetCheckpointReport(p.media, &run.report);
  run.lagMs = recorded - timeAt[run.report.coveredSamples];
  qt::EndMediaEdits(p.media);
  qt::InsertMediaIntoTrack(p.track, 0, 0, qt::GetMediaDuration(p.media), 0x10000);
  qt::AddMovieResource(p.movie, sink.get(), movieInDataForkResID, nullptr);
  qt::DisposeMovie(p.movie);
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  sink.reset();
  struct stat st = {};
  if (stat(path.c_str(), &st) == 0) run.fileBytes = uint64_t(st.st_size);
  unlink(path.c_str());
  return run;
}

void checkpointCost(const std::string& path) {
  std::printf(
      "\nCheckpoints over an hour at 30 frames a second (108,000 AddMediaSample calls into a real file, "
      "best of 3 runs each). Time is AddMediaSample's, wall clock (with the kernel's waits for the disk) "
      "and this thread's processor time; the last column is the extra wall time as a share of the hour "
      "recorded.\n"
      "| sample bytes | checkpoints | size overhead | wall without / with | processor without / with | "
      "longest call without / with | flushing in the background | extra, share of the hour | last "
      "checkpoint lags by |\n"
      "|---|---|---|---|---|---|---|---|---|\n");
  for (const uint32_t size : {2000u, 30000u}) {
    HourRun without, with;
    for (int round = 0; round < 3; ++round) {
      HourRun a = recordHour(path, size, false);
      HourRun b = recordHour(path, size, true);
      if (round == 0 || a.seconds < without.seconds) without = a;
      if (round == 0 || b.seconds < with.seconds) with = b;
    }
    std::printf(
        "| %u | %u | %.3f%% (%llu bytes) | %.2f s / %.2f s (%+.1f%%) | %.2f s / %.2f s (%+.1f%%) | "
        "%.1f ms / %.1f ms | %.1f s | %.3f%% | %.1f s |\n",
        size, with.report.written,
        100.0 * double(with.fileBytes - without.fileBytes) / double(without.fileBytes),
        static_cast<unsigned long long>(with.fileBytes - without.fileBytes), without.seconds, with.seconds,
        100.0 * (with.seconds - without.seconds) / without.seconds, without.cpuSeconds, with.cpuSeconds,
        100.0 * (with.cpuSeconds - without.cpuSeconds) / without.cpuSeconds, without.longestMs,
        with.longestMs, with.backgroundSeconds, 100.0 * (with.seconds - without.seconds) / 3600.0,
        double(with.lagMs) / 1000);
    std::fflush(stdout);
  }
}

void largeFile(const std::string& path) {
  auto sink = std::make_shared<FileSink>(path.c_str(), 1u << 20);
  if (!sink->ok()) {
    std::printf("cannot create %s\n", path.c_str());
    return;
  }
  Parts p = makeMovie(sink, 2, 2);
  const uint32_t kSample = 64u << 20;
  Handle data = qt::NewHandle(int32_t(kSample));
  ImageDescriptionHandle desc = rawDescription(2, 2);
  for (int i = 0; i < 66; ++i) qt::AddMediaSample(p.media, data, 0, kSample, 40, desc, 1, 0, nullptr);
  qt::EndMediaEdits(p.media);
  qt::InsertMediaIntoTrack(p.track, 0, 0, qt::GetMediaDuration(p.media), 0x10000);
  OSErr err = qt::AddMovieResource(p.movie, sink.get(), movieInDataForkResID, nullptr);
  qt::DisposeMovie(p.movie);
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  sink.reset();
  std::printf("\nsparse 4.1 GiB movie %s (AddMovieResource %d); ffprobe says:\n", path.c_str(), err);
  std::fflush(stdout);
  std::string cmd =
      "ffprobe -v error -show_entries format=size,duration:stream=nb_frames -of compact " + path;
  if (std::system(cmd.c_str()) != 0) std::printf("ffprobe failed\n");
  unlink(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string large = argc > 1 ? argv[1] : "large.mov";
  memoryPerFrame();
  checkpointCost(large + ".hour.mov");
  largeFile(large);
  return 0;
}
