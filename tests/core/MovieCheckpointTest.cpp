// A movie that is being recorded stays playable: the file as it stands at
// any moment, after a crash, a kill or a power cut, reads in libavformat as
// at least every sample up to its last checkpoint, decoded bit-exact; a disk
// that fails keeps every sample appended before the failure; and the
// checkpoints cost little however long the recording gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "AvDecode.h"
#include "AvDemux.h"
#include "CodecTestSupport.h"
#include "Handles.h"
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

// Records `frames` frames of a changing screen with durations that make a
// checkpoint every few frames, through the program's own calls, then
// finishes the movie.
Recording record(std::shared_ptr<test::JournalSink> sink, OSType codec, int frames) {
  Recording r;
  r.parts = test::makeMovie(sink, kWidth, kHeight);
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
void expectPlayable(const std::vector<uint8_t>& file, const Recording& r, uint32_t atLeast, OSType codec,
                    bool decode, const std::string& where) {
  if (atLeast == 0) return;  // nothing was promised yet
  const test::DemuxedMovie movie = test::avDemux(file);
  ASSERT_TRUE(movie.opened) << where << ": " << movie.error << "; layout " << test::atomLayout(file);
  ASSERT_EQ(movie.streams, 1u) << where;
  ASSERT_EQ(movie.timeBaseDen, 1000) << where;
  ASSERT_GE(movie.packets.size(), atLeast) << where << "; layout " << test::atomLayout(file);
  ASSERT_LE(movie.packets.size(), r.samples.size()) << where;
  int64_t pts = 0;
  for (size_t i = 0; i < movie.packets.size(); ++i) {
    const test::DemuxedPacket& p = movie.packets[i];
    ASSERT_TRUE(p.bytes == r.samples[i]) << where << ": packet " << i << " is not the sample appended";
    ASSERT_EQ(p.duration, r.durations[i]) << where << ": packet " << i;
    ASSERT_EQ(p.pts, pts) << where << ": packet " << i;
    pts += p.duration;
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

TEST(MovieCheckpoints, AFileCutAtAnyByteOfItsWritingPlaysUpToItsLastCheckpoint) {
  struct Case {
    OSType codec;
    uint64_t spread;      // cuts spread evenly over the bytes written
    int backgroundPolls;  // flushes that go on in the background that long
  };
  for (const Case c : {Case{kAnimationCodecType, 10000, 0}, Case{kAnimationCodecType, 2500, 3},
                       Case{kRawCodecType, 2500, 0}, Case{kPNGCodecType, 2500, 2}}) {
    auto sink = std::make_shared<test::JournalSink>();
    sink->backgroundPolls = c.backgroundPolls;
    const Recording r = record(sink, c.codec, 40);
    qt::CheckpointReport report;
    ASSERT_EQ(qt::GetCheckpointReport(r.parts.media, &report), noErr);
    EXPECT_GE(report.written, 6u) << "about 9 s of frames, a checkpoint a second";
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
      for (size_t partial = 0; partial <= n; ++partial) {
        const bool nearEdge = partial <= 8 || partial + 8 >= n;
        if (!nearEdge && (passed + partial) % step != 0) continue;
        std::vector<uint8_t> image = file.bytes;
        if (partial > 0) {
          const auto& e = sink->journal[entry];
          if (image.size() < e.offset + partial) image.resize(size_t(e.offset + partial));
          std::memcpy(image.data() + e.offset, e.bytes.data(), partial);
        }
        expectPlayable(
            image, r, promised, c.codec, cuts % 97 == 0,
            "cut after " + std::to_string(entry) + " calls and " + std::to_string(partial) + " bytes");
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
    expectPlayable(sink->bytes, r, 40, c.codec, true, "finished");
  }
}

TEST(MovieCheckpoints, APowerCutAfterAFlushLosesNothingThatWasPromisedBeforeIt) {
  for (const int backgroundPolls : {0, 3}) {
    auto sink = std::make_shared<test::JournalSink>();
    sink->backgroundPolls = backgroundPolls;
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
                       "power cut after " + std::to_string(cut) + " calls, trial " + std::to_string(trial));
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
  test::MovieParts p = test::makeMovie(sink, 4, 4);
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 4, 4);
  Handle data = qt::NewHandle(48);
  TimeValue carried = 0, clock = 0;
  for (int i = 0; i < frames; ++i) {
    if (i == frames / 2) arm();
    const TimeValue elapsed = 90 + (i * 37) % 60;
    clock += elapsed;
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

TEST(MovieCheckpoints, AWriteErrorAtAnyCallKeepsEveryFrameAppendedBeforeIt) {
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

TEST(MovieCheckpoints, ADiskThatFillsAtAnyByteKeepsEveryFrameAppendedBeforeIt) {
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

TEST(MovieCheckpoints, TheFinishedFileReadsAsOneWrittenWithoutCheckpoints) {
  auto with = std::make_shared<test::JournalSink>();
  const Recording r = record(with, kAnimationCodecType, 30);
  qt::DisposeMovie(r.parts.movie);
  // The same samples into a movie that never checkpoints.
  auto without = std::make_shared<test::MemorySink>();
  qt::MovieOptions options;
  options.checkpoints = false;
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
  EXPECT_EQ(test::atomLayout(with->bytes).substr(0, 15), "ftyp wide mdat ");

  // What ffprobe and mediainfo say of the two files, but for where the
  // samples lie and how large the file is.
  const std::string a = test::saveFile("checkpoints-with.mov", with->bytes);
  const std::string b = test::saveFile("checkpoints-without.mov", without->bytes);
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
          line.find("Overall bit rate") == std::string::npos)
        out += line.substr(0, line.find(" (")) + "\n";
      at = end + 1;
    }
    return out;
  };
  const std::string probeWith = strip(test::run(probe + a));
  EXPECT_NE(probeWith.find("codec_name=\"qtrle\""), std::string::npos) << probeWith;
  EXPECT_EQ(probeWith, strip(test::run(probe + b)));
  const std::string infoWith = test::run("mediainfo " + a);
  EXPECT_NE(infoWith.find("32 pixels"), std::string::npos) << infoWith;
  EXPECT_EQ(strip(infoWith), strip(test::run("mediainfo " + b)));
}

// Counts nothing, keeps nothing: an hour of samples costs no memory.
class NullSink : public qt::Sink {
 public:
  OSErr write(uint64_t, const void*, size_t) override { return noErr; }
  OSErr setLength(uint64_t) override { return noErr; }
  OSErr flush() override { return noErr; }
};

// An hour at 30 frames a second, with small samples (a still window) and
// larger ones: the checkpoints' atoms stay within their allowance and 1% of
// the media data, come every second at first, and keep coming after that,
// less often as each costs more.
TEST(MovieCheckpoints, AnHourOfFramesCostsAtMostOnePercent) {
  struct Case {
    uint32_t sampleSize;
    double coveredAtLeast;  // share of the frames the last checkpoint holds
  };
  for (const Case c : {Case{2000, 0.5}, Case{30000, 0.9}}) {
    auto sink = std::make_shared<NullSink>();
    test::MovieParts p = test::makeMovie(sink, 320, 240);
    Handle data = qt::NewHandle(int32_t(c.sampleSize));
    ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 320, 240);
    const int kFrames = 30 * 3600;
    uint32_t written = 0;
    for (int i = 0; i < kFrames; ++i) {
      ASSERT_EQ(qt::AddMediaSample(p.media, data, 0, c.sampleSize, 33 + (i % 3 == 0), desc, 1, 0, nullptr),
                noErr);
      if (i % 60 == 59) {
        qt::CheckpointReport report;
        ASSERT_EQ(qt::GetCheckpointReport(p.media, &report), noErr);
        if (i < 30 * 10) {
          EXPECT_GE(report.written, written + 2) << "two seconds up to frame " << i;
        }
        written = report.written;
      }
    }
    qt::CheckpointReport report;
    ASSERT_EQ(qt::GetCheckpointReport(p.media, &report), noErr);
    const double media = double(c.sampleSize) * kFrames;
    EXPECT_LE(double(report.overheadBytes), 64 * 1024 + media / 100) << c.sampleSize;
    EXPECT_GE(report.coveredSamples, uint32_t(kFrames * c.coveredAtLeast)) << c.sampleSize;
    ASSERT_EQ(test::finishMovie(p), noErr);
    qt::DisposeMovie(p.movie);
    qt::DisposeHandle(data);
    qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  }
}

}  // namespace
