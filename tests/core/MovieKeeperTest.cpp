// A movie that is being recorded stays playable: the file as it stands at
// any moment, after a crash, a kill or a power cut, reads in libavformat as
// at least every sample its fragments on the disk promise, decoded
// bit-exact; a disk that fails keeps every sample appended before the
// failure; a fragment is due a second after its first sample, whether more
// samples come or not, so what a crash loses and what keeping the file
// readable costs per second stay the same however long the recording.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "AvDecode.h"
#include "AvDemux.h"
#include "CodecTestSupport.h"
#include "Handles.h"
#include "MovieH264Fixture.h"
#include "Movies.h"
#include "TestSupport.h"

namespace {

using test::Image;

constexpr int kWidth = 32;
constexpr int kHeight = 24;

// What the library was asked to keep, and what it said it keeps.
struct Recording {
  std::vector<std::vector<uint8_t>> samples;  // compressed bytes, as appended
  std::vector<TimeValue> durations;
  std::vector<std::vector<uint8_t>> rgb;  // each frame's pixels, RGB24
  // After each call: how many journal entries the file had received, and how
  // many samples a reader was then promised.
  std::vector<size_t> callEnds;
  std::vector<uint32_t> covered;
  test::MovieParts parts;
  ImageDescription description;  // as the compressor filled it
};

// Records `frames` frames of a changing screen through the program's own
// calls, each appended when its duration has passed on the keeper's clock,
// so a fragment comes every few frames; halfway the frames stop for three
// seconds, in which only the keeper's turns run. Then finishes the movie.
Recording record(std::shared_ptr<test::JournalSink> sink, OSType codec, int frames) {
  Recording r;
  test::ManualClock clock;
  r.parts = test::makeMovie(sink, kWidth, kHeight, 1000, test::drivenOptions(clock));
  test::PixMapFixture pm(test::screenLike(kWidth, kHeight, 1));
  Rect bounds = pm.all();
  int32_t max = 0;
  EXPECT_EQ(qt::GetMaxCompressionSize(pm.handle, &bounds, 0, codecLosslessQuality, codec, anyCodec, &max),
            noErr);
  Handle data = qt::NewHandle(max);
  qt::HLock(data);
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(4));
  auto mark = [&] {
    qt::CheckpointReport report;
    EXPECT_EQ(qt::GetCheckpointReport(r.parts.media, &report), noErr);
    r.callEnds.push_back(sink->journal.size());
    r.covered.push_back(report.coveredSamples);
  };
  static const TimeValue kDurations[] = {180, 260, 330, 95, 410};
  for (int i = 0; i < frames; ++i) {
    pm.image = i % 3 == 2 ? test::noise(kWidth, kHeight, uint32_t(i), 4)
                          : test::screenLike(kWidth, kHeight, uint32_t(i));
    (**pm.handle).baseAddr = reinterpret_cast<Ptr>(pm.image.bgrx.data());
    EXPECT_EQ(qt::CompressImage(pm.handle, &bounds, codecLosslessQuality, codec, desc, *data), noErr);
    const uint32_t size = uint32_t((**desc).dataSize);
    const TimeValue duration = kDurations[i % 5];
    if (i == frames / 2) {
      for (int turn = 0; turn < 30; ++turn) {
        clock.advance(100);
        EXPECT_EQ(qt::KeepMovieReadable(r.parts.movie), noErr);
        mark();
      }
    }
    clock.advance(uint64_t(duration));
    EXPECT_EQ(qt::AddMediaSample(r.parts.media, data, 0, size, duration, desc, 1, 0, nullptr), noErr);
    r.samples.emplace_back(*data, *data + size);
    r.durations.push_back(duration);
    r.rgb.push_back(test::toRgb(pm.image));
    mark();
  }
  std::memcpy(&r.description, *desc, sizeof r.description);
  EXPECT_EQ(test::finishMovie(r.parts), noErr);
  mark();
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  return r;
}

// The packets of `file` must begin with the first `atLeast` samples, exactly,
// and hold no sample that was never appended. `decode` also decodes them.
// With `mustOpen` the file must open even when nothing is promised yet.
void expectPlayable(const std::vector<uint8_t>& file, const Recording& r, uint32_t atLeast, OSType codec,
                    bool decode, const std::string& where, bool mustOpen) {
  if (atLeast == 0 && !mustOpen) return;
  const test::DemuxedMovie movie = test::avDemux(file);
  ASSERT_TRUE(movie.opened) << where << ": " << movie.error << "; layout " << test::atomLayout(file);
  if (movie.streams == 0) {
    ASSERT_EQ(atLeast, 0u) << where << ": no stream; layout " << test::atomLayout(file);
    return;
  }
  ASSERT_EQ(movie.streams, 1u) << where;
  ASSERT_EQ(movie.timeBaseDen, 1000) << where;
  ASSERT_GE(movie.packets.size(), atLeast) << where << "; layout " << test::atomLayout(file);
  ASSERT_LE(movie.packets.size(), r.samples.size()) << where;
  int64_t pts = 0;
  for (size_t i = 0; i < movie.packets.size(); ++i) {
    const test::DemuxedPacket& p = movie.packets[i];
    ASSERT_TRUE(p.bytes == r.samples[i]) << where << ": packet " << i << " is not the sample appended";
    // libavformat gives a fragment's samples no duration of their own;
    // their times say it all the same.
    if (p.duration != 0) {
      ASSERT_EQ(p.duration, r.durations[i]) << where << ": packet " << i;
    }
    ASSERT_EQ(p.pts, pts) << where << ": packet " << i;
    pts += r.durations[i];
    if (decode) {
      const test::Decoded d = test::avDecode(codec, kWidth, kHeight, 24, p.bytes.data(), p.bytes.size());
      ASSERT_TRUE(d.ok) << where << ": " << d.error;
      ASSERT_TRUE(d.rgb == r.rgb[i]) << where << ": frame " << i << " does not decode to its pixels";
    }
  }
}

// The promise in force at journal entry `entry`: that of the last call
// finished before it.
uint32_t promisedAt(const Recording& r, size_t entry) {
  uint32_t promised = 0;
  for (size_t c = 0; c < r.callEnds.size() && r.callEnds[c] <= entry; ++c) promised = r.covered[c];
  return promised;
}

TEST(MovieKeeper, AFileCutAtAnyByteOfItsWritingPlaysEveryFragmentWrittenBeforeIt) {
  struct Case {
    OSType codec;
    uint64_t spread;  // cuts spread evenly over the bytes written
  };
  for (const Case c :
       {Case{kAnimationCodecType, 10000}, Case{kRawCodecType, 2500}, Case{kPNGCodecType, 2500}}) {
    auto sink = std::make_shared<test::JournalSink>();
    const Recording r = record(sink, c.codec, 40);
    qt::CheckpointReport report;
    ASSERT_EQ(qt::GetCheckpointReport(r.parts.media, &report), noErr);
    EXPECT_GE(report.written, 8u) << "about 9 s of frames and 3 s without, a fragment a second";
    EXPECT_EQ(report.coveredSamples, 40u);
    qt::DisposeMovie(r.parts.movie);

    // The file as a crash leaves it after `entry` calls and `partial` bytes
    // of the next write: spread evenly over the bytes written, and every cut
    // near the start and end of each write (where atoms and patches begin
    // and end). The file is rebuilt call by call as the cuts move on.
    uint64_t total = 0;
    for (const auto& e : sink->journal) total += e.bytes.size();
    const uint64_t step = std::max<uint64_t>(1, total / c.spread);
    uint64_t passed = 0;
    size_t cuts = 0;
    test::JournalSink file;
    for (size_t entry = 0; entry <= sink->journal.size(); ++entry) {
      const size_t n = entry < sink->journal.size() ? sink->journal[entry].bytes.size() : 0;
      const uint32_t promised = promisedAt(r, entry);
      // A write of at most 16 bytes within one sector (a size patch, the
      // 64-bit mdat header) reaches the disk whole or not at all; any other
      // write may be cut at any byte.
      const bool atomic = entry < sink->journal.size() && n <= 16 &&
                          sink->journal[entry].offset / 512 == (sink->journal[entry].offset + n - 1) / 512;
      for (size_t partial = 0; partial <= n; ++partial) {
        if (atomic && partial != 0 && partial != n) continue;
        const bool nearEdge = partial <= 8 || partial + 8 >= n;
        if (!nearEdge && (passed + partial) % step != 0) continue;
        std::vector<uint8_t> image = file.bytes;
        if (partial > 0) {
          const auto& e = sink->journal[entry];
          if (image.size() < e.offset + partial) image.resize(size_t(e.offset + partial));
          std::memcpy(image.data() + e.offset, e.bytes.data(), partial);
        }
        // Once the header is whole the file opens, frames or none; and not
        // only in libavformat, which takes a freed movie atom when it finds
        // no other: a reader walking the top-level atoms meets a live one.
        const bool headerWritten = entry > 0 || (n > 0 && partial == n);
        if (headerWritten) {
          const std::string layout = test::atomLayout(image);
          ASSERT_NE(layout.find("moov"), std::string::npos)
              << "cut after " << entry << " calls and " << partial << " bytes: " << layout;
        }
        expectPlayable(
            image, r, promised, c.codec, cuts % 97 == 0,
            "cut after " + std::to_string(entry) + " calls and " + std::to_string(partial) + " bytes",
            headerWritten);
        if (HasFatalFailure()) return;
        ++cuts;
      }
      passed += n;
      if (entry == sink->journal.size()) break;
      const auto& e = sink->journal[entry];
      if (e.kind == test::JournalSink::Entry::kWrite) file.write(e.offset, e.bytes.data(), e.bytes.size());
      if (e.kind == test::JournalSink::Entry::kLength) file.setLength(e.offset);
    }
    EXPECT_GE(cuts, c.spread);
    EXPECT_EQ(file.bytes, sink->bytes);
    // The finished file holds everything.
    expectPlayable(sink->bytes, r, 40, c.codec, true, "finished", true);
    EXPECT_EQ(test::atomLayout(sink->bytes), "ftyp wide mdat moov");
  }
}

TEST(MovieKeeper, APowerCutAfterAFlushLosesNothingThatWasPromisedBeforeIt) {
  {
    auto sink = std::make_shared<test::JournalSink>();
    const Recording r = record(sink, kAnimationCodecType, 30);
    qt::DisposeMovie(r.parts.movie);
    std::mt19937 random(7);
    // The power goes when `cut` calls have reached the file: whatever came
    // after the last flush before it may or may not be on the disk, in any
    // combination.
    size_t lastFlush = 0;
    for (size_t cut = 1; cut <= sink->journal.size(); ++cut) {
      const auto& last = sink->journal[cut - 1];
      if (last.kind == test::JournalSink::Entry::kFlush) lastFlush = std::max(lastFlush, size_t(last.offset));
      for (int trial = 0; trial < 8; ++trial) {
        test::JournalSink disk;
        for (size_t i = 0; i < cut; ++i) {
          const auto& e = sink->journal[i];
          if (i >= lastFlush && random() % 2) continue;  // lost in the cut
          if (e.kind == test::JournalSink::Entry::kWrite)
            disk.write(e.offset, e.bytes.data(), e.bytes.size());
          if (e.kind == test::JournalSink::Entry::kLength) disk.setLength(e.offset);
        }
        expectPlayable(disk.bytes, r, promisedAt(r, cut), kAnimationCodecType, false,
                       "power cut after " + std::to_string(cut) + " calls, trial " + std::to_string(trial),
                       lastFlush > 0);
        if (HasFatalFailure()) return;
      }
    }
  }
}

// A recording loop as the program runs it: each frame appended with the time
// since the previous one; a frame that fails keeps its time for the next;
// the first failure stops the recording, which is then finished once the
// disk works again.
struct FailedRun {
  std::vector<std::vector<uint8_t>> appended;
  std::vector<TimeValue> durations;
  TimeValue recordedTime = 0;  // up to the last frame appended
  OSErr failure = noErr;
  OSErr firstFinish = noErr;
};

FailedRun recordUntilFailure(std::shared_ptr<test::FailingSink> sink, int frames,
                             const std::function<void()>& arm) {
  FailedRun run;
  test::ManualClock keeperClock;
  test::MovieParts p = test::makeMovie(sink, 4, 4, 1000, test::drivenOptions(keeperClock));
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 4, 4);
  Handle data = qt::NewHandle(48);
  TimeValue carried = 0, clock = 0;
  for (int i = 0; i < frames; ++i) {
    if (i == frames / 2) arm();
    const TimeValue elapsed = 90 + (i * 37) % 60;
    clock += elapsed;
    keeperClock.advance(uint64_t(elapsed));
    carried += elapsed;
    std::memset(*data, i, 48);
    const OSErr err = qt::AddMediaSample(p.media, data, 0, 48, carried, desc, 1, 0, nullptr);
    if (err != noErr) {
      run.failure = err;
      break;
    }
    run.appended.emplace_back(*data, *data + 48);
    run.durations.push_back(carried);
    run.recordedTime = clock;
    carried = 0;
  }
  run.firstFinish = test::finishMovie(p);
  sink->limit = UINT64_MAX;
  sink->failAt = 0;
  if (run.firstFinish != noErr) {
    // Room again: the same call completes the movie.
    EXPECT_EQ(qt::AddMovieResource(p.movie, sink.get(), movieInDataForkResID, nullptr), noErr);
  }
  qt::DisposeMovie(p.movie);
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  return run;
}

void expectKept(const FailedRun& run, const std::vector<uint8_t>& file, const std::string& where) {
  const test::DemuxedMovie movie = test::avDemux(file);
  ASSERT_TRUE(movie.opened) << where << ": " << movie.error;
  ASSERT_EQ(movie.packets.size(), run.appended.size()) << where;
  int64_t sum = 0;
  for (size_t i = 0; i < run.appended.size(); ++i) {
    ASSERT_TRUE(movie.packets[i].bytes == run.appended[i]) << where << ": packet " << i;
    ASSERT_EQ(movie.packets[i].duration, run.durations[i]) << where << ": packet " << i;
    sum += movie.packets[i].duration;
  }
  EXPECT_EQ(sum, run.recordedTime) << where << ": the durations add up to the time recorded";
}

TEST(MovieKeeper, AWriteErrorAtAnyCallKeepsEveryFrameAppendedBeforeIt) {
  // How many calls the second half of a recording makes.
  auto counting = std::make_shared<test::FailingSink>();
  int calls = 0;
  recordUntilFailure(counting, 120, [&] { calls = counting->writes + counting->flushes; });
  calls = counting->writes + counting->flushes - calls;
  ASSERT_GT(calls, 60);
  for (const OSErr error : {ioErr, dskFulErr}) {
    for (int call = 1; call <= calls; ++call) {
      auto sink = std::make_shared<test::FailingSink>();
      sink->error = error;
      const FailedRun run = recordUntilFailure(sink, 120, [&] { sink->failAt = call; });
      const std::string where = "error " + std::to_string(error) + " at call " + std::to_string(call);
      if (run.failure != noErr) {
        EXPECT_EQ(run.failure, error) << where;
        EXPECT_GE(run.appended.size(), 60u) << where;
      }
      expectKept(run, sink->bytes, where);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(MovieKeeper, ADiskThatFillsAtAnyByteKeepsEveryFrameAppendedBeforeIt) {
  auto counting = std::make_shared<test::FailingSink>();
  size_t half = 0;
  recordUntilFailure(counting, 80, [&] { half = counting->bytes.size(); });
  const size_t full = counting->bytes.size();
  for (size_t limit = half; limit < full; limit += 7) {
    auto sink = std::make_shared<test::FailingSink>();
    const FailedRun run = recordUntilFailure(sink, 80, [&] { sink->limit = limit; });
    const std::string where = "disk full at byte " + std::to_string(limit);
    // Near the end only the movie atom meets the full disk.
    if (run.failure != noErr || run.appended.size() != 80) {
      EXPECT_EQ(run.failure, dskFulErr) << where;
    }
    expectKept(run, sink->bytes, where);
    if (HasFatalFailure()) return;
  }
}

TEST(MovieKeeper, TheFinishedFileReadsAsOneWrittenWithoutFragments) {
  auto with = std::make_shared<test::JournalSink>();
  const Recording r = record(with, kAnimationCodecType, 30);
  qt::DisposeMovie(r.parts.movie);
  // The same samples into a movie that never writes a fragment.
  auto without = std::make_shared<test::MemorySink>();
  qt::MovieOptions options = test::stillOptions();
  options.fragments = false;
  test::MovieParts p = test::makeMovie(without, kWidth, kHeight, 1000, options);
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(sizeof r.description));
  std::memcpy(*desc, &r.description, sizeof r.description);
  for (size_t i = 0; i < r.samples.size(); ++i) {
    Handle data = qt::NewHandle(int32_t(r.samples[i].size()));
    std::memcpy(*data, r.samples[i].data(), r.samples[i].size());
    ASSERT_EQ(qt::AddMediaSample(p.media, data, 0, uint32_t(r.samples[i].size()), r.durations[i], desc, 1, 0,
                                 nullptr),
              noErr);
    qt::DisposeHandle(data);
  }
  ASSERT_EQ(test::finishMovie(p), noErr);
  qt::DisposeMovie(p.movie);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  EXPECT_EQ(test::atomLayout(without->bytes), "ftyp wide mdat moov");
  EXPECT_EQ(test::atomLayout(with->bytes), "ftyp wide mdat moov");
  // The movie atoms are the same but for where the samples lie.
  const test::AtomRef moovWith = test::findAtom(with->bytes, "moov");
  const test::AtomRef moovWithout = test::findAtom(without->bytes, "moov");
  EXPECT_EQ(moovWith.size, moovWithout.size);

  // What ffprobe, ffmpeg and mediainfo say of the two files, but for where
  // the samples lie and how large the file is.
  const std::string a = test::saveFile("fragments-with.mov", with->bytes);
  const std::string b = test::saveFile("fragments-without.mov", without->bytes);
  const std::string probe =
      "ffprobe -v error -show_streams -show_packets -show_entries format=duration,nb_streams "
      "-of flat ";
  const auto strip = [](std::string text) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(at, end - at);
      // Where the samples lie, the file's size and the share of it that
      // the video takes differ; nothing else may.
      if (line.find(".pos=") == std::string::npos && line.find("File size") == std::string::npos &&
          line.find("Complete name") == std::string::npos &&
          line.find("Overall bit rate") == std::string::npos && line.find("Stream size") == std::string::npos)
        out += line.substr(0, line.find(" (")) + "\n";
      at = end + 1;
    }
    return out;
  };
  const std::string probeWith = strip(test::run(probe + a));
  EXPECT_NE(probeWith.find("codec_name=\"qtrle\""), std::string::npos) << probeWith;
  EXPECT_EQ(probeWith, strip(test::run(probe + b)));
  const std::string md5 = "ffmpeg -v error -i ";
  const std::string framesWith = test::run(md5 + a + " -f framemd5 -");
  EXPECT_NE(framesWith.find("0,"), std::string::npos) << framesWith;
  EXPECT_EQ(framesWith, test::run(md5 + b + " -f framemd5 -"));
  const std::string infoWith = test::run("mediainfo " + a);
  EXPECT_NE(infoWith.find("32 pixels"), std::string::npos) << infoWith;
  EXPECT_EQ(strip(infoWith), strip(test::run("mediainfo " + b)));
}

// Counts the bytes of the file, keeps none, flushes at once.
class NullSink : public qt::Sink {
 public:
  OSErr write(uint64_t offset, const void*, size_t size) override {
    length = std::max(length, offset + size);
    return noErr;
  }
  OSErr setLength(uint64_t l) override {
    length = l;
    return noErr;
  }
  OSErr flush() override { return noErr; }
  uint64_t length = 0;
};

// Eight hours at 10 and 30 frames a second, with samples of a still window
// (1 and 2 KB) and of a busy one (30 KB), each frame's duration jittered by a
// millisecond either way as a real grabber measures it: at every moment the
// frames a power cut would lose were all appended in the last second and
// one frame interval, and the bytes spent keeping the file readable are the
// same in the last hour as in the first.
TEST(MovieKeeper, EightHoursLoseAtMostASecondAtAnyMomentAndCostTheSameEachHour) {
  struct Case {
    int fps;
    uint32_t sampleSize;
  };
  std::printf("| fps | sample bytes | worst loss (ms) | fragments | overhead |\n");
  for (const Case c :
       {Case{10, 1000}, Case{10, 2000}, Case{10, 30000}, Case{30, 1000}, Case{30, 2000}, Case{30, 30000}}) {
    auto sink = std::make_shared<NullSink>();
    test::ManualClock clock;
    test::MovieParts p = test::makeMovie(sink, 320, 240, 1000, test::drivenOptions(clock));
    Handle data = qt::NewHandle(int32_t(c.sampleSize));
    ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 320, 240);
    const int interval = 1000 / c.fps;
    const int frames = c.fps * 8 * 3600;
    std::mt19937 random(uint32_t(c.fps * 7 + c.sampleSize));
    std::vector<uint64_t> appendedAt;  // keeper clock at each sample
    appendedAt.reserve(size_t(frames));
    uint64_t worstLoss = 0, hourStart = 0, firstHour = 0, lastHour = 0;
    for (int i = 0; i < frames; ++i) {
      const TimeValue duration = TimeValue(interval - 1 + int(random() % 3));
      clock.advance(uint64_t(duration));
      // The moment before the frame: what the disk holds is what a cut now
      // keeps; the oldest frame it lacks tells how far back the loss goes.
      qt::CheckpointReport report;
      ASSERT_EQ(qt::GetCheckpointReport(p.media, &report), noErr);
      if (report.coveredSamples < appendedAt.size())
        worstLoss = std::max(worstLoss, *clock.now - appendedAt[report.coveredSamples]);
      ASSERT_EQ(qt::AddMediaSample(p.media, data, 0, c.sampleSize, duration, desc, 1, 0, nullptr), noErr);
      appendedAt.push_back(*clock.now);
      if ((i + 1) % (c.fps * 3600) == 0) {
        ASSERT_EQ(qt::GetCheckpointReport(p.media, &report), noErr);
        const uint64_t spent = report.overheadBytes - hourStart;
        hourStart = report.overheadBytes;
        if (i + 1 == c.fps * 3600) firstHour = spent;
        lastHour = spent;
      }
    }
    qt::CheckpointReport report;
    ASSERT_EQ(qt::GetCheckpointReport(p.media, &report), noErr);
    const double media = double(c.sampleSize) * frames;
    const double overhead = double(sink->length - uint64_t(media)) / media;
    std::printf("| %d | %u | %llu | %u | %.2f%% |\n", c.fps, c.sampleSize, (unsigned long long)worstLoss,
                report.written, overhead * 100);
    EXPECT_LE(worstLoss, uint64_t(1000 + interval + 1)) << c.fps << " fps, " << c.sampleSize << " B";
    EXPECT_GE(report.written, uint32_t(8 * 3600 * 9 / 10)) << "a fragment about each second";
    EXPECT_LE(double(lastHour), double(firstHour) * 1.01) << "the eighth hour costs what the first did";
    if (c.sampleSize >= 2000) {
      EXPECT_LE(overhead, 0.01) << c.fps << " fps, " << c.sampleSize << " B";
    }
    ASSERT_EQ(test::finishMovie(p), noErr);
    qt::DisposeMovie(p.movie);
    qt::DisposeHandle(data);
    qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  }
}

}  // namespace

namespace {

// A disk whose flushes wait until the test lets them go, written from the
// recording thread and flushed from the keeper's.
// Writes of a MiB or more (samples) are only logged, not kept.
class SlowDisk : public qt::Sink {
 public:
  OSErr write(uint64_t offset, const void* data, size_t size) override {
    std::lock_guard<std::mutex> g(lock_);
    log_.push_back(size);
    if (size >= (1u << 20)) return noErr;
    if (bytes_.size() < offset + size) bytes_.resize(size_t(offset + size));
    std::memcpy(bytes_.data() + offset, data, size);
    return noErr;
  }
  OSErr setLength(uint64_t length) override {
    std::lock_guard<std::mutex> g(lock_);
    bytes_.resize(size_t(length));
    return noErr;
  }
  OSErr flush() override {
    std::unique_lock<std::mutex> g(lock_);
    ++flushesStarted_;
    log_.push_back(0);
    changed_.notify_all();
    changed_.wait(g, [this] { return !held_; });
    return failNext_ ? (failNext_ = false, OSErr(ioErr)) : OSErr(noErr);
  }
  void hold() {
    std::lock_guard<std::mutex> g(lock_);
    held_ = true;
  }
  void release() {
    std::lock_guard<std::mutex> g(lock_);
    held_ = false;
    changed_.notify_all();
  }
  void failNextFlush() {
    std::lock_guard<std::mutex> g(lock_);
    failNext_ = true;
  }
  bool waitForFlushes(int n) {
    std::unique_lock<std::mutex> g(lock_);
    return changed_.wait_for(g, std::chrono::seconds(30), [&] { return flushesStarted_ >= n; });
  }
  std::vector<uint8_t> bytes() {
    std::lock_guard<std::mutex> g(lock_);
    return bytes_;
  }
  int flushesStarted() {
    std::lock_guard<std::mutex> g(lock_);
    return flushesStarted_;
  }
  // The size of each write and 0 for each flush begun, in order.
  std::vector<size_t> log() {
    std::lock_guard<std::mutex> g(lock_);
    return log_;
  }

 private:
  std::vector<size_t> log_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<uint8_t> bytes_;
  bool held_ = false;
  bool failNext_ = false;
  int flushesStarted_ = 0;
};

uint32_t coveredNow(Media media) {
  qt::CheckpointReport report;
  EXPECT_EQ(qt::GetCheckpointReport(media, &report), noErr);
  return report.coveredSamples;
}

// Polls, on the real clock, until `media` is covered up to `samples`.
bool waitForCovered(Media media, uint32_t samples) {
  for (int i = 0; i < 3000 && coveredNow(media) < samples; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return coveredNow(media) >= samples;
}

// The keeper flushes on its own thread: a disk that takes its time holds up
// no sample, and frames that stop coming are covered all the same, a second
// later, with no call from the program.
TEST(MovieKeeper, ItsThreadNeverHoldsUpTheRecordingAndCoversFramesThatStopComing) {
  auto disk = std::make_shared<SlowDisk>();
  qt::MovieOptions options;
  options.creationTime = 0xC0FFEE00u;
  test::MovieParts p = test::makeMovie(disk, 2, 2, 1000, options);
  ASSERT_TRUE(disk->waitForFlushes(1)) << "the file header goes to the disk at once";
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 2, 2);
  Handle data = qt::NewHandle(12);
  auto add = [&](int value) {
    std::memset(*data, value, 12);
    return qt::AddMediaSample(p.media, data, 0, 12, 50, desc, 1, 0, nullptr);
  };
  disk->hold();
  for (int i = 0; i < 20; ++i) ASSERT_EQ(add(0x20 + i), noErr) << i;
  // The keeper writes their fragment a second later and waits for the disk.
  ASSERT_TRUE(disk->waitForFlushes(2)) << "no fragment 30 s after the samples";
  for (int i = 20; i < 25; ++i) ASSERT_EQ(add(0x20 + i), noErr) << i;
  EXPECT_EQ(coveredNow(p.media), 0u) << "nothing is promised before it is on the disk";
  disk->release();
  ASSERT_TRUE(waitForCovered(p.media, 25)) << coveredNow(p.media);
  test::DemuxedMovie read = test::avDemux(disk->bytes());
  ASSERT_TRUE(read.opened) << read.error;
  EXPECT_EQ(read.packets.size(), 25u);

  // A flush that fails is told once, by the next sample, which is not added;
  // the keeper flushes again on its next turn and keeps the rest.
  disk->failNextFlush();
  ASSERT_EQ(add(0x50), noErr);
  OSErr told = noErr;
  for (int i = 0; i < 3000 && told == noErr; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    told = add(0x50);
  }
  EXPECT_EQ(told, ioErr);
  const uint32_t added = uint32_t(qt::GetMediaDuration(p.media) / 50);
  EXPECT_EQ(add(0x50), noErr) << "told once only";
  ASSERT_TRUE(waitForCovered(p.media, added + 1)) << coveredNow(p.media);
  ASSERT_EQ(test::finishMovie(p), noErr);
  qt::DisposeMovie(p.movie);
  read = test::avDemux(disk->bytes());
  ASSERT_TRUE(read.opened) << read.error;
  EXPECT_EQ(read.packets.size(), added + 1);
  EXPECT_EQ(test::atomLayout(disk->bytes()), "ftyp wide mdat moov");
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

// A sink whose flush fails when told to, once.
class FlushFailsOnce : public test::MemorySink {
 public:
  OSErr flush() override {
    ++flushes;
    if (failNext) {
      failNext = false;
      return ioErr;
    }
    return noErr;
  }
  bool failNext = false;
};

// A flush that fails is reported once and never blocks the next: the keeper
// flushes again, and a Stop that meets a failing flush saves the movie when
// called again.
TEST(MovieKeeper, AFailedFlushIsToldOnceAndTheNextOneReallyFlushes) {
  auto sink = std::make_shared<FlushFailsOnce>();
  test::ManualClock clock;
  test::MovieParts p = test::makeMovie(sink, 2, 2, 1000, test::drivenOptions(clock));
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 2, 2);
  Handle data = qt::NewHandle(12);
  auto add = [&](int value) {
    std::memset(*data, value, 12);
    return qt::AddMediaSample(p.media, data, 0, 12, 100, desc, 1, 0, nullptr);
  };
  ASSERT_EQ(add(1), noErr);
  clock.advance(1000);
  sink->failNext = true;
  EXPECT_EQ(add(2), ioErr) << "the fragment's flush failed: told, and the sample not added";
  EXPECT_EQ(add(2), noErr);
  EXPECT_EQ(coveredNow(p.media), 0u);
  clock.advance(1000);
  const int before = sink->flushes;
  ASSERT_EQ(add(3), noErr);
  EXPECT_GT(sink->flushes, before) << "flushed again";
  EXPECT_EQ(coveredNow(p.media), 2u);

  // Stop meets a failing flush; pressed again, it saves the movie.
  sink->failNext = true;
  EXPECT_EQ(test::finishMovie(p), ioErr);
  EXPECT_EQ(add(4), dataNotOpenForWrite) << "nothing goes after a movie atom that may be on the disk";
  ASSERT_EQ(qt::AddMovieResource(p.movie, sink.get(), movieInDataForkResID, nullptr), noErr);
  qt::DisposeMovie(p.movie);
  const test::DemuxedMovie read = test::avDemux(sink->bytes);
  ASSERT_TRUE(read.opened) << read.error;
  ASSERT_EQ(read.packets.size(), 3u);
  EXPECT_EQ(read.packets[2].bytes, std::vector<uint8_t>(12, 3));
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

// An open mdat that fills 2 GiB faster than a second: the sample that does
// not fit waits for the keeper's thread to close it, then goes in.
TEST(MovieKeeper, AFullMdatIsClosedByTheKeeperBeforeTheNextSample) {
  auto sink = std::make_shared<test::CountingSink>();
  qt::MovieOptions options;
  options.creationTime = 0xC0FFEE00u;
  test::MovieParts p = test::makeMovie(sink, 2, 2, 1000, options);
  const uint32_t kSample = 64u << 20;
  Handle data = qt::NewHandle(int32_t(kSample));
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 2, 2);
  for (int i = 0; i < 40; ++i)
    ASSERT_EQ(qt::AddMediaSample(p.media, data, 0, kSample, 10, desc, 1, 0, nullptr), noErr) << i;
  // The sample that waited went in once the fragment was written; the
  // fragment reaches the disk on the keeper's time.
  EXPECT_TRUE(waitForCovered(p.media, 31)) << "the first 31 samples were closed in, and flushed";
  ASSERT_EQ(test::finishMovie(p), noErr);
  qt::DisposeMovie(p.movie);
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

// A real file whose large writes (the samples) are left as holes.
class SparseFile : public qt::Sink {
 public:
  explicit SparseFile(const std::string& path) : file_(std::fopen(path.c_str(), "wb+")) {}
  ~SparseFile() override {
    if (file_) std::fclose(file_);
  }
  OSErr write(uint64_t offset, const void* data, size_t size) override {
    length_ = std::max(length_, offset + size);
    if (size >= (1u << 20)) return noErr;
    if (fseeko(file_, off_t(offset), SEEK_SET) != 0 || std::fwrite(data, 1, size, file_) != size)
      return ioErr;
    return std::fflush(file_) == 0 ? noErr : ioErr;
  }
  OSErr setLength(uint64_t length) override {
    length_ = length;
    return ftruncate(fileno(file_), off_t(length)) == 0 ? noErr : ioErr;
  }
  OSErr flush() override { return ftruncate(fileno(file_), off_t(length_)) == 0 ? noErr : ioErr; }

 private:
  FILE* file_;
  uint64_t length_ = 0;
};

// 70 samples of 64 MiB, a second apart, so each gets its fragment and the
// later ones lie past 4 GiB: at each fragment ffprobe reads the file as it
// stands for every sample covered; the finished file has them all.
TEST(MovieKeeper, ARecordingAcrossFourGiBReadsBackAtEachFragment) {
  const std::string path = test::outputPath("across-4-gib.mov");
  auto sink = std::make_shared<SparseFile>(path);
  test::ManualClock clock;
  test::MovieParts p = test::makeMovie(sink, 2, 2, 1000, test::drivenOptions(clock));
  const uint32_t kSample = 64u << 20;
  Handle data = qt::NewHandle(int32_t(kSample));
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 2, 2);
  const std::string probe =
      "ffprobe -v error -select_streams v -show_entries stream=duration_ts -of csv=p=0 " + path;
  uint32_t checked = 0;
  for (int i = 0; i < 70; ++i) {
    clock.advance(1000);
    ASSERT_EQ(qt::AddMediaSample(p.media, data, 0, kSample, 40, desc, 1, 0, nullptr), noErr) << i;
    const uint32_t covered = coveredNow(p.media);
    if (covered == checked) continue;
    checked = covered;
    EXPECT_EQ(test::run(probe), std::to_string(covered * 40) + "\n") << covered << " samples covered";
  }
  EXPECT_GE(checked, 69u);
  ASSERT_EQ(test::finishMovie(p), noErr);
  qt::DisposeMovie(p.movie);
  sink.reset();
  EXPECT_EQ(test::run("ffprobe -v error -show_entries stream=nb_frames,duration_ts "
                      "-of csv=p=0 " +
                      path),
            "2800,70\n");
  std::remove(path.c_str());
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

// Runs `call` on a thread of its own; `done` says whether it has returned.
class Background {
 public:
  explicit Background(std::function<void()> call)
      : thread_([this, call] {
          call();
          std::lock_guard<std::mutex> g(lock_);
          done_ = true;
          changed_.notify_all();
        }) {}
  ~Background() { thread_.join(); }
  bool waitDone(int seconds) {
    std::unique_lock<std::mutex> g(lock_);
    return changed_.wait_for(g, std::chrono::seconds(seconds), [&] { return done_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool done_ = false;
  std::thread thread_;
};

// The sample that must wait for its mdat to be closed goes in as soon as
// the keeper has written the fragment that closes it, while the disk is
// still flushing it; and Stop, pressed while the keeper flushes, waits for
// that flush only: the keeper does no further step of its fragment, and the
// movie atom is the next thing written.
TEST(MovieKeeper, TheWaitingSampleAndStopWaitForTheFlushInProgressOnly) {
  auto disk = std::make_shared<SlowDisk>();
  qt::MovieOptions options;
  options.creationTime = 0xC0FFEE00u;
  test::MovieParts p = test::makeMovie(disk, 2, 2, 1000, options);
  ASSERT_TRUE(disk->waitForFlushes(1));
  const uint32_t kSample = 64u << 20;
  Handle data = qt::NewHandle(int32_t(kSample));
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 2, 2);
  auto add = [&] { return qt::AddMediaSample(p.media, data, 0, kSample, 10, desc, 1, 0, nullptr); };
  // 31 samples fill the open mdat as far as it goes.
  for (int i = 0; i < 31; ++i) ASSERT_EQ(add(), noErr) << i;
  disk->hold();
  const int flushes = disk->flushesStarted();
  OSErr added = paramErr;
  {
    Background adding([&] { added = add(); });
    ASSERT_TRUE(disk->waitForFlushes(flushes + 1)) << "the keeper never wrote the fragment";
    EXPECT_TRUE(adding.waitDone(30)) << "the sample waited for the fragment's flush";
    disk->release();
  }
  EXPECT_EQ(added, noErr);
  ASSERT_TRUE(waitForCovered(p.media, 31));

  // A fragment on its way: the keeper is in its first flush, its patches
  // still to come, when Stop is pressed.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(add(), noErr);
  disk->hold();
  const int before = disk->flushesStarted();
  ASSERT_TRUE(disk->waitForFlushes(before + 1)) << "no fragment a second after the samples";
  const size_t stopAt = disk->log().size();
  OSErr finished = paramErr;
  {
    Background stopping([&] { finished = test::finishMovie(p); });
    EXPECT_FALSE(stopping.waitDone(1));
    disk->release();
  }
  EXPECT_EQ(finished, noErr);
  const std::vector<size_t> log = disk->log();
  ASSERT_GT(log.size(), stopAt);
  EXPECT_GT(log[stopAt], 16u) << "after the flush, the keeper wrote a patch instead of stopping";
  qt::DisposeMovie(p.movie);
  EXPECT_EQ(test::atomLayout(disk->bytes()), "ftyp wide mdat moov");
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

// A movie let go of without its movie atom (the file closed as it is):
// the keeper ends before the file closes, with the fragment it was taking
// to the disk revealed whole, and writes nothing after.
TEST(MovieKeeper, AFileClosedWithoutItsMovieAtomShowsEveryFragmentWritten) {
  auto disk = std::make_shared<SlowDisk>();
  qt::MovieOptions options;
  options.creationTime = 0xC0FFEE00u;
  test::MovieParts p = test::makeMovie(disk, 2, 2, 1000, options);
  ASSERT_TRUE(disk->waitForFlushes(1));
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 2, 2);
  Handle data = qt::NewHandle(12);
  for (int i = 0; i < 5; ++i) {
    std::memset(*data, i, 12);
    ASSERT_EQ(qt::AddMediaSample(p.media, data, 0, 12, 50, desc, 1, 0, nullptr), noErr);
  }
  disk->hold();
  ASSERT_TRUE(disk->waitForFlushes(2)) << "no fragment a second after the samples";
  {
    Background closing([&] { qt::StopMoviesIn(disk.get()); });
    EXPECT_FALSE(closing.waitDone(1));
    disk->release();
  }
  EXPECT_EQ(coveredNow(p.media), 5u) << "the first fragment was left half revealed";
  const size_t closedAt = disk->log().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(disk->log().size(), closedAt) << "the keeper went on writing into the closed file";
  const test::DemuxedMovie read = test::avDemux(disk->bytes());
  ASSERT_TRUE(read.opened) << read.error;
  EXPECT_EQ(read.packets.size(), 5u);
  qt::DisposeMovie(p.movie);

  // The same, the movie let go of while its file is still open.
  auto second = std::make_shared<SlowDisk>();
  test::MovieParts q = test::makeMovie(second, 2, 2, 1000, options);
  ASSERT_TRUE(second->waitForFlushes(1));
  for (int i = 0; i < 5; ++i) {
    std::memset(*data, i, 12);
    ASSERT_EQ(qt::AddMediaSample(q.media, data, 0, 12, 50, desc, 1, 0, nullptr), noErr);
  }
  second->hold();
  ASSERT_TRUE(second->waitForFlushes(2)) << "no fragment a second after the samples";
  {
    Background disposing([&] { qt::DisposeMovie(q.movie); });
    EXPECT_FALSE(disposing.waitDone(1));
    second->release();
  }
  const test::DemuxedMovie left = test::avDemux(second->bytes());
  ASSERT_TRUE(left.opened) << left.error;
  EXPECT_EQ(left.packets.size(), 5u) << "the first fragment was left half revealed";
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

// What readers say of an H.264 movie file: per packet, whether it is a key
// frame ("K" or "_"), and each decoded frame's MD5.
struct H264Reading {
  std::string keys;
  std::vector<std::string> frames;
};

H264Reading readH264(const std::string& path) {
  H264Reading r;
  // Without its parser, which would key IDRs from the bitstream whatever
  // the file says.
  const std::string flags = test::run(
      "ffprobe -v error -fflags +noparse+nofillin -select_streams v -show_entries packet=flags -of csv=p=0 " +
      path);
  for (const std::string& k : test::csvColumn(flags, 0)) r.keys += k == "K_" ? "K" : k == "__" ? "_" : "?";
  r.frames = test::csvColumn(test::run("ffmpeg -nostdin -v error -i " + path + " -f framemd5 -"), 5);
  return r;
}

// The same as GStreamer's qtdemux says it: "K" for a buffer without the
// delta-unit flag, "_" for one with it.
std::string gstreamerKeys(const std::string& path) {
  const std::string log = test::run("timeout 60 gst-launch-1.0 -v filesrc location=" + path +
                                    " ! qtdemux ! identity silent=false ! fakesink 2>&1");
  std::string keys;
  for (size_t at = log.find("chain "); at != std::string::npos; at = log.find("chain ", at + 1)) {
    const size_t flags = log.find("flags: ", at);
    const size_t end = log.find(')', flags);
    if (flags == std::string::npos || end == std::string::npos) break;
    keys += log.substr(flags, end - flags).find("delta-unit") == std::string::npos ? "K" : "_";
  }
  return keys;
}

// The duration (ms) of each frame VLC's mp4 reader takes from the file,
// played to its end, as its stream statistics list them. VLC refuses to
// run as root, so then it runs as nobody on a copy in a folder of its own.
std::vector<std::string> vlcDurations(const std::string& path) {
  char dir[] = "/tmp/skelby-vlc-XXXXXX";
  if (!mkdtemp(dir)) return {"no folder"};
  const std::string d = dir;
  const std::string as = geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup --clear-groups " : "";
  const std::string out = test::run(
      "chmod 777 " + d + " && cp " + path + " " + d + "/movie.mov && chmod 644 " + d + "/movie.mov && timeout 60 " +
      as + "cvlc --play-and-exit --intf dummy --vout dummy --aout dummy " + d + "/movie.mov --sout '#stats{output=" +
      d + "/stats.txt}' >" + d + "/vlc.log 2>&1; grep -v '^#' " + d + "/stats.txt | cut -f6 | sed 's/000$//'; rm -rf " +
      d);
  return test::csvColumn(out, 0);
}

// An H.264 recording with an IDR every 12 frames and a fragment about every
// ten: fragments that begin with a key frame, hold one in their middle, or
// hold none. The file as it stands after each fragment reached the disk, and
// cut in the middle of a sample's write after it, reads in ffprobe with key
// flags exactly on the IDRs of the samples it holds (at least those
// promised), and ffmpeg decodes the frames the raw stream gives; so does the
// finished file, with every sample.
TEST(MovieKeeper, FragmentsFlagTheKeyFramesOfH264AtEveryCut) {
  const test::H264Stream h = test::makeH264Stream("keeper-keys", 60, 12);
  ASSERT_EQ(h.samples.size(), 60u);
  std::string idrs;
  for (bool k : h.idr) idrs += k ? "K" : "_";
  const std::vector<std::string> rawFrames =
      test::csvColumn(test::run("ffmpeg -nostdin -v error -i " + h.rawPath + " -f framemd5 -"), 5);
  ASSERT_EQ(rawFrames.size(), 60u);

  auto sink = std::make_shared<test::JournalSink>();
  test::ManualClock clock;
  test::MovieParts p = test::makeMovie(sink, h.width, h.height, 1000, test::drivenOptions(clock));
  ImageDescriptionHandle desc = test::makeH264Description(h);
  std::vector<size_t> callEnds;
  std::vector<uint32_t> covered;
  std::vector<TimeValue> durations;
  for (size_t i = 0; i < h.samples.size(); ++i) {
    const TimeValue duration = TimeValue(90 + (i * 37) % 40);
    durations.push_back(duration);
    clock.advance(uint64_t(duration));
    Handle data = qt::NewHandle(int32_t(h.samples[i].size()));
    std::memcpy(*data, h.samples[i].data(), h.samples[i].size());
    ASSERT_EQ(qt::AddMediaSample(p.media, data, 0, uint32_t(h.samples[i].size()), duration, desc, 1,
                                 h.idr[i] ? int16_t(0) : int16_t(mediaSampleNotSync), nullptr),
              noErr)
        << i;
    qt::DisposeHandle(data);
    qt::CheckpointReport report;
    ASSERT_EQ(qt::GetCheckpointReport(p.media, &report), noErr);
    callEnds.push_back(sink->journal.size());
    covered.push_back(report.coveredSamples);
  }
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  ASSERT_EQ(test::finishMovie(p), noErr);
  qt::DisposeMovie(p.movie);

  // The file after `entries` calls of the journal and `partial` bytes of the next.
  const auto fileAt = [&](size_t entries, size_t partial) {
    test::JournalSink file;
    for (size_t e = 0; e < entries; ++e) {
      const auto& j = sink->journal[e];
      if (j.kind == test::JournalSink::Entry::kWrite) file.write(j.offset, j.bytes.data(), j.bytes.size());
      if (j.kind == test::JournalSink::Entry::kLength) file.setLength(j.offset);
    }
    if (partial > 0) file.write(sink->journal[entries].offset, sink->journal[entries].bytes.data(), partial);
    return file.bytes;
  };
  const auto check = [&](const std::vector<uint8_t>& bytes, uint32_t promised, const std::string& name) {
    const std::string path = test::saveFile(name + ".mov", bytes);
    const H264Reading r = readH264(path);
    ASSERT_GE(r.keys.size(), promised) << name;
    ASSERT_LE(r.keys.size(), idrs.size()) << name;
    EXPECT_EQ(r.keys, idrs.substr(0, r.keys.size())) << name;
    ASSERT_EQ(r.frames.size(), r.keys.size()) << name;
    EXPECT_TRUE(std::equal(r.frames.begin(), r.frames.end(), rawFrames.begin())) << name;
    EXPECT_EQ(gstreamerKeys(path), r.keys) << name;
    const std::vector<std::string> vlc = vlcDurations(path);
    ASSERT_EQ(vlc.size(), r.keys.size()) << name;
    for (size_t i = 0; i < vlc.size(); ++i) EXPECT_EQ(vlc[i], std::to_string(durations[i])) << name << " frame " << i;
  };
  int cuts = 0, midFragment = 0;
  std::string fragmentsSeen;
  for (size_t c = 1; c < callEnds.size(); ++c) {
    if (covered[c] == covered[c - 1]) continue;
    // Right after the fragment reached the disk, then half of the next
    // sample written.
    check(fileAt(callEnds[c], 0), covered[c], "keeper-keys-cut-" + std::to_string(c));
    fragmentsSeen += idrs.substr(covered[c - 1], covered[c] - covered[c - 1]) + " ";
    ++cuts;
    if (c + 1 < callEnds.size()) {
      size_t entry = callEnds[c];
      while (sink->journal[entry].kind != test::JournalSink::Entry::kWrite ||
             sink->journal[entry].bytes.size() < 64)
        ++entry;
      check(fileAt(entry, sink->journal[entry].bytes.size() / 2), covered[c],
            "keeper-keys-mid-" + std::to_string(c));
      ++midFragment;
    }
    if (HasFatalFailure()) return;
  }
  EXPECT_GE(cuts, 5);
  EXPECT_GE(midFragment, 4);
  // The fragments cover every kind of run: one without a key frame, one
  // that starts with one, and one with a key frame inside.
  EXPECT_NE(fragmentsSeen.find(" _________"), std::string::npos) << fragmentsSeen;
  EXPECT_NE(fragmentsSeen.find(" K_"), std::string::npos) << fragmentsSeen;
  EXPECT_NE(fragmentsSeen.find("_K_"), std::string::npos) << fragmentsSeen;
  check(sink->bytes, 60, "keeper-keys-finished");
  const H264Reading finished = readH264(test::outputPath("keeper-keys-finished.mov"));
  EXPECT_EQ(finished.keys, idrs);
}

}  // namespace
