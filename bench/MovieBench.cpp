// Memory of a long recording, what keeping its file readable costs, and a
// movie past 4 GiB read by ffprobe.
//
// 1. 100,000 AddMediaSample calls into a sink that only counts bytes: heap
//    bytes per frame (glibc's mallinfo2) and allocations made by the last
//    half of the samples, when the tables have long since grown.
// 2. Eight hours at 10 and 30 frames a second, with fragments and without:
//    the worst loss a power cut could cause at any moment, and the bytes and
//    processor time that fragments cost per recorded second.
// 3. A real movie file of 4.1 GiB whose sample bytes are left as holes (a
//    sparse file), so ffprobe reads the co64 offsets without 4 GiB going to
//    disk.
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

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
  OSErr write(uint64_t offset, const void*, size_t size) override {
    bytes += size;
    length = std::max(length, offset + size);
    return noErr;
  }
  OSErr setLength(uint64_t l) override {
    length = l;
    return noErr;
  }
  OSErr flush() override { return noErr; }
  uint64_t bytes = 0;   // written, all told
  uint64_t length = 0;  // of the file
};

// A real file. Writes of `holesFrom` bytes or more (samples of the large
// movie) are left as holes.
class FileSink : public qt::Sink {
 public:
  explicit FileSink(const char* path, size_t holesFrom = SIZE_MAX)
      : fd_(open(path, O_CREAT | O_TRUNC | O_WRONLY, 0644)), holesFrom_(holesFrom) {}
  ~FileSink() override {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  OSErr write(uint64_t offset, const void* data, size_t size) override {
    if (size >= holesFrom_) return noErr;
    return pwrite(fd_, data, size, off_t(offset)) == ssize_t(size) ? noErr : ioErr;
  }
  OSErr setLength(uint64_t length) override { return ftruncate(fd_, off_t(length)) == 0 ? noErr : ioErr; }
  OSErr flush() override { return fdatasync(fd_) == 0 ? noErr : ioErr; }

 private:
  int fd_;
  size_t holesFrom_;
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

Parts makeMovie(std::shared_ptr<qt::Sink> sink, int w, int h, const qt::MovieOptions& options = {}) {
  Parts p;
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

// Processor time of the calling thread.
double threadCpuSeconds() {
  timespec t = {};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct LongRun {
  double cpuSeconds = 0;  // in AddMediaSample and the keeper's turns
  uint64_t fileBytes = 0;
  uint64_t worstLossMs = 0;  // the oldest frame a power cut would lose, at the worst moment
  qt::CheckpointReport report;
};

// Eight hours of a recording whose clock the benchmark moves, with the
// keeper's turns on this thread (its flushes free, as the disk's time is
// not ours): a frame about each 1000/fps ms, jittered by a millisecond.
LongRun recordEightHours(int fps, uint32_t sampleSize, bool fragments) {
  auto sink = std::make_shared<CountingSink>();
  auto now = std::make_shared<uint64_t>(1000000);
  qt::MovieOptions options;
  options.fragments = fragments;
  options.keeperThread = false;
  options.clock = [now] { return *now; };
  Parts p = makeMovie(sink, 320, 240, options);
  Handle data = qt::NewHandle(int32_t(sampleSize));
  ImageDescriptionHandle desc = rawDescription(320, 240);
  const int frames = fps * 8 * 3600;
  std::vector<uint64_t> appendedAt;
  appendedAt.reserve(size_t(frames));
  uint32_t random = 12345;
  LongRun run;
  const double cpu0 = threadCpuSeconds();
  for (int i = 0; i < frames; ++i) {
    random = random * 1103515245u + 12345u;
    const TimeValue duration = TimeValue(1000 / fps - 1 + int((random >> 16) % 3));
    *now += uint64_t(duration);
    if (fragments && i % 16 == 0) {
      qt::GetCheckpointReport(p.media, &run.report);
      if (run.report.coveredSamples < appendedAt.size())
        run.worstLossMs = std::max(run.worstLossMs, *now - appendedAt[run.report.coveredSamples]);
    }
    qt::AddMediaSample(p.media, data, 0, sampleSize, duration, desc, 1, 0, nullptr);
    appendedAt.push_back(*now);
  }
  run.cpuSeconds = threadCpuSeconds() - cpu0;
  qt::GetCheckpointReport(p.media, &run.report);
  qt::EndMediaEdits(p.media);
  qt::InsertMediaIntoTrack(p.track, 0, 0, qt::GetMediaDuration(p.media), 0x10000);
  qt::AddMovieResource(p.movie, sink.get(), movieInDataForkResID, nullptr);
  run.fileBytes = sink->length;
  qt::DisposeMovie(p.movie);
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  return run;
}

void keepingCost() {
  std::printf(
      "\nKeeping the file readable over 8 hours (AddMediaSample with the keeper's turns on one thread, the "
      "clock moved by the benchmark, flushes free; worst loss sampled every 16 frames). Bytes and "
      "processor time are per recorded second; processor time is AddMediaSample's whole, without fragments / "
      "with.\n"
      "| fps | sample bytes | fragments | worst loss | extra bytes / s | size overhead | processor / s |\n"
      "|---|---|---|---|---|---|---|\n");
  for (const int fps : {10, 30}) {
    for (const uint32_t size : {1000u, 2000u, 30000u}) {
      LongRun without = recordEightHours(fps, size, false);
      LongRun with = recordEightHours(fps, size, true);
      const double seconds = 8 * 3600;
      const double extra = double(with.fileBytes - without.fileBytes);
      std::printf("| %d | %u | %u | %.2f s | %.0f | %.2f%% | %.1f us / %.1f us |\n", fps, size,
                  with.report.written, double(with.worstLossMs) / 1000, extra / seconds,
                  100.0 * extra / double(without.fileBytes), 1e6 * without.cpuSeconds / seconds,
                  1e6 * with.cpuSeconds / seconds);
      std::fflush(stdout);
    }
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
  keepingCost();
  largeFile(large);
  return 0;
}
