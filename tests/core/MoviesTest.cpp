// The movie operations: their results, their checks, and the files they
// leave, as ffprobe, ffmpeg and mediainfo read them.
#include "Movies.h"

#include <gtest/gtest.h>

#include <cstring>

#include "Handles.h"
#include "TestSupport.h"

namespace {

// A 2 x 2 'raw ' frame made by hand: rows of R, G, B, six bytes each.
Handle rawFrame(uint8_t shade) {
  Handle h = qt::NewHandle(12);
  for (int i = 0; i < 12; ++i) (*h)[i] = char(shade + i);
  return h;
}

struct MovieTest : ::testing::Test {
  void SetUp() override {
    sink = std::make_shared<test::MemorySink>();
    parts = test::makeMovie(sink, 2, 2);
    ASSERT_NE(parts.media, nullptr);
    desc = test::makeDescription(kRawCodecType, 2, 2);
    frame = rawFrame(10);
  }
  void TearDown() override {
    if (parts.movie) qt::DisposeMovie(parts.movie);
    qt::DisposeHandle(frame);
    qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  }
  OSErr add(TimeValue duration) {
    return qt::AddMediaSample(parts.media, frame, 0, 12, duration, desc, 1, 0, nullptr);
  }
  std::string finishAndSave(const std::string& name) {
    EXPECT_EQ(test::finishMovie(parts), noErr);
    return test::saveFile(name, sink->bytes);
  }
  std::shared_ptr<test::MemorySink> sink;
  test::MovieParts parts;
  ImageDescriptionHandle desc = nullptr;
  Handle frame = nullptr;
};

TEST_F(MovieTest, DurationsOf100And120And95Last315) {
  TimeValue when = -1;
  ASSERT_EQ(add(100), noErr);
  ASSERT_EQ(qt::AddMediaSample(parts.media, frame, 0, 12, 120, desc, 1, 0, &when), noErr);
  EXPECT_EQ(when, 100);
  ASSERT_EQ(add(95), noErr);
  EXPECT_EQ(qt::GetMediaDuration(parts.media), 315);
  std::string path = finishAndSave("durations.mov");
  EXPECT_EQ(qt::GetMovieDuration(parts.movie), 315);
  EXPECT_EQ(qt::GetMovieTimeScale(parts.movie), 1000);

  std::string stream = test::run(
      "ffprobe -v error -select_streams v:0 -show_entries "
      "stream=codec_name,codec_tag_string,width,height,time_base,nb_frames "
      "-show_entries format=duration -of default=nw=1 " +
      path);
  EXPECT_NE(stream.find("codec_name=rawvideo"), std::string::npos) << stream;
  EXPECT_NE(stream.find("codec_tag_string=raw"), std::string::npos) << stream;
  EXPECT_NE(stream.find("width=2\nheight=2"), std::string::npos) << stream;
  EXPECT_NE(stream.find("time_base=1/1000"), std::string::npos) << stream;
  EXPECT_NE(stream.find("nb_frames=3"), std::string::npos) << stream;
  EXPECT_NE(stream.find("duration=0.315"), std::string::npos) << stream;
  std::string packets = test::run(
      "ffprobe -v error -select_streams v:0 -show_entries "
      "packet=pts,duration -of csv=p=0 " +
      path);
  EXPECT_EQ(packets, "0,100\n100,120\n220,95\n");
  std::string info = test::run("mediainfo --Inform='Video;%Width%x%Height% %FrameCount% %Duration%' " + path);
  EXPECT_EQ(info, "2x2 3 315\n");
}

TEST_F(MovieTest, FfmpegDecodesTheSamplesAsWritten) {
  ASSERT_EQ(add(50), noErr);
  std::memset(*frame, 0x7F, 12);
  ASSERT_EQ(add(50), noErr);
  std::string path = finishAndSave("decode.mov");
  std::string rgb =
      test::run("ffmpeg -v error -i " + path + " -vsync passthrough -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), 24u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(uint8_t(rgb[size_t(i)]), 10 + i) << i;
  for (int i = 12; i < 24; ++i) EXPECT_EQ(uint8_t(rgb[size_t(i)]), 0x7F) << i;
}

TEST_F(MovieTest, MovieWithoutSamplesIsValidAndLastsZero) {
  ASSERT_EQ(qt::GetMediaDuration(parts.media), 0);
  std::string path = finishAndSave("empty.mov");
  std::string out = test::run(
      "ffprobe -v error -count_packets -show_entries "
      "stream=codec_type,width,height,nb_read_packets "
      "-show_entries format=duration -of default=nw=1 " +
      path + " 2>&1; echo rc=$?");
  EXPECT_NE(out.find("codec_type=video"), std::string::npos) << out;
  EXPECT_NE(out.find("width=2"), std::string::npos) << out;
  EXPECT_NE(out.find("nb_read_packets=N/A"), std::string::npos) << out;  // ffprobe's word for none
  EXPECT_EQ(test::run("ffprobe -v error -show_entries packet=pts -of csv=p=0 " + path + " 2>&1"), "");
  EXPECT_NE(out.find("rc=0"), std::string::npos) << out;
  EXPECT_NE(out.find("duration=0.000000"), std::string::npos) << out;
  EXPECT_EQ(qt::GetMovieDuration(parts.movie), 0);
}

TEST_F(MovieTest, SampleIsWrittenToTheSinkAtOnce) {
  size_t before = sink->bytes.size();
  ASSERT_EQ(add(10), noErr);
  ASSERT_EQ(sink->bytes.size(), before + 12);
  EXPECT_EQ(std::memcmp(sink->bytes.data() + before, *frame, 12), 0);
  qt::SetHandleSize(frame, 20);
  (*frame)[19] = 99;
  ASSERT_EQ(qt::AddMediaSample(parts.media, frame, 19, 1, 10, desc, 1, 0, nullptr), noErr);
  EXPECT_EQ(sink->bytes.back(), 99) << "data taken from the offset";
}

TEST_F(MovieTest, BadSampleArgumentsAreRefusedAndAddNothing) {
  size_t before = sink->bytes.size();
  EXPECT_EQ(qt::AddMediaSample(nullptr, frame, 0, 12, 10, desc, 1, 0, nullptr), invalidMedia);
  EXPECT_EQ(qt::GetMoviesError(), invalidMedia);
  EXPECT_EQ(qt::AddMediaSample(parts.media, nullptr, 0, 12, 10, desc, 1, 0, nullptr), nilHandleErr);
  EXPECT_EQ(qt::AddMediaSample(parts.media, frame, 0, 13, 10, desc, 1, 0, nullptr), paramErr)
      << "more bytes than the handle holds";
  EXPECT_EQ(qt::AddMediaSample(parts.media, frame, 1, 12, 10, desc, 1, 0, nullptr), paramErr);
  EXPECT_EQ(qt::AddMediaSample(parts.media, frame, -1, 4, 10, desc, 1, 0, nullptr), paramErr);
  EXPECT_EQ(qt::AddMediaSample(parts.media, frame, 0, 0, 10, desc, 1, 0, nullptr), paramErr);
  EXPECT_EQ(add(0), invalidDuration);
  EXPECT_EQ(add(-5), invalidDuration);
  EXPECT_EQ(qt::AddMediaSample(parts.media, frame, 0, 12, 10, desc, 2, 0, nullptr), paramErr);
  EXPECT_EQ(qt::AddMediaSample(parts.media, frame, 0, 12, 10, desc, 1, mediaSampleNotSync, nullptr), paramErr)
      << "the first sample must be a key frame";
  for (const int16_t flags : {2, 3, -1, 0x100})
    EXPECT_EQ(qt::AddMediaSample(parts.media, frame, 0, 12, 10, desc, 1, flags, nullptr), paramErr) << flags;
  EXPECT_EQ(qt::AddMediaSample(parts.media, frame, 0, 12, 10, nullptr, 1, 0, nullptr), nilHandleErr);

  Handle small = qt::NewHandle(4);  // what the writer starts with before any compression
  EXPECT_EQ(qt::AddMediaSample(parts.media, frame, 0, 12, 10, reinterpret_cast<ImageDescriptionHandle>(small),
                               1, 0, nullptr),
            badImageDescription);
  qt::DisposeHandle(small);
  (*desc)->idSize = 200;  // claims more than its handle holds
  EXPECT_EQ(add(10), badImageDescription);
  (*desc)->idSize = 86;
  (*desc)->width = 0;
  EXPECT_EQ(add(10), badImageDescription);
  (*desc)->width = 2;

  EXPECT_EQ(sink->bytes.size(), before) << "nothing written";
  EXPECT_EQ(qt::GetMediaDuration(parts.media), 0);
}

// After a key frame, samples that are not one are taken; other flags never
// are; the media's tables grow by nothing per sample for them.
TEST_F(MovieTest, SamplesAfterTheFirstMayBeNonSyncAndOtherFlagsAreRefused) {
  ASSERT_EQ(add(10), noErr);
  const size_t tableBytes = qt::MediaTableBytes(parts.media);
  const auto addFlagged = [&](int16_t flags) {
    return qt::AddMediaSample(parts.media, frame, 0, 12, 10, desc, 1, flags, nullptr);
  };
  EXPECT_EQ(addFlagged(mediaSampleNotSync), noErr);
  EXPECT_EQ(addFlagged(mediaSampleNotSync), noErr);
  EXPECT_EQ(addFlagged(0), noErr);
  EXPECT_EQ(addFlagged(mediaSampleNotSync), noErr);
  const size_t before = sink->bytes.size();
  for (const int16_t flags : {2, 3, -1, 0x100}) EXPECT_EQ(addFlagged(flags), paramErr) << flags;
  EXPECT_EQ(qt::GetMoviesError(), paramErr);
  EXPECT_EQ(sink->bytes.size(), before) << "nothing written";
  EXPECT_EQ(qt::GetMediaDuration(parts.media), 50);
  EXPECT_GT(qt::MediaTableBytes(parts.media), tableBytes) << "the sync samples are counted";
  finishAndSave("non-sync.mov");
  // (ffprobe keys every packet of an intra-only codec whatever the file
  // says, so the list itself is read here.)
  const test::AtomRef stss = test::findAtom(sink->bytes, "moov/trak/mdia/minf/stbl/stss");
  ASSERT_TRUE(stss.found);
  ASSERT_EQ(stss.size, 16u + 2 * 4);
  EXPECT_EQ(test::be32At(sink->bytes, stss.offset + 12), 2u) << "number of entries";
  EXPECT_EQ(test::be32At(sink->bytes, stss.offset + 16), 1u);
  EXPECT_EQ(test::be32At(sink->bytes, stss.offset + 20), 4u);
}

TEST_F(MovieTest, LaterSamplesMustMatchTheFirstDescription) {
  ASSERT_EQ(add(10), noErr);
  (*desc)->spatialQuality = codecHighQuality;
  (*desc)->dataSize = 12;
  EXPECT_EQ(add(10), noErr) << "quality and size may change per frame";
  (*desc)->cType = kAnimationCodecType;
  EXPECT_EQ(add(10), invalidSampleDescription);
  (*desc)->cType = kRawCodecType;
  (*desc)->width = 4;
  EXPECT_EQ(add(10), invalidSampleDescription);
  EXPECT_EQ(qt::GetMediaDuration(parts.media), 20);
}

TEST_F(MovieTest, SamplesNeedMediaEdits) {
  ASSERT_EQ(qt::EndMediaEdits(parts.media), noErr);
  EXPECT_EQ(add(10), invalidEditState);
  EXPECT_EQ(qt::EndMediaEdits(parts.media), invalidEditState);
  ASSERT_EQ(qt::BeginMediaEdits(parts.media), noErr);
  EXPECT_EQ(add(10), noErr);
}

TEST_F(MovieTest, FailingWriteAddsNoSampleAndTheFileStaysValid) {
  auto failing = std::make_shared<test::FailingSink>();
  test::MovieParts p = test::makeMovie(failing, 2, 2);
  ASSERT_NE(p.media, nullptr);
  ASSERT_EQ(qt::AddMediaSample(p.media, frame, 0, 12, 100, desc, 1, 0, nullptr), noErr);
  failing->limit = failing->bytes.size() + 5;  // disk full in the middle of the next sample
  EXPECT_EQ(qt::AddMediaSample(p.media, frame, 0, 12, 100, desc, 1, 0, nullptr), dskFulErr);
  EXPECT_EQ(qt::GetMoviesError(), dskFulErr);
  EXPECT_EQ(qt::GetMediaDuration(p.media), 100);
  failing->limit = UINT64_MAX;  // space freed
  std::memset(*frame, 0x33, 12);
  ASSERT_EQ(qt::AddMediaSample(p.media, frame, 0, 12, 70, desc, 1, 0, nullptr), noErr);
  ASSERT_EQ(test::finishMovie(p), noErr);
  qt::DisposeMovie(p.movie);
  std::string path = test::saveFile("diskfull.mov", failing->bytes);
  EXPECT_EQ(test::run("ffprobe -v error -select_streams v:0 -show_entries packet=pts,duration "
                      "-of csv=p=0 " +
                      path),
            "0,100\n100,70\n");
  std::string rgb =
      test::run("ffmpeg -v error -i " + path + " -vsync passthrough -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), 24u);
  EXPECT_EQ(uint8_t(rgb[12]), 0x33) << "the retried sample replaced the torn one";
}

TEST(Movies, CreateFailsCleanlyWhenTheHeaderCannotBeWritten) {
  auto sink = std::make_shared<test::FailingSink>();
  sink->failAll = true;
  sink->error = wrPermErr;
  Movie m = reinterpret_cast<Movie>(1);
  EXPECT_EQ(qt::CreateMovieInSink(sink, test::stillOptions(), &m), wrPermErr);
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(qt::GetMoviesError(), wrPermErr);
  EXPECT_EQ(qt::CreateMovieInSink(nullptr, test::stillOptions(), &m), paramErr);
  EXPECT_EQ(qt::CreateMovieInSink(sink, test::stillOptions(), nullptr), paramErr);
}

TEST(Movies, TrackAndMediaArgumentsAreChecked) {
  auto sink = std::make_shared<test::MemorySink>();
  Movie movie = nullptr;
  ASSERT_EQ(qt::CreateMovieInSink(sink, test::stillOptions(), &movie), noErr);
  Track track = nullptr;
  EXPECT_EQ(qt::NewMovieTrack(nullptr, 1 << 16, 1 << 16, 0, &track), invalidMovie);
  EXPECT_EQ(qt::NewMovieTrack(movie, -1, 1 << 16, 0, &track), paramErr);
  EXPECT_EQ(qt::NewMovieTrack(movie, 1 << 16, 1 << 16, 0, nullptr), paramErr);
  ASSERT_EQ(qt::NewMovieTrack(movie, 320 << 16, 240 << 16, 0, &track), noErr);
  Media media = nullptr;
  EXPECT_EQ(qt::NewTrackMedia(nullptr, VideoMediaType, 1000, nullptr, 0, &media), invalidTrack);
  EXPECT_EQ(qt::NewTrackMedia(track, fourCC("soun"), 1000, nullptr, 0, &media), noMediaHandler);
  EXPECT_EQ(qt::NewTrackMedia(track, VideoMediaType, 0, nullptr, 0, &media), paramErr);
  Handle ref = qt::NewHandle(4);
  EXPECT_EQ(qt::NewTrackMedia(track, VideoMediaType, 1000, ref, fourCC("alis"), &media), invalidDataRef);
  qt::DisposeHandle(ref);
  EXPECT_EQ(media, nullptr);
  ASSERT_EQ(qt::NewTrackMedia(track, VideoMediaType, 1000, nullptr, 0, &media), noErr);
  EXPECT_EQ(qt::NewTrackMedia(track, VideoMediaType, 1000, nullptr, 0, &media), paramErr)
      << "one media per track";
  EXPECT_EQ(qt::BeginMediaEdits(nullptr), invalidMedia);
  EXPECT_EQ(qt::GetMediaDuration(nullptr), 0);
  EXPECT_EQ(qt::GetMoviesError(), invalidMedia);
  EXPECT_EQ(qt::DisposeMovie(movie), noErr);
}

TEST(Movies, InsertMediaIntoTrackTakesTheWholeMediaOnly) {
  auto sink = std::make_shared<test::MemorySink>();
  test::MovieParts p = test::makeMovie(sink, 2, 2);
  EXPECT_EQ(qt::InsertMediaIntoTrack(p.track, 0, 0, 0, 0x10000), noErr) << "nothing to insert";
  Handle data = rawFrame(1);
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 2, 2);
  ASSERT_EQ(qt::AddMediaSample(p.media, data, 0, 12, 80, desc, 1, 0, nullptr), noErr);
  EXPECT_EQ(qt::InsertMediaIntoTrack(nullptr, 0, 0, 80, 0x10000), invalidTrack);
  EXPECT_EQ(qt::InsertMediaIntoTrack(p.track, 10, 0, 80, 0x10000), paramErr);
  EXPECT_EQ(qt::InsertMediaIntoTrack(p.track, 0, 10, 70, 0x10000), paramErr);
  EXPECT_EQ(qt::InsertMediaIntoTrack(p.track, 0, 0, 80, 0x20000), paramErr);
  EXPECT_EQ(qt::InsertMediaIntoTrack(p.track, 0, 0, 81, 0x10000), invalidDuration);
  EXPECT_EQ(qt::InsertMediaIntoTrack(p.track, 0, 0, 80, 0x10000), noErr);
  EXPECT_EQ(qt::InsertMediaIntoTrack(p.track, 0, 0, 80, 0x10000), badEditList);
  qt::DisposeMovie(p.movie);
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST(Movies, MovieResourceOnlyInTheDataForkOfItsOwnFileAndOnlyOnce) {
  auto sink = std::make_shared<test::MemorySink>();
  test::MemorySink other;
  test::MovieParts p = test::makeMovie(sink, 2, 2);
  EXPECT_EQ(qt::AddMovieResource(nullptr, sink.get(), movieInDataForkResID, nullptr), invalidMovie);
  EXPECT_EQ(qt::AddMovieResource(p.movie, &other, movieInDataForkResID, nullptr), paramErr);
  EXPECT_EQ(qt::AddMovieResource(p.movie, nullptr, movieInDataForkResID, nullptr), paramErr);
  EXPECT_EQ(qt::AddMovieResource(p.movie, sink.get(), 128, nullptr), paramErr);
  EXPECT_EQ(other.writes, 0);
  ASSERT_EQ(qt::AddMovieResource(p.movie, sink.get(), movieInDataForkResID, nullptr), noErr);
  std::vector<uint8_t> written = sink->bytes;
  EXPECT_EQ(qt::AddMovieResource(p.movie, sink.get(), movieInDataForkResID, nullptr), dataNotOpenForWrite);
  Handle data = rawFrame(1);
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 2, 2);
  EXPECT_EQ(qt::AddMediaSample(p.media, data, 0, 12, 10, desc, 1, 0, nullptr), dataNotOpenForWrite);
  Track t2 = nullptr;
  EXPECT_EQ(qt::NewMovieTrack(p.movie, 1 << 16, 1 << 16, 0, &t2), dataNotOpenForWrite);
  EXPECT_EQ(sink->bytes, written) << "a finished file is not touched again";
  qt::DisposeMovie(p.movie);
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST(Movies, DisposedReferencesAreRefusedNotDereferenced) {
  auto sink = std::make_shared<test::MemorySink>();
  test::MovieParts p = test::makeMovie(sink, 2, 2);
  ASSERT_EQ(qt::DisposeMovie(p.movie), noErr);
  EXPECT_EQ(qt::DisposeMovie(p.movie), invalidMovie);
  EXPECT_EQ(qt::BeginMediaEdits(p.media), invalidMedia);
  EXPECT_EQ(qt::EndMediaEdits(p.media), invalidMedia);
  EXPECT_EQ(qt::InsertMediaIntoTrack(p.track, 0, 0, 0, 0x10000), invalidTrack);
  EXPECT_EQ(qt::AddMovieResource(p.movie, sink.get(), movieInDataForkResID, nullptr), invalidMovie);
  EXPECT_EQ(qt::GetMovieDuration(p.movie), 0);
  EXPECT_EQ(qt::GetMoviesError(), invalidMovie);
  p.sink.reset();
  EXPECT_EQ(sink.use_count(), 1) << "the movie let go of its sink";
}

}  // namespace
