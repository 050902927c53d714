// The movie writer against the test library: the calls it makes with their
// arguments, its three states, every failure path and what each releases.
#include "movie/MovieWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

}  // namespace
