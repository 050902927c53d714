// Memory that runs out anywhere in the library is told as memFullErr, never
// the end of the process: a call whose allocation fails returns it through
// the guard every call of the program goes through, and leaves the movie as
// it was, so the same call succeeds once memory is back; a turn of the
// keeper's thread that runs out is told by the next AddMediaSample. Built as
// a program of its own, since it replaces the allocator.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <thread>

#include "AvDemux.h"
#include "Handles.h"
#include "Movies.h"
#include "OutOfMemory.h"
#include "TestSupport.h"

namespace {
// This thread's allocations: the `failIn`-th from now fails (0: none).
thread_local long failIn = 0;
thread_local bool failed = false;
// Every allocation of the threads other than the test's fails.
std::atomic<bool> failOtherThreads{false};
thread_local bool testThread = false;

bool failsNow() {
  if (!testThread) return failOtherThreads.load();
  if (failIn > 0 && --failIn == 0) {
    failed = true;
    return true;
  }
  return false;
}
}  // namespace

void* operator new(size_t size) {
  if (failsNow()) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& n) noexcept { return operator new(size, n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

// A call as the program's dispatcher makes it.
OSErr guarded(const std::function<OSErr()>& call) {
  return qt::unlessMemoryRunsOut(call, [] { return OSErr(memFullErr); });
}

// Runs `call` with its first allocation failing, then its second, and so
// on until it runs through without meeting the failure: each failed run
// must say memFullErr, and change nothing a run after it would see.
int failEachAllocation(const std::function<OSErr()>& call, const std::string& what) {
  int failures = 0;
  for (long k = 1;; ++k) {
    failIn = k;
    failed = false;
    const OSErr err = guarded(call);
    failIn = 0;
    if (!failed) {
      EXPECT_EQ(err, noErr) << what;
      return failures;
    }
    // An allocation that fails inside a call may be one the call can do
    // without; then it succeeds, and is not run again.
    if (err == noErr) return failures;
    EXPECT_EQ(err, memFullErr) << what << ", allocation " << k;
    ++failures;
  }
}

TEST(OutOfMemory, EveryCallOfARecordingToldAndRetriedAtEachAllocation) {
  testThread = true;
  auto sink = std::make_shared<test::MemorySink>();
  test::ManualClock clock;
  qt::MovieOptions options = test::drivenOptions(clock);
  options.creationTime = 0xC0FFEE00u;
  Movie movie = nullptr;
  Track track = nullptr;
  Media media = nullptr;
  int failures = 0;
  failures += failEachAllocation([&] { return qt::CreateMovieInSink(sink, options, &movie); }, "create");
  failures +=
      failEachAllocation([&] { return qt::NewMovieTrack(movie, 4 << 16, 4 << 16, 0, &track); }, "track");
  failures += failEachAllocation(
      [&] { return qt::NewTrackMedia(track, VideoMediaType, 1000, nullptr, 0, &media); }, "media");
  ASSERT_EQ(qt::BeginMediaEdits(media), noErr);
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 4, 4);
  Handle data = qt::NewHandle(48);
  const int kFrames = 40;
  for (int i = 0; i < kFrames; ++i) {
    std::memset(*data, i, 48);
    clock.advance(300);  // a fragment every few samples
    failures +=
        failEachAllocation([&] { return qt::AddMediaSample(media, data, 0, 48, 300, desc, 1, 0, nullptr); },
                           "sample " + std::to_string(i));
  }
  ASSERT_EQ(qt::EndMediaEdits(media), noErr);
  ASSERT_EQ(qt::InsertMediaIntoTrack(track, 0, 0, qt::GetMediaDuration(media), 0x10000), noErr);
  failures += failEachAllocation(
      [&] { return qt::AddMovieResource(movie, sink.get(), movieInDataForkResID, nullptr); }, "finish");
  EXPECT_GT(failures, kFrames) << "too few allocations failed to show anything";
  ASSERT_EQ(qt::DisposeMovie(movie), noErr);
  const test::DemuxedMovie read = test::avDemux(sink->bytes);
  ASSERT_TRUE(read.opened) << read.error;
  ASSERT_EQ(read.packets.size(), size_t(kFrames)) << test::atomLayout(sink->bytes);
  for (int i = 0; i < kFrames; ++i) {
    EXPECT_EQ(read.packets[size_t(i)].bytes, std::vector<uint8_t>(48, uint8_t(i))) << i;
    EXPECT_EQ(read.packets[size_t(i)].duration, 300) << i;
  }
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

uint32_t covered(Media media) {
  qt::CheckpointReport report;
  EXPECT_EQ(qt::GetCheckpointReport(media, &report), noErr);
  return report.coveredSamples;
}

// The keeper's thread runs out of memory building a fragment: the next
// sample is told memFullErr (once) and not added; with memory back the
// keeper covers the rest and the movie finishes whole.
TEST(OutOfMemory, TheKeepersThreadTellsTheNextSample) {
  testThread = true;
  auto sink = std::make_shared<test::MemorySink>();
  qt::MovieOptions options;
  options.creationTime = 0xC0FFEE00u;
  test::MovieParts p = test::makeMovie(sink, 4, 4, 1000, options);
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 4, 4);
  Handle data = qt::NewHandle(48);
  int added = 0;
  auto add = [&] {
    std::memset(*data, added, 48);
    const OSErr err = qt::AddMediaSample(p.media, data, 0, 48, 20, desc, 1, 0, nullptr);
    if (err == noErr) ++added;
    return err;
  };
  failOtherThreads = true;
  OSErr told = noErr;
  for (int i = 0; i < 400 && told == noErr; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    told = add();
  }
  failOtherThreads = false;
  EXPECT_EQ(told, memFullErr);
  EXPECT_EQ(covered(p.media), 0u);
  ASSERT_EQ(add(), noErr) << "told once only";
  for (int i = 0; i < 300 && covered(p.media) < uint32_t(added); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(covered(p.media), uint32_t(added));
  ASSERT_EQ(test::finishMovie(p), noErr);
  qt::DisposeMovie(p.movie);
  const test::DemuxedMovie read = test::avDemux(sink->bytes);
  ASSERT_TRUE(read.opened) << read.error;
  EXPECT_EQ(read.packets.size(), size_t(added));
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

}  // namespace
