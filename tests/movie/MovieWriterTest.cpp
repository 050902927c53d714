// The movie writer against the test library: the calls it makes with their
// arguments, its three states, every failure path and what each releases.
#include "movie/MovieWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "FakeQuickTime.h"
#include "MovieTestSupport.h"
#include "TestSupport.h"
#include "app/CaptureState.h"
#include "movie/CompressionSettings.h"
#include "movie/OffscreenFrame.h"

namespace {

std::string pascalText(const unsigned char* p) {
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

class MovieWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qt = resetFakeQuickTime();
    ASSERT_NE(qt, nullptr) << "the test library is not the bound QuickTime.qts";
    saved = compressionSettings;
    compressionSettings = CompressionSettings();
    ASSERT_TRUE(frame.create(64, 48, true));
    qt->log[0] = 0;
  }
  void TearDown() override { compressionSettings = saved; }

  // Everything the writer ever had is released, each thing once.
  void expectNothingHeld(const MovieWriter& writer) {
    EXPECT_EQ(writer.movie, nullptr);
    EXPECT_EQ(writer.track, nullptr);
    EXPECT_EQ(writer.media, nullptr);
    EXPECT_EQ(writer.fileRefNum, 0);
    EXPECT_EQ(writer.dataHandle, nullptr);
    EXPECT_EQ(writer.data, nullptr);
    EXPECT_EQ(writer.imageDescription, nullptr);
    EXPECT_EQ(qt->liveHandles, 0);
    EXPECT_EQ(qt->liveMovies, 0);
    EXPECT_EQ(qt->openFiles, 0);
    EXPECT_EQ(qt->doubleReleases, 0);
  }

  FakeQuickTimeState* qt = nullptr;
  CompressionSettings saved;
  OffscreenFrame frame;
};

TEST_F(MovieWriterTest, WritesOneTrackOfTheFrameSizeWithTheGivenDurations) {
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\movies\\out.mov", &frame));
  // Everything but the file: the first frame makes it.
  EXPECT_EQ(occurrences(qt->log, "CreateMovieFile"), 0) << qt->log;
  EXPECT_FALSE(writer.fileCreated());
  EXPECT_TRUE(writer.addFrame(&frame, 100));
  EXPECT_TRUE(writer.fileCreated());
  EXPECT_NE(std::strstr(qt->log, "CompressImage FSMakeFSSpec CreateMovieFile NewMovieTrack"), nullptr)
      << qt->log;
  EXPECT_EQ(pascalText(qt->specName), "c:\\movies\\out.mov");
  EXPECT_EQ(qt->creator, fourCC("TVOD"));
  EXPECT_EQ(qt->script, -2);
  EXPECT_EQ(uint32_t(qt->createFlags), 0x90000000u);
  EXPECT_EQ(qt->trackWidth, 64 << 16);
  EXPECT_EQ(qt->trackHeight, 48 << 16);
  EXPECT_EQ(qt->mediaType, fourCC("vide"));
  EXPECT_EQ(qt->timeScale, 1000);
  EXPECT_EQ(qt->maxSizeType, fourCC("rle "));
  EXPECT_EQ(qt->maxSizeQuality, 0x400u);
  EXPECT_EQ(qt->maxSizeBounds.right, 64);
  EXPECT_EQ(qt->maxSizeBounds.bottom, 48);
  EXPECT_EQ(writer.maxCompressedSize, 4096);
  EXPECT_NE(writer.data, nullptr);
  EXPECT_EQ(writer.data, *writer.dataHandle);
  EXPECT_NE(std::strstr(qt->log, "NewHandle MoveHHi HLock NewHandle"), nullptr) << qt->log;
  EXPECT_EQ(writer.frameDuration(), 100);

  for (int32_t ms : {120, 95}) EXPECT_TRUE(writer.addFrame(&frame, ms));
  EXPECT_EQ(qt->samples, 3);
  EXPECT_EQ(qt->sampleDurations[0], 100);
  EXPECT_EQ(qt->sampleDurations[1], 120);
  EXPECT_EQ(qt->sampleDurations[2], 95);
  EXPECT_EQ(qt->lastSampleSize, 1000u) << "the size is the description's dataSize";
  EXPECT_EQ(qt->lastSampleCount, 1);
  EXPECT_EQ(qt->lastSampleFlags, 0) << "every sample a key frame";
  EXPECT_EQ(qt->compressType, fourCC("rle "));
  EXPECT_EQ(qt->compressQuality, 0x400u);
  EXPECT_EQ(qt->lockedPixels, 0) << "pixels are unlocked after each frame";
  EXPECT_EQ(occurrences(qt->log, "NewHandle"), 2) << "adding frames allocates nothing";

  qt->log[0] = 0;
  EXPECT_TRUE(writer.finish());
  EXPECT_STREQ(qt->log,
               "DisposeHandle HUnlock DisposeHandle EndMediaEdits GetMediaDuration "
               "InsertMediaIntoTrack AddMovieResource CloseMovieFile DisposeMovie ");
  EXPECT_EQ(qt->insertedDuration, 315);
  EXPECT_EQ(qt->insertedRate, 0x10000);
  EXPECT_EQ(qt->resourceId, -1) << "the movie goes into the data fork";
  EXPECT_EQ(pascalText(qt->resourceName), "c:\\movies\\out.mov");
  expectNothingHeld(writer);

  qt->log[0] = 0;
  EXPECT_FALSE(writer.finish()) << "a second finish has nothing to do";
  EXPECT_STREQ(qt->log, "");
  expectNothingHeld(writer);
}

TEST_F(MovieWriterTest, FinishOnAWriterNeverOpenedReleasesNothing) {
  MovieWriter writer;
  EXPECT_FALSE(writer.finish());
  EXPECT_FALSE(writer.finish());
  EXPECT_STREQ(qt->log, "");
  expectNothingHeld(writer);
}

// The file is made at the first frame; a file that cannot be made stops the
// recording (the window tells it) and leaves no movie to save.
TEST_F(MovieWriterTest, ACreateFailureAtTheFirstFrameGivesTheLibrarysCodeAndHoldsNothing) {
  for (OSErr error : {wrPermErr, dirNFErr, fBsyErr}) {
    qt = resetFakeQuickTime();
    qt->createMovieFileResult = error;
    qt->moviesErrorAfterCreateFailure = error;
    MovieWriter writer;
    MessageBoxWatcher watcher;
    ASSERT_TRUE(writer.open("c:\\locked\\out.mov", &frame));
    EXPECT_FALSE(writer.addFrame(&frame, 100));
    EXPECT_EQ(writer.lastError, error);
    EXPECT_TRUE(writer.frameCompressed) << "the failure is the file's";
    EXPECT_FALSE(writer.fileCreated());
    EXPECT_EQ(occurrences(qt->log, "NewMovieTrack"), 0);
    EXPECT_FALSE(watcher.waitForBox(200)) << "the writer itself shows nothing: " << watcher.text;
    EXPECT_FALSE(writer.finish()) << "nothing to save";
    EXPECT_EQ(occurrences(qt->log, "AddMovieResource"), 0);
    expectNothingHeld(writer);
  }
  // A create that gives no movie is a failure too; the file it opened is
  // closed again.
  qt = resetFakeQuickTime();
  qt->createMovieFileGivesMovie = false;
  qt->moviesErrorAfterCreateFailure = ioErr;
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\out.mov", &frame));
  EXPECT_FALSE(writer.addFrame(&frame, 100));
  EXPECT_EQ(writer.lastError, ioErr);
  EXPECT_EQ(qt->openFiles, 0);
  writer.finish();
  expectNothingHeld(writer);
}

TEST_F(MovieWriterTest, ItsMessagesAreModalToTheMainWindow) {
  ForegroundWindow main;  // stands in for Skelby's main window
  captureState.mainWindow = main.handle;
  {
    qt->maxCompressionSizeResult = codecSizeErr;
    MovieWriter writer;
    MessageBoxWatcher watcher;
    EXPECT_FALSE(writer.open("c:\\out.mov", &frame));
    ASSERT_TRUE(watcher.waitForBox());
    EXPECT_EQ(watcher.owner, main.handle);
  }
  qt = resetFakeQuickTime();
  qt->failNewHandleOfSize = 4;
  {
    MovieWriter writer;
    MessageBoxWatcher watcher;
    EXPECT_FALSE(writer.open("c:\\out.mov", &frame));
    ASSERT_TRUE(watcher.waitForBox());
    EXPECT_EQ(watcher.text, "Could not allocate handle");
    EXPECT_EQ(watcher.owner, main.handle);
    writer.finish();
  }
  captureState.mainWindow = nullptr;
}

TEST_F(MovieWriterTest, PathsTooLongForALengthByteAreRefusedAsBadNames) {
  for (size_t length : {256u, 257u, 259u, 300u}) {
    const std::string path = "c:\\" + std::string(length - 7, 'a') + ".mov";
    ASSERT_EQ(path.size(), length);
    MovieWriter writer;
    MessageBoxWatcher watcher;
    EXPECT_FALSE(writer.open(path.c_str(), &frame)) << length;
    ASSERT_TRUE(watcher.waitForBox()) << length;
    EXPECT_EQ(watcher.text, "Impossible To Create Movie File : Error -37");
    EXPECT_EQ(watcher.caption, "error");
    EXPECT_EQ(occurrences(qt->log, "CreateMovieFile"), 0) << "no file is made under a wrapped name";
    expectNothingHeld(writer);
  }
  // 255 characters still fit.
  const std::string longest = "c:\\" + std::string(248, 'b') + ".mov";
  MovieWriter writer;
  ASSERT_TRUE(writer.open(longest.c_str(), &frame));
  ASSERT_TRUE(writer.addFrame(&frame, 100));
  EXPECT_EQ(pascalText(qt->specName), longest);
  EXPECT_TRUE(writer.finish());
  EXPECT_EQ(pascalText(qt->resourceName), longest);
}

// A codec that cannot take the frame is told before any file is made.
TEST_F(MovieWriterTest, ACodecThatRefusesTheFrameIsToldAndNoFileIsMade) {
  for (OSErr error : {paramErr, codecSizeErr, memFullErr}) {
    qt = resetFakeQuickTime();
    qt->maxCompressionSizeResult = error;
    MovieWriter writer;
    MessageBoxWatcher watcher;
    EXPECT_FALSE(writer.open("c:\\refused.mov", &frame));
    ASSERT_TRUE(watcher.waitForBox()) << error;
    EXPECT_EQ(watcher.text, "The codec cannot compress frames of this size : Error " + std::to_string(error));
    EXPECT_EQ(watcher.caption, "error");
    EXPECT_EQ(occurrences(qt->log, "CreateMovieFile"), 0);
    EXPECT_FALSE(writer.finish()) << "nothing to save or to try again";
    expectNothingHeld(writer);
  }
}

// A track, media or edit that cannot be made at the first frame ends the
// movie there: it is let go of, never left for a later Stop to save empty.
TEST_F(MovieWriterTest, TrackMediaOrEditFailuresAtTheFirstFrameLeaveNoMovie) {
  for (int failing = 0; failing < 3; ++failing) {
    qt = resetFakeQuickTime();
    if (failing == 0) qt->newMovieTrackFails = true;
    if (failing == 1) qt->newTrackMediaFails = true;
    if (failing == 2) qt->beginMediaEditsResult = invalidMedia;
    MovieWriter writer;
    ASSERT_TRUE(writer.open("c:\\half.mov", &frame)) << failing;
    EXPECT_FALSE(writer.addFrame(&frame, 100)) << failing;
    EXPECT_NE(writer.lastError, noErr) << failing;
    EXPECT_FALSE(writer.fileCreated()) << failing;
    EXPECT_EQ(qt->liveMovies, 0) << failing;
    EXPECT_EQ(qt->openFiles, 0) << failing;
    EXPECT_EQ(occurrences(qt->log, "AddMediaSample"), 0) << failing;
    EXPECT_FALSE(writer.finish()) << failing;
    EXPECT_EQ(occurrences(qt->log, "AddMovieResource"), 0) << failing;
    expectNothingHeld(writer);

    qt->newMovieTrackFails = qt->newTrackMediaFails = false;
    qt->beginMediaEditsResult = noErr;
    ASSERT_TRUE(writer.open("c:\\again.mov", &frame)) << failing;
    EXPECT_TRUE(writer.addFrame(&frame, 100)) << failing;
    EXPECT_TRUE(writer.finish());
    expectNothingHeld(writer);
  }
}

TEST_F(MovieWriterTest, BlockAllocationFailuresAreToldAndFinishReleasesTheRest) {
  for (int32_t failingSize : {4096, 4}) {
    qt = resetFakeQuickTime();
    qt->failNewHandleOfSize = failingSize;
    MovieWriter writer;
    MessageBoxWatcher watcher;
    EXPECT_FALSE(writer.open("c:\\out.mov", &frame)) << failingSize;
    ASSERT_TRUE(watcher.waitForBox()) << failingSize;
    EXPECT_EQ(watcher.text, "Could not allocate handle");
    EXPECT_EQ(watcher.caption, "Error") << "the system's default caption";
    EXPECT_EQ(watcher.owner, nullptr);
    // Without a description there is nothing to compress into.
    EXPECT_FALSE(writer.addFrame(&frame, 100));
    EXPECT_EQ(occurrences(qt->log, "CompressImage"), 0);
    EXPECT_EQ(occurrences(qt->log, "CreateMovieFile"), 0);
    EXPECT_FALSE(writer.finish()) << "no movie was made";
    expectNothingHeld(writer);
  }
}

TEST_F(MovieWriterTest, FailingToEndTheEditsKeepsTheMovieUntilALaterFinish) {
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\out.mov", &frame));
  ASSERT_TRUE(writer.addFrame(&frame, 100));
  qt->endMediaEditsResult = invalidEditState;
  EXPECT_FALSE(writer.finish());
  EXPECT_EQ(writer.dataHandle, nullptr);
  EXPECT_EQ(writer.imageDescription, nullptr);
  EXPECT_EQ(qt->liveHandles, 0) << "the buffers are released already";
  EXPECT_NE(writer.movie, nullptr);
  EXPECT_EQ(qt->openFiles, 1);
  EXPECT_EQ(occurrences(qt->log, "AddMovieResource"), 0);
  qt->endMediaEditsResult = noErr;
  EXPECT_TRUE(writer.finish());
  expectNothingHeld(writer);
}

TEST_F(MovieWriterTest, AFrameWithoutAWorldAppendsNothing) {
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\out.mov", &frame));
  OffscreenFrame empty;
  qt->log[0] = 0;
  EXPECT_FALSE(writer.addFrame(&empty, 100));
  EXPECT_FALSE(writer.addFrame(nullptr, 100));
  EXPECT_STREQ(qt->log, "");
  EXPECT_EQ(qt->samples, 0);
  EXPECT_FALSE(writer.finish()) << "no frame, so no movie and no file";
  EXPECT_EQ(occurrences(qt->log, "CreateMovieFile"), 0);
  expectNothingHeld(writer);
}

TEST_F(MovieWriterTest, OpenOnAFrameWithoutAWorldFailsAndHoldsNothing) {
  OffscreenFrame empty;
  MovieWriter writer;
  EXPECT_FALSE(writer.open("c:\\out.mov", &empty));
  EXPECT_FALSE(writer.open("c:\\out.mov", nullptr));
  EXPECT_FALSE(writer.open(nullptr, &frame));
  EXPECT_EQ(occurrences(qt->log, "GetMaxCompressionSize"), 0);
  EXPECT_FALSE(writer.finish());
  expectNothingHeld(writer);
}

TEST_F(MovieWriterTest, QualityOutsideTheTableIsBroughtBackAndStored) {
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\out.mov", &frame));
  compressionSettings.qualityIndex = 9;
  EXPECT_TRUE(writer.addFrame(&frame, 100));
  EXPECT_EQ(compressionSettings.qualityIndex, 5);
  EXPECT_EQ(qt->compressQuality, 0x3FFu);
  compressionSettings.qualityIndex = -3;
  EXPECT_TRUE(writer.addFrame(&frame, 100));
  EXPECT_EQ(compressionSettings.qualityIndex, 0);
  EXPECT_EQ(qt->compressQuality, 0x400u);
  EXPECT_TRUE(writer.finish());
}

TEST_F(MovieWriterTest, AFrameThatIsNotAppendedGivesItsTimeToTheNextThatIs) {
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\out.mov", &frame));
  qt->compressImageResult = codecErr;  // before any compression succeeded
  MessageBoxWatcher watcher;
  EXPECT_FALSE(writer.addFrame(&frame, 100));
  EXPECT_EQ(writer.lastError, codecErr) << "the codec's failure is told to the caller";
  EXPECT_FALSE(writer.frameCompressed);
  EXPECT_EQ(occurrences(qt->log, "AddMediaSample"), 0);
  qt->compressImageResult = noErr;
  EXPECT_TRUE(writer.addFrame(&frame, 40));
  qt->compressImageResult = codecErr;  // after one: the stale size is not reused
  EXPECT_FALSE(writer.addFrame(&frame, 60));
  qt->compressImageResult = noErr;
  qt->addMediaSampleResult = dskFulErr;
  EXPECT_FALSE(writer.addFrame(&frame, 70)) << "a failed append is no success";
  EXPECT_EQ(writer.lastError, dskFulErr) << "the file takes no more frames";
  EXPECT_TRUE(writer.frameCompressed) << "the failure was the file's";
  qt->addMediaSampleResult = noErr;
  EXPECT_TRUE(writer.addFrame(&frame, 30));
  EXPECT_EQ(writer.lastError, noErr);
  EXPECT_FALSE(watcher.waitForBox(200)) << "the writer itself shows nothing: " << watcher.text;
  ASSERT_EQ(qt->samples, 2);
  EXPECT_EQ(qt->sampleDurations[0], 140);
  EXPECT_EQ(qt->sampleDurations[1], 160) << "60 + 70 + 30: the movie lasts as long as the recording";
  EXPECT_EQ(qt->lockedPixels, 0);
  EXPECT_TRUE(writer.finish());
}

TEST_F(MovieWriterTest, AMovieThatCannotBeWrittenIsKeptAndWrittenByALaterFinish) {
  for (int failing = 0; failing < 3; ++failing) {
    qt = resetFakeQuickTime();
    MovieWriter writer;
    ASSERT_TRUE(writer.open("c:\\out.mov", &frame));
    EXPECT_TRUE(writer.addFrame(&frame, 100));
    const OSErr error = failing == 0 ? dskFulErr : failing == 1 ? ioErr : invalidDuration;
    if (failing < 2) qt->addMovieResourceResult = error;
    if (failing == 2) qt->insertMediaResult = error;
    EXPECT_FALSE(writer.finish()) << failing;
    EXPECT_EQ(writer.lastError, error) << failing;
    EXPECT_NE(writer.movie, nullptr) << "kept for the next try";
    EXPECT_EQ(qt->openFiles, 1) << failing;
    EXPECT_EQ(occurrences(qt->log, "CloseMovieFile"), 0) << failing;
    EXPECT_EQ(qt->liveHandles, 0) << "the buffers are released already";

    // The user made room: the next finish goes on from where it stopped.
    qt->addMovieResourceResult = qt->insertMediaResult = noErr;
    qt->log[0] = 0;
    EXPECT_TRUE(writer.finish()) << failing;
    EXPECT_EQ(writer.lastError, noErr);
    EXPECT_STREQ(qt->log, failing == 2
                              ? "GetMediaDuration InsertMediaIntoTrack AddMovieResource CloseMovieFile "
                                "DisposeMovie "
                              : "AddMovieResource CloseMovieFile DisposeMovie ")
        << failing;
    EXPECT_EQ(qt->insertedDuration, 100);
    expectNothingHeld(writer);
  }
}

TEST_F(MovieWriterTest, AFileThatFailsToCloseIsReportedButTheMovieIsWritten) {
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\out.mov", &frame));
  ASSERT_TRUE(writer.addFrame(&frame, 100));
  qt->closeMovieFileResult = ioErr;
  EXPECT_FALSE(writer.finish());
  EXPECT_EQ(writer.lastError, ioErr);
  EXPECT_EQ(occurrences(qt->log, "AddMovieResource"), 1);
  expectNothingHeld(writer);
}

TEST_F(MovieWriterTest, AbandonLetsGoOfAMovieThatCannotBeWritten) {
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\out.mov", &frame));
  ASSERT_TRUE(writer.addFrame(&frame, 100));
  qt->addMovieResourceResult = dskFulErr;
  EXPECT_FALSE(writer.finish());
  writer.abandon();
  EXPECT_EQ(occurrences(qt->log, "AddMovieResource"), 1);
  expectNothingHeld(writer);
  writer.abandon();
  EXPECT_EQ(qt->doubleReleases, 0);
}

TEST_F(MovieWriterTest, AddingToAClosedWriterDoesNothing) {
  MovieWriter writer;
  EXPECT_FALSE(writer.addFrame(&frame, 100));
  EXPECT_EQ(writer.lastError, paramErr) << "a frame not kept is never reported as kept";
  EXPECT_STREQ(qt->log, "");
}

TEST_F(MovieWriterTest, TheCodecNameBecomesItsTypeWhenTheMovieOpens) {
  std::strcpy(compressionSettings.codecName, "PNG");
  compressionSettings.qualityIndex = 3;
  compressionSettings.frameDurationMs = 40;
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\out.mov", &frame));
  EXPECT_EQ(compressionSettings.codecType, fourCC("png "));
  EXPECT_EQ(qt->maxSizeType, fourCC("png "));
  EXPECT_EQ(qt->maxSizeQuality, 0x200u);
  EXPECT_EQ(writer.frameDuration(), 40);
  writer.finish();

  // The codec went away between the dialog and this movie: Animation, silently.
  qt->codecs[3].name[0] = 'X';
  MessageBoxWatcher watcher;
  ASSERT_TRUE(writer.open("c:\\out.mov", &frame));
  EXPECT_EQ(compressionSettings.codecType, fourCC("rle "));
  EXPECT_FALSE(watcher.waitForBox(200)) << watcher.text;
  writer.finish();
}

TEST_F(MovieWriterTest, TheProcessWriterStartsClosedWithDefaults) {
  EXPECT_EQ(movieWriter.movie, nullptr);
  EXPECT_EQ(movieWriter.dataHandle, nullptr);
  EXPECT_EQ(movieWriter.imageDescription, nullptr);
  EXPECT_EQ(movieWriter.frameDuration(), 100);
  ASSERT_TRUE(movieWriter.open("c:\\grabbed.mov", &frame));
  EXPECT_EQ(qt->maxSizeType, fourCC("rle "));
  EXPECT_EQ(qt->maxSizeQuality, 0x400u);
  EXPECT_TRUE(movieWriter.addFrame(&frame, 100));
  EXPECT_EQ(qt->compressType, fourCC("rle "));
  EXPECT_EQ(qt->compressQuality, 0x400u);
  EXPECT_TRUE(movieWriter.finish());
  EXPECT_FALSE(movieWriter.finish());
  expectNothingHeld(movieWriter);
}

// --- H.264: one compression sequence per movie

class MovieWriterSequenceTest : public MovieWriterTest {
 protected:
  void SetUp() override {
    MovieWriterTest::SetUp();
    if (HasFatalFailure()) return;
    offerH264();
    std::strcpy(compressionSettings.codecName, "H.264");
    compressionSettings.qualityIndex = 3;  // Normal
  }
  void offerH264() { qt->codecs[qt->codecCount++] = FakeCodec{kH264CodecType, 5, "H.264"}; }
  // For each sample that is not a key frame, how long after the start of
  // the key frame it depends on it ends: what a player seeking into it must
  // decode first. Empty when the first sample is not a key frame.
  std::vector<int64_t> reachFromKeyFrames(int32_t& keyFrames) const {
    std::vector<int64_t> reach;
    int64_t at = 0;
    int64_t key = -1;
    keyFrames = 0;
    for (int32_t i = 0; i < qt->samples && i < 32; ++i) {
      const int64_t end = at + qt->sampleDurations[i];
      if (!(qt->sampleFlags[i] & mediaSampleNotSync)) {
        key = at;
        ++keyFrames;
      } else if (key < 0) {
        return {};
      } else {
        reach.push_back(end - key);
      }
      at = end;
    }
    return reach;
  }
  void expectSequenceEndedOnce() {
    EXPECT_EQ(qt->sequencesBegun, 1);
    EXPECT_EQ(qt->sequencesEnded, 1);
    EXPECT_EQ(qt->liveSequences, 0);
    EXPECT_EQ(qt->doubleReleases, 0);
  }
};

TEST_F(MovieWriterSequenceTest, BeginsAtOpenAddsEachFrameWithItsSyncFlagAndEndsAtFinish) {
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\h264.mov", &frame));
  EXPECT_NE(
      std::strstr(qt->log, "GetMaxCompressionSize NewHandle MoveHHi HLock NewHandle CompressSequenceBegin"),
      nullptr)
      << qt->log;
  EXPECT_EQ(occurrences(qt->log, "CreateMovieFile"), 0) << "the encoder is made before any file";
  EXPECT_EQ(qt->sequenceType, kH264CodecType);
  EXPECT_EQ(qt->maxSizeType, kH264CodecType);
  EXPECT_EQ(qt->spatialQuality, 0x200u);
  EXPECT_EQ(qt->temporalQuality, 0x200u);
  EXPECT_EQ(qt->keyFrameRate, 20) << "two seconds of frames at 100 ms";
  EXPECT_EQ(qt->sequenceBounds.right, 64);
  EXPECT_EQ(qt->sequenceBounds.bottom, 48);
  EXPECT_FALSE(qt->sequenceGotPrevious);

  for (int i = 0; i < 25; ++i) ASSERT_TRUE(writer.addFrame(&frame, 100)) << i;
  EXPECT_EQ(occurrences(qt->log, "CompressImage"), 0);
  EXPECT_EQ(occurrences(qt->log, "CompressSequenceFrame"), 25);
  ASSERT_EQ(qt->samples, 25);
  for (int i = 0; i < 25; ++i) {
    const bool key = i == 0 || i == 20;
    EXPECT_EQ(qt->sampleFlags[i], key ? 0 : mediaSampleNotSync) << i;
    EXPECT_EQ(qt->frameKey[i], key) << i;
    EXPECT_EQ(qt->sampleDurations[i], 100) << i;
  }
  // Only the frame two seconds on is forced; none before it.
  for (int i = 0; i < 25; ++i)
    EXPECT_EQ(qt->frameFlags[i] & codecFlagForceKeyFrame, i == 20 ? codecFlagForceKeyFrame : 0) << i;
  EXPECT_EQ(qt->lastSampleSize, 100u) << "the size the frame reported, not the last key frame's";
  EXPECT_EQ(writer.appendedBytes, 2u * 1000 + 23u * 100);
  EXPECT_EQ(qt->brokenReferences, 0);
  EXPECT_EQ(qt->flagMismatches, 0);
  EXPECT_EQ(qt->lockedPixels, 0);
  EXPECT_EQ(occurrences(qt->log, "NewHandle"), 2) << "adding frames allocates nothing";

  qt->log[0] = 0;
  ASSERT_TRUE(writer.finish());
  EXPECT_EQ(std::string(qt->log).rfind("CDSequenceEnd DisposeHandle HUnlock DisposeHandle EndMediaEdits", 0),
            0u)
      << "the sequence ends before its description goes: " << qt->log;
  EXPECT_EQ(qt->insertedDuration, 2500);
  EXPECT_FALSE(writer.finish());
  writer.abandon();
  expectSequenceEndedOnce();
  expectNothingHeld(writer);
}

TEST_F(MovieWriterSequenceTest, TheKeyFrameRateIsTwoSecondsOfFramesAndAtLeastOne) {
  for (const auto& [ms, rate] : std::vector<std::pair<int32_t, int32_t>>{
           {1, 2000}, {33, 60}, {40, 50}, {100, 20}, {1999, 1}, {2000, 1}, {60000, 1}}) {
    qt = resetFakeQuickTime();
    offerH264();
    compressionSettings.frameDurationMs = ms;
    MovieWriter writer;
    ASSERT_TRUE(writer.open("c:\\rate.mov", &frame)) << ms;
    EXPECT_EQ(qt->keyFrameRate, rate) << ms;
    writer.finish();
    expectSequenceEndedOnce();
  }
}

// However unevenly frames come (a slow copy, the first frame after a pause),
// a frame that is not a key frame ends at most two seconds of movie time
// after the key frame it depends on, even when the library's own count would
// wait longer. (A single frame longer than that is a key frame itself.)
TEST_F(MovieWriterSequenceTest, KeyFramesAreAtMostTwoSecondsOfMovieTimeApart) {
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\uneven.mov", &frame));
  qt->keyFrameRate = 1000;  // the library's count alone would never force one
  const int32_t durations[] = {100, 900, 50, 700, 300, 2500, 100, 100, 1900, 40, 60, 1990, 10, 100, 100, 100};
  for (int32_t ms : durations) ASSERT_TRUE(writer.addFrame(&frame, ms)) << ms;
  ASSERT_EQ(qt->samples, int32_t(std::size(durations)));
  int32_t keyFrames = 0;
  const std::vector<int64_t> reach = reachFromKeyFrames(keyFrames);
  ASSERT_FALSE(reach.empty()) << "the first sample is a key frame, and not every one is";
  for (size_t i = 0; i < reach.size(); ++i) EXPECT_LE(reach[i], 2000) << "frame " << i;
  EXPECT_LT(keyFrames, int32_t(std::size(durations)) / 2) << "not every frame made a key frame";
  EXPECT_EQ(qt->brokenReferences, 0);
  EXPECT_TRUE(writer.finish());
}

// A frame compressed but not stored: the encoder would code the next one
// against it, and the movie would hold a frame referring to nothing.
TEST_F(MovieWriterSequenceTest, TheFrameAfterOneNotStoredIsAKeyFrame) {
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\gap.mov", &frame));
  ASSERT_TRUE(writer.addFrame(&frame, 100));
  ASSERT_TRUE(writer.addFrame(&frame, 100));
  qt->addMediaSampleResult = dskFulErr;
  EXPECT_FALSE(writer.addFrame(&frame, 70));
  EXPECT_EQ(writer.lastError, dskFulErr);
  EXPECT_TRUE(writer.frameCompressed);
  EXPECT_FALSE(writer.encoderFailed) << "the file failed, not the encoder";
  qt->addMediaSampleResult = noErr;
  ASSERT_TRUE(writer.addFrame(&frame, 30)) << "room made: the recording goes on";
  ASSERT_TRUE(writer.addFrame(&frame, 100));
  ASSERT_EQ(qt->samples, 4);
  EXPECT_EQ(qt->frameFlags[3] & codecFlagForceKeyFrame, codecFlagForceKeyFrame);
  EXPECT_EQ(qt->sampleFlags[2], 0) << "the frame after the gap stands alone";
  EXPECT_EQ(qt->sampleDurations[2], 100) << "70 + 30";
  EXPECT_EQ(qt->sampleFlags[3], mediaSampleNotSync) << "and the one after it refers to it again";
  EXPECT_EQ(qt->frameFlags[4] & codecFlagForceKeyFrame, 0);
  EXPECT_EQ(qt->brokenReferences, 0);
  EXPECT_EQ(qt->flagMismatches, 0);
  EXPECT_TRUE(writer.finish());
  expectSequenceEndedOnce();
}

// The first frame makes the file; when that fails the sequence goes on, and
// the frame that does make it is a key frame: a media starts with one.
TEST_F(MovieWriterSequenceTest, AFileMadeOnlyAtTheSecondFrameStartsWithAKeyFrame) {
  qt->createMovieFileResult = fBsyErr;
  qt->moviesErrorAfterCreateFailure = fBsyErr;
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\busy.mov", &frame));
  EXPECT_FALSE(writer.addFrame(&frame, 100));
  EXPECT_EQ(writer.lastError, fBsyErr);
  EXPECT_EQ(qt->liveSequences, 1) << "the sequence outlives a file that could not be made";
  qt->createMovieFileResult = noErr;
  qt->moviesErrorAfterCreateFailure = noErr;
  ASSERT_TRUE(writer.addFrame(&frame, 100)) << writer.lastError;
  EXPECT_EQ(occurrences(qt->log, "CompressImage"), 0);
  EXPECT_EQ(qt->sampleFlags[0], 0);
  EXPECT_EQ(qt->sampleDurations[0], 200);
  EXPECT_TRUE(writer.finish());
  expectSequenceEndedOnce();
  expectNothingHeld(writer);
}

TEST_F(MovieWriterSequenceTest, AnEncoderThatFailsIsReportedAndTheNextFrameIsAKeyFrame) {
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\enc.mov", &frame));
  ASSERT_TRUE(writer.addFrame(&frame, 100));
  for (OSErr failure : {OSErr(codecErr), OSErr(memFullErr)}) {
    qt->sequenceFrameResult = failure;
    MessageBoxWatcher watcher;
    EXPECT_FALSE(writer.addFrame(&frame, 100));
    EXPECT_EQ(writer.lastError, failure);
    EXPECT_FALSE(writer.frameCompressed);
    EXPECT_TRUE(writer.encoderFailed);
    EXPECT_FALSE(watcher.waitForBox(200)) << "the window tells it, not the writer: " << watcher.text;
  }
  EXPECT_EQ(occurrences(qt->log, "AddMediaSample"), 1) << "nothing of a failed frame is appended";
  qt->sequenceFrameResult = noErr;
  ASSERT_TRUE(writer.addFrame(&frame, 100));
  EXPECT_FALSE(writer.encoderFailed);
  EXPECT_EQ(qt->sampleFlags[1], 0);
  EXPECT_EQ(qt->sampleDurations[1], 300);
  EXPECT_EQ(qt->brokenReferences, 0);
  EXPECT_TRUE(writer.finish());
  expectSequenceEndedOnce();
}

TEST_F(MovieWriterSequenceTest, AnEncoderThatCannotStartIsToldAtOpenWithNoFile) {
  for (int failing = 0; failing < 3; ++failing) {
    qt = resetFakeQuickTime();
    offerH264();
    const OSErr error = failing == 0 ? OSErr(codecErr) : failing == 1 ? OSErr(memFullErr) : OSErr(noErr);
    qt->sequenceBeginResult = error;
    qt->sequenceBeginGivesNone = failing == 2;
    MovieWriter writer;
    MessageBoxWatcher watcher;
    EXPECT_FALSE(writer.open("c:\\nostart.mov", &frame)) << failing;
    ASSERT_TRUE(watcher.waitForBox()) << failing;
    EXPECT_EQ(watcher.text, "The codec could not start compressing : Error " +
                                std::to_string(failing == 2 ? int(codecErr) : int(error)));
    EXPECT_EQ(watcher.caption, "error");
    EXPECT_EQ(occurrences(qt->log, "CreateMovieFile"), 0);
    EXPECT_EQ(occurrences(qt->log, "CDSequenceEnd"), 0) << "no sequence to end";
    EXPECT_FALSE(writer.addFrame(&frame, 100));
    EXPECT_EQ(occurrences(qt->log, "CompressImage"), 0) << "no H.264 frame without its sequence";
    EXPECT_FALSE(writer.finish());
    expectNothingHeld(writer);
  }
}

// Every way out ends the sequence, once: a finish that fails and is tried
// again, an abandon, and a new open over a movie left unwritten.
TEST_F(MovieWriterSequenceTest, TheSequenceEndsOnceOnEveryPath) {
  for (int path = 0; path < 3; ++path) {
    qt = resetFakeQuickTime();
    offerH264();
    MovieWriter writer;
    ASSERT_TRUE(writer.open("c:\\paths.mov", &frame));
    ASSERT_TRUE(writer.addFrame(&frame, 100));
    qt->addMovieResourceResult = dskFulErr;
    EXPECT_FALSE(writer.finish()) << path;
    EXPECT_EQ(qt->sequencesEnded, 1) << path;
    EXPECT_FALSE(writer.addFrame(&frame, 100)) << "no frame after finish";
    qt->addMovieResourceResult = noErr;
    if (path == 0) {
      EXPECT_TRUE(writer.finish());
    } else if (path == 1) {
      writer.abandon();
    } else {
      ASSERT_TRUE(writer.open("c:\\next.mov", &frame));
      EXPECT_EQ(qt->sequencesBegun, 2);
      writer.finish();
      EXPECT_EQ(qt->sequencesEnded, 2);
      continue;
    }
    expectSequenceEndedOnce();
    expectNothingHeld(writer);
  }
  // Never a frame: the sequence ends all the same.
  qt = resetFakeQuickTime();
  offerH264();
  MovieWriter writer;
  ASSERT_TRUE(writer.open("c:\\none.mov", &frame));
  EXPECT_FALSE(writer.finish());
  expectSequenceEndedOnce();
  expectNothingHeld(writer);
}

// The four codecs that compress each frame by itself keep their calls: one
// CompressImage a frame, every sample a key frame, no sequence.
TEST_F(MovieWriterSequenceTest, TheOtherCodecsCompressEachFrameByItself) {
  for (const char* name : {"Animation", "None", "Photo - JPEG", "PNG"}) {
    qt = resetFakeQuickTime();
    offerH264();
    std::strcpy(compressionSettings.codecName, name);
    MovieWriter writer;
    ASSERT_TRUE(writer.open("c:\\spatial.mov", &frame)) << name;
    for (int i = 0; i < 25; ++i) ASSERT_TRUE(writer.addFrame(&frame, 100)) << name;
    ASSERT_TRUE(writer.finish()) << name;
    EXPECT_EQ(occurrences(qt->log, "CompressImage"), 25) << name;
    EXPECT_EQ(std::strstr(qt->log, "Sequence"), nullptr) << name << ": " << qt->log;
    ASSERT_EQ(qt->samples, 25);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(qt->sampleFlags[i], 0) << name << " " << i;
    EXPECT_EQ(qt->lastSampleSize, 1000u);
    expectNothingHeld(writer);
  }
}

}  // namespace
