// Memory of a long recording, and a movie past 4 GiB read by ffprobe.
//
// 1. 100,000 AddMediaSample calls into a sink that only counts bytes: heap
//    bytes per frame (glibc's mallinfo2) and allocations made by the last
//    half of the samples, when the tables have long since grown.
// 2. A real movie file of 4.1 GiB whose sample bytes are left as holes (a
//    sparse file), so ffprobe reads the 64-bit mdat header and co64 offsets
//    without 4 GiB going to disk.
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

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

// Writes headers and the movie atom; sample bytes become holes.
class SparseFileSink : public qt::Sink {
 public:
  explicit SparseFileSink(const char* path) : fd_(open(path, O_CREAT | O_TRUNC | O_WRONLY, 0644)) {}
  ~SparseFileSink() override {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  OSErr write(uint64_t offset, const void* data, size_t size) override {
    if (size >= (1u << 20)) return noErr;  // a sample: leave a hole
    return pwrite(fd_, data, size, off_t(offset)) == ssize_t(size) ? noErr : ioErr;
  }
  OSErr setLength(uint64_t length) override { return ftruncate(fd_, off_t(length)) == 0 ? noErr : ioErr; }
  OSErr flush() override { return fdatasync(fd_) == 0 ? noErr : ioErr; }

 private:
  int fd_;
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

Parts makeMovie(std::shared_ptr<qt::Sink> sink, int w, int h) {
  Parts p;
  qt::CreateMovieInSink(sink, qt::MovieOptions(), &p.movie);
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

void largeFile(const std::string& path) {
  auto sink = std::make_shared<SparseFileSink>(path.c_str());
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
  std::printf("sparse 4.1 GiB movie %s (AddMovieResource %d); ffprobe says:\n", path.c_str(), err);
  std::fflush(stdout);
  std::string cmd =
      "ffprobe -v error -show_entries format=size,duration:stream=nb_frames -of compact " + path;
  if (std::system(cmd.c_str()) != 0) std::printf("ffprobe failed\n");
  unlink(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  memoryPerFrame();
  largeFile(argc > 1 ? argv[1] : "large.mov");
  return 0;
}
