// The bytes of finished movie files: atom tree, durations, sample tables and
// the 64-bit layout past 4 GiB.
#include "MovieFile.h"

#include <gtest/gtest.h>

#include <cstring>

#include "Handles.h"
#include "Movies.h"
#include "AvDemux.h"
#include "MovieH264Fixture.h"
#include "TestSupport.h"

namespace {

using test::be32At;
using test::be64At;
using test::findAtom;

// Adds `count` samples of `size` bytes (byte value = sample index) with the given durations.
void addSamples(test::MovieParts& p, const std::vector<TimeValue>& durations, uint32_t size) {
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 2, 2);
  Handle data = qt::NewHandle(int32_t(size));
  for (size_t i = 0; i < durations.size(); ++i) {
    std::memset(*data, int(0x40 + i), size);
    ASSERT_EQ(qt::AddMediaSample(p.media, data, 0, size, durations[i], desc, 1, 0, nullptr), noErr);
  }
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

std::vector<uint8_t> movieBytes(const std::vector<TimeValue>& durations) {
  auto sink = std::make_shared<test::MemorySink>();
  test::MovieParts p = test::makeMovie(sink, 2, 2);
  addSamples(p, durations, 12);
  EXPECT_EQ(test::finishMovie(p), noErr);
  qt::DisposeMovie(p.movie);
  return sink->bytes;
}

TEST(MovieFile, MediaDataFirstThenMovieAtom) {
  std::vector<uint8_t> f = movieBytes({100, 120, 95});
  ASSERT_GE(f.size(), 36u);
  EXPECT_EQ(std::memcmp(f.data() + 4, "ftyp", 4), 0);
  EXPECT_EQ(std::memcmp(f.data() + 8, "qt  ", 4), 0);
  EXPECT_EQ(be32At(f, 20), 8u);
  EXPECT_EQ(std::memcmp(f.data() + 24, "wide", 4), 0);
  // One mdat spans the samples and whatever kept the file readable while
  // they came; the movie atom is last.
  ASSERT_EQ(test::atomLayout(f), "ftyp wide mdat moov");
  const std::vector<test::TopAtom> atoms = test::topLevelAtoms(f);
  EXPECT_EQ(atoms[2].offset, 28u);
  EXPECT_EQ(atoms[3].offset + atoms[3].size, f.size()) << "nothing after the movie atom";

  test::AtomRef stco = findAtom(f, "moov/trak/mdia/minf/stbl/stco");
  ASSERT_TRUE(stco.found);
  ASSERT_EQ(be32At(f, stco.offset + 12), 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    uint32_t at = be32At(f, stco.offset + 16 + 4 * i);
    EXPECT_GE(at, 36u);
    EXPECT_LE(at + 12, atoms[3].offset);
    EXPECT_EQ(f[at], 0x40 + i) << "sample " << i << " lies where its offset says";
    if (i > 0) {
      EXPECT_EQ(at, be32At(f, stco.offset + 12 + 4 * i) + 12) << "samples follow each other";
    }
  }
}

TEST(MovieFile, WithoutFragmentsTheMediaDataIsOneMdatOfSamplesOnly) {
  auto sink = std::make_shared<test::MemorySink>();
  qt::MovieOptions options = test::stillOptions();
  options.fragments = false;
  test::MovieParts p = test::makeMovie(sink, 2, 2, 1000, options);
  addSamples(p, {100, 1200, 95, 2000}, 12);
  EXPECT_EQ(test::finishMovie(p), noErr);
  qt::DisposeMovie(p.movie);
  ASSERT_EQ(test::atomLayout(sink->bytes), "ftyp wide mdat moov");
  EXPECT_EQ(findAtom(sink->bytes, "mdat").size, 8u + 4 * 12);
}

TEST(MovieFile, DurationsAreKeptPerSampleAndAgreeAcrossHeaders) {
  std::vector<uint8_t> f = movieBytes({100, 120, 95, 95});
  test::AtomRef mvhd = findAtom(f, "moov/mvhd");
  ASSERT_TRUE(mvhd.found);
  EXPECT_EQ(be32At(f, mvhd.offset + 20), 1000u) << "movie time scale";
  EXPECT_EQ(be32At(f, mvhd.offset + 24), 410u) << "movie duration";
  EXPECT_EQ(be32At(f, mvhd.offset + 104), 2u) << "next track id";
  test::AtomRef tkhd = findAtom(f, "moov/trak/tkhd");
  ASSERT_TRUE(tkhd.found);
  EXPECT_EQ(be32At(f, tkhd.offset + 8) & 0xFFFFFF, 0xFu) << "flags";
  EXPECT_EQ(be32At(f, tkhd.offset + 20), 1u) << "track id";
  EXPECT_EQ(be32At(f, tkhd.offset + 28), 410u) << "track duration";
  EXPECT_EQ(be32At(f, tkhd.offset + 84), 2u << 16) << "width";
  EXPECT_EQ(be32At(f, tkhd.offset + 88), 2u << 16) << "height";
  test::AtomRef elst = findAtom(f, "moov/trak/edts/elst");
  ASSERT_TRUE(elst.found);
  EXPECT_EQ(be32At(f, elst.offset + 12), 1u);
  EXPECT_EQ(be32At(f, elst.offset + 16), 410u);
  EXPECT_EQ(be32At(f, elst.offset + 20), 0u);
  EXPECT_EQ(be32At(f, elst.offset + 24), 0x10000u);
  test::AtomRef mdhd = findAtom(f, "moov/trak/mdia/mdhd");
  ASSERT_TRUE(mdhd.found);
  EXPECT_EQ(be32At(f, mdhd.offset + 20), 1000u);
  EXPECT_EQ(be32At(f, mdhd.offset + 24), 410u);
  test::AtomRef stts = findAtom(f, "moov/trak/mdia/minf/stbl/stts");
  ASSERT_TRUE(stts.found);
  ASSERT_EQ(be32At(f, stts.offset + 12), 3u);
  const uint32_t expected[6] = {1, 100, 1, 120, 2, 95};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(be32At(f, stts.offset + 16 + 4 * i), expected[i]) << i;
  EXPECT_FALSE(findAtom(f, "moov/trak/mdia/minf/stbl/stss").found) << "all samples are sync";
  EXPECT_FALSE(findAtom(f, "moov/trak/mdia/minf/stbl/co64").found);
}

TEST(MovieFile, SampleDescriptionIsTheImageDescriptionBigEndian) {
  std::vector<uint8_t> f = movieBytes({40});
  test::AtomRef stsd = findAtom(f, "moov/trak/mdia/minf/stbl/stsd");
  ASSERT_TRUE(stsd.found);
  size_t e = stsd.offset + 16;
  EXPECT_EQ(be32At(f, stsd.offset + 12), 1u) << "one description";
  EXPECT_EQ(be32At(f, e), 86u);
  EXPECT_EQ(std::memcmp(f.data() + e + 4, "raw ", 4), 0);
  EXPECT_EQ(f[e + 15], 1) << "data reference index";
  EXPECT_EQ(std::memcmp(f.data() + e + 20, "test", 4), 0) << "vendor";
  EXPECT_EQ(be32At(f, e + 28), uint32_t(codecNormalQuality));
  EXPECT_EQ(be32At(f, e + 32), 0x00020002u) << "width, height";
  EXPECT_EQ(be32At(f, e + 36), 0x00480000u);
  EXPECT_EQ(f[e + 50], 4);
  EXPECT_EQ(std::memcmp(f.data() + e + 51, "Test", 4), 0);
  EXPECT_EQ(be32At(f, e + 82), 0x0018FFFFu) << "depth 24, no colour table";
  test::AtomRef dref = findAtom(f, "moov/trak/mdia/minf/dinf/dref");
  ASSERT_TRUE(dref.found);
  EXPECT_EQ(be32At(f, dref.offset + 16), 12u);
  EXPECT_EQ(std::memcmp(f.data() + dref.offset + 20, "alis", 4), 0);
  EXPECT_EQ(be32At(f, dref.offset + 24), 1u) << "self reference";
}

TEST(MovieFile, SameInputGivesSameBytes) {
  EXPECT_EQ(movieBytes({100, 120, 95}), movieBytes({100, 120, 95}));
  EXPECT_NE(movieBytes({100, 120, 95}), movieBytes({100, 120, 96}));
}

TEST(MovieFile, MediaScaleOtherThanMillisecondsIsConvertedForTheMovie) {
  auto sink = std::make_shared<test::MemorySink>();
  test::MovieParts p = test::makeMovie(sink, 2, 2, 600);
  addSamples(p, {20, 20, 21}, 12);  // 61/600 s
  ASSERT_EQ(test::finishMovie(p), noErr);
  qt::DisposeMovie(p.movie);
  const std::vector<uint8_t>& f = sink->bytes;
  EXPECT_EQ(be32At(f, findAtom(f, "moov/trak/mdia/mdhd").offset + 24), 61u);
  EXPECT_EQ(be32At(f, findAtom(f, "moov/mvhd").offset + 24), 102u) << "61/600 s rounded to ms";
  EXPECT_EQ(be32At(f, findAtom(f, "moov/trak/tkhd").offset + 28), 102u);
}

// 66 samples of 64 MiB: 4.125 GiB of media data into a sink that keeps only
// the small writes (headers, fragments, movie atoms). With `secondApart`
// each sample gets a fragment of its own; without, the keeper's clock stands
// still and only the open mdat's size closes fragments, every 2 GiB.
std::shared_ptr<test::CountingSink> largeMovie(bool fragments, bool secondApart = true) {
  auto sink = std::make_shared<test::CountingSink>();
  test::ManualClock clock;
  qt::MovieOptions options = test::drivenOptions(clock);
  options.fragments = fragments;
  test::MovieParts p = test::makeMovie(sink, 2, 2, 1000, options);
  EXPECT_NE(p.media, nullptr);
  const uint32_t kSample = 64u << 20;
  Handle data = qt::NewHandle(int32_t(kSample));
  EXPECT_NE(data, nullptr);
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 2, 2);
  for (int i = 0; i < 66; ++i) {
    if (secondApart) clock.advance(1000);
    EXPECT_EQ(qt::AddMediaSample(p.media, data, 0, kSample, 33, desc, 1, 0, nullptr), noErr) << i;
  }
  qt::CheckpointReport report;
  EXPECT_EQ(qt::GetCheckpointReport(p.media, &report), noErr);
  if (fragments && !secondApart) {
    // 31 samples fit under 2 GiB: closed before the 32nd and the 63rd.
    EXPECT_EQ(report.written, 2u);
    EXPECT_EQ(report.coveredSamples, 62u);
  }
  EXPECT_EQ(test::finishMovie(p), noErr);
  qt::DisposeMovie(p.movie);
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  return sink;
}

// The chunk offsets of the finished movie, whose atom is the last thing written.
std::vector<uint64_t> chunkOffsets(test::CountingSink& sink, std::vector<uint8_t>* moovOut) {
  const uint64_t moovSize = be32At(sink.read(sink.lastMovieAtom, 4), 0);
  std::vector<uint8_t> moov = sink.read(sink.lastMovieAtom, size_t(moovSize));
  test::AtomRef co64 = findAtom(moov, "moov/trak/mdia/minf/stbl/co64");
  std::vector<uint64_t> offsets;
  if (co64.found)
    for (uint32_t i = 0; i < be32At(moov, co64.offset + 12); ++i)
      offsets.push_back(be64At(moov, co64.offset + 16 + 8 * size_t(i)));
  if (moovOut) *moovOut = moov;
  return offsets;
}

// Past 4 GiB the finished file is "ftyp mdat moov": the 'wide' atom and
// the first mdat header became one 64-bit header spanning every sample.
TEST(MovieFile, PastFourGiBOffsetsAre64BitAndTheMdatSizeIs64Bit) {
  for (const int run : {0, 1, 2}) {
    const bool fragments = run < 2;
    std::shared_ptr<test::CountingSink> sink = largeMovie(fragments, run == 0);
    std::vector<uint8_t> moov;
    const std::vector<uint64_t> offsets = chunkOffsets(*sink, &moov);
    ASSERT_EQ(offsets.size(), 66u) << fragments;
    EXPECT_FALSE(findAtom(moov, "moov/trak/mdia/minf/stbl/stco").found);
    EXPECT_FALSE(findAtom(moov, "moov/mvex").found);
    EXPECT_EQ(be32At(moov, findAtom(moov, "moov/mvhd").offset + 24), 33u * 66);
    EXPECT_EQ(sink->length, sink->lastMovieAtom + moov.size());
    const std::vector<uint8_t> header = sink->read(20, 16);
    EXPECT_EQ(be32At(header, 0), 1u) << "size 1: 64-bit size follows";
    EXPECT_EQ(std::memcmp(header.data() + 4, "mdat", 4), 0);
    EXPECT_EQ(be64At(header, 8), sink->lastMovieAtom - 20) << "movie atom right after the media data";
    for (int i = 0; i < 66; ++i) {
      ASSERT_GE(offsets[size_t(i)], 36u);
      if (i > 0) {
        ASSERT_GE(offsets[size_t(i)], offsets[size_t(i) - 1] + (64u << 20)) << i;
      }
    }
    ASSERT_LE(offsets.back() + (64u << 20), sink->lastMovieAtom);
    if (!fragments) {
      for (int i = 0; i < 66; ++i) {
        ASSERT_EQ(offsets[size_t(i)], 36 + (uint64_t(64) << 20) * uint64_t(i));
      }
    }
  }
}

TEST(MovieFile, FailedMovieAtomLeavesTheLastFragmentAndCanBeRetried) {
  auto sink = std::make_shared<test::FailingSink>();
  test::ManualClock clock;
  test::MovieParts p = test::makeMovie(sink, 2, 2, 1000, test::drivenOptions(clock));
  addSamples(p, {100}, 12);
  clock.advance(1000);  // the first sample's fragment is due before the second
  addSamples(p, {100}, 12);
  sink->limit = sink->bytes.size() + 40;  // the disk fills up inside the movie atom
  ASSERT_EQ(qt::EndMediaEdits(p.media), noErr);
  ASSERT_EQ(qt::InsertMediaIntoTrack(p.track, 0, 0, 200, 0x10000), noErr);
  EXPECT_EQ(qt::AddMovieResource(p.movie, sink.get(), movieInDataForkResID, nullptr), dskFulErr);
  EXPECT_EQ(qt::GetMoviesError(), dskFulErr);
  // Meanwhile the file plays up to its last fragment, and takes no sample.
  test::DemuxedMovie read = test::avDemux(sink->bytes);
  ASSERT_TRUE(read.opened) << read.error;
  EXPECT_EQ(read.packets.size(), 1u);
  sink->limit = UINT64_MAX;
  ASSERT_EQ(qt::AddMovieResource(p.movie, sink.get(), movieInDataForkResID, nullptr), noErr);
  qt::DisposeMovie(p.movie);
  EXPECT_EQ(test::atomLayout(sink->bytes), "ftyp wide mdat moov");
  read = test::avDemux(sink->bytes);
  ASSERT_TRUE(read.opened) << read.error;
  ASSERT_EQ(read.packets.size(), 2u);
  EXPECT_EQ(read.packets[1].duration, 100);
  EXPECT_EQ(read.packets[1].bytes, std::vector<uint8_t>(12, 0x40));
}

// Each decoded frame's MD5 (ffmpeg's framemd5), in order.
std::vector<std::string> frameHashes(const std::string& path) {
  return test::csvColumn(test::run("ffmpeg -nostdin -v error -i " + path + " -f framemd5 -"), 5);
}

// An H.264 movie with an IDR every 12 frames, each sample with its own
// duration: the finished file lists exactly the IDRs in stss (between stts
// and stsc), ffprobe keys exactly those packets and keeps every duration,
// and ffmpeg decodes the frames the raw stream gives. With every sample a
// key frame the same samples give no stss.
TEST(MovieFile, KeyFramesOfH264AreListedInStssAndDecodeAsTheRawStream) {
  const test::H264Stream h = test::makeH264Stream("movie-file-keys", 40, 12);
  ASSERT_EQ(h.samples.size(), 40u);
  std::string idrs;
  for (size_t i = 0; i < h.idr.size(); ++i) idrs += h.idr[i] ? "K" : "_";
  ASSERT_EQ(idrs, "K___________K___________K___________K___");
  const std::vector<std::string> rawFrames = frameHashes(h.rawPath);
  ASSERT_EQ(rawFrames.size(), 40u);

  for (const bool marked : {true, false}) {
    auto sink = std::make_shared<test::MemorySink>();
    test::MovieParts p = test::makeMovie(sink, h.width, h.height);
    ImageDescriptionHandle desc = test::makeH264Description(h);
    std::vector<TimeValue> durations;
    for (size_t i = 0; i < h.samples.size(); ++i) {
      const std::vector<uint8_t>& sample = h.samples[i];
      Handle data = qt::NewHandle(int32_t(sample.size()));
      std::memcpy(*data, sample.data(), sample.size());
      durations.push_back(TimeValue(90 + (i * 37) % 40));
      const int16_t flags = marked && !h.idr[i] ? int16_t(mediaSampleNotSync) : int16_t(0);
      ASSERT_EQ(qt::AddMediaSample(p.media, data, 0, uint32_t(sample.size()), durations.back(), desc, 1,
                                   flags, nullptr),
                noErr)
          << i;
      qt::DisposeHandle(data);
    }
    qt::DisposeHandle(reinterpret_cast<Handle>(desc));
    ASSERT_EQ(test::finishMovie(p), noErr);
    qt::DisposeMovie(p.movie);
    const std::vector<uint8_t>& f = sink->bytes;
    ASSERT_EQ(test::atomLayout(f), "ftyp wide mdat moov");

    const test::AtomRef stss = findAtom(f, "moov/trak/mdia/minf/stbl/stss");
    if (!marked) {
      EXPECT_FALSE(stss.found) << "every sample is a key frame";
      continue;
    }
    ASSERT_TRUE(stss.found);
    ASSERT_EQ(stss.size, 16u + 4 * 4);
    EXPECT_EQ(be32At(f, stss.offset + 8), 0u) << "version and flags";
    EXPECT_EQ(be32At(f, stss.offset + 12), 4u) << "number of entries";
    const uint32_t numbers[4] = {1, 13, 25, 37};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(be32At(f, stss.offset + 16 + 4 * i), numbers[i]) << i;
    EXPECT_EQ(findAtom(f, "moov/trak/mdia/minf/stbl/stts").offset + findAtom(f, "moov/trak/mdia/minf/stbl/stts").size,
              stss.offset);
    EXPECT_EQ(stss.offset + stss.size, findAtom(f, "moov/trak/mdia/minf/stbl/stsc").offset);

    const std::string path = test::saveFile("movie-file-keys.mov", f);
    // ffprobe without its parser, which would key IDRs from the bitstream
    // whatever the file says.
    const std::string packets = test::run("ffprobe -v error -fflags +noparse+nofillin -select_streams v "
                                          "-show_entries packet=duration,flags -of csv=p=0 " + path);
    const std::vector<std::string> packetDurations = test::csvColumn(packets, 0);
    const std::vector<std::string> keys = test::csvColumn(packets, 1);
    std::string keyed;
    for (const std::string& k : keys) keyed += k == "K_" ? "K" : k == "__" ? "_" : "?";
    EXPECT_EQ(keyed, idrs) << packets;
    ASSERT_EQ(packetDurations.size(), durations.size());
    for (size_t i = 0; i < durations.size(); ++i)
      EXPECT_EQ(packetDurations[i], std::to_string(durations[i])) << "packet " << i;
    EXPECT_EQ(test::run("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + path), "h264\n");
    EXPECT_EQ(frameHashes(path), rawFrames);
  }
}

}  // namespace
