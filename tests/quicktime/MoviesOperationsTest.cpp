// Movie files written through the program's calls. The movies of the first
// test are left in <build>/quicktime-movies with a manifest and the pixels
// that were compressed; check-movies.sh then has ffprobe, mediainfo and
// ffmpeg read them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "QuickTimeShellTest.h"
#include "platform/QuickTimeServices.h"

namespace {

constexpr int32_t kCreateFlags = int32_t(createMovieFileDeleteCurFile | createMovieFileDontCreateResFile);
constexpr OSType kCreator = fourCC("TVOD");
constexpr ScriptCode kCurrentScript = -2;

std::string movieFolder() {
  std::string folder = programFolder() + "..\\quicktime-movies\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

// Writes a movie the way the program's movie writer does, frame after frame
// drawn into one graphics world; returns the RGB pixels of every frame.
void writeMovie(const std::string& path, OSType codec, CodecQ quality, int16_t w, int16_t h,
                const std::vector<TimeValue>& durations, std::vector<uint8_t>* pixels) {
  TestFrame frame(w, h);
  ASSERT_EQ(frame.result, noErr);
  PascalPath name(path);
  FSSpec spec;
  FSMakeFSSpec(0, 0, name.name(), &spec);
  int16_t refNum = 0;
  Movie movie = nullptr;
  ASSERT_EQ(CreateMovieFile(&spec, kCreator, kCurrentScript, kCreateFlags, &refNum, &movie), noErr);
  ASSERT_NE(movie, nullptr);
  Track track = NewMovieTrack(movie, FixRatio(w, 1), FixRatio(h, 1), 0);
  ASSERT_NE(track, nullptr);
  Media media = NewTrackMedia(track, VideoMediaType, 1000, nullptr, 0);
  ASSERT_NE(media, nullptr);
  ASSERT_EQ(BeginMediaEdits(media), noErr);
  Rect bounds;
  MacSetRect(&bounds, 0, 0, w, h);
  int32_t maxSize = 0;
  ASSERT_EQ(GetMaxCompressionSize(frame.pixMap(), &bounds, 0, quality, codec, anyCodec, &maxSize), noErr);
  Handle data = NewHandle(maxSize);
  ASSERT_NE(data, nullptr);
  MoveHHi(data);
  HLock(data);
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
  ASSERT_NE(desc, nullptr);
  for (size_t i = 0; i < durations.size(); ++i) {
    frame.draw(int(i));
    const std::vector<uint8_t> rgb = frame.rgb();
    pixels->insert(pixels->end(), rgb.begin(), rgb.end());
    ASSERT_EQ(LockPixels(frame.pixMap()), 1);
    ASSERT_EQ(CompressImage(frame.pixMap(), &bounds, quality, codec, desc, *data), noErr);
    ASSERT_EQ((*desc)->cType, codec);
    ASSERT_LE((*desc)->dataSize, maxSize);
    ASSERT_EQ(AddMediaSample(media, data, 0, uint32_t((*desc)->dataSize), durations[i], desc, 1, 0, nullptr),
              noErr);
    UnlockPixels(frame.pixMap());
  }
  DisposeHandle(reinterpret_cast<Handle>(desc));
  HUnlock(data);
  DisposeHandle(data);
  ASSERT_EQ(EndMediaEdits(media), noErr);
  TimeValue total = 0;
  for (TimeValue d : durations) total += d;
  ASSERT_EQ(GetMediaDuration(media), total);
  ASSERT_EQ(InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), 0x10000), noErr);
  int16_t resId = movieInDataForkResID;
  ASSERT_EQ(AddMovieResource(movie, refNum, &resId, name.name()), noErr);
  ASSERT_EQ(CloseMovieFile(refNum), noErr);
  DisposeMovie(movie);
  EXPECT_EQ(GetMoviesError(), noErr);
}

struct MovieCase {
  const char* file;
  OSType codec;
  const char* decoder;  // ffmpeg's name for it
  CodecQ quality;
  int16_t width, height;
  const char* floor;  // "exact", or the least PSNR in dB over RGB
};

// Floors of screen content per Photo - JPEG quality, as the codec's own tests
// state them.
const MovieCase kCases[] = {
    {"animation-47x31.mov", kAnimationCodecType, "qtrle", codecLosslessQuality, 47, 31, "exact"},
    {"animation-320x240.mov", kAnimationCodecType, "qtrle", codecNormalQuality, 320, 240, "exact"},
    {"none-47x31.mov", kRawCodecType, "rawvideo", codecLosslessQuality, 47, 31, "exact"},
    {"none-320x240.mov", kRawCodecType, "rawvideo", codecLosslessQuality, 320, 240, "exact"},
    {"png-47x31.mov", kPNGCodecType, "png", codecMinQuality, 47, 31, "exact"},
    {"png-320x240.mov", kPNGCodecType, "png", codecMaxQuality, 320, 240, "exact"},
    {"jpeg-47x31-lossless.mov", kJPEGCodecType, "mjpeg", codecLosslessQuality, 47, 31, "38"},
    {"jpeg-320x240-normal.mov", kJPEGCodecType, "mjpeg", codecNormalQuality, 320, 240, "24"},
    {"jpeg-320x240-max.mov", kJPEGCodecType, "mjpeg", codecMaxQuality, 320, 240, "31"},
};

const std::vector<TimeValue> kDurations = {100, 120, 95};

TEST(MovieFiles, WritesMoviesOfEveryCodecForTheDecoders) {
  ASSERT_TRUE(quickTimeStarted());
  const std::string folder = movieFolder();
  std::ofstream manifest(folder + "manifest.txt", std::ios::trunc);
  for (const MovieCase& c : kCases) {
    SCOPED_TRACE(c.file);
    std::vector<uint8_t> pixels;
    writeMovie(folder + c.file, c.codec, c.quality, c.width, c.height, kDurations, &pixels);
    std::ofstream(folder + c.file + ".rgb", std::ios::binary)
        .write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));
    manifest << c.file << ' ' << c.decoder << ' ' << c.width << ' ' << c.height << " 100,120,95 " << c.floor
             << '\n';
  }

  // A file already at the path is replaced, not appended to or kept.
  const std::string replaced = folder + "replaced.mov";
  {
    std::ofstream old(replaced, std::ios::binary | std::ios::trunc);
    old << std::string(200000, 'x');
  }
  std::vector<uint8_t> pixels;
  writeMovie(replaced, kAnimationCodecType, codecLosslessQuality, 47, 31, kDurations, &pixels);
  std::ofstream(replaced + ".rgb", std::ios::binary)
      .write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));
  const std::vector<uint8_t> bytes = readFile(replaced);
  EXPECT_LT(bytes.size(), 200000u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("xxxxxxxx"), std::string::npos);
  manifest << "replaced.mov qtrle 47 31 100,120,95 exact\n";

  // A recording stopped before its first frame: a valid movie lasting 0.
  pixels.clear();
  writeMovie(folder + "empty.mov", kAnimationCodecType, codecLosslessQuality, 47, 31, {}, &pixels);
  manifest << "empty.mov qtrle 47 31 - exact\n";
}

class MovieFileErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(quickTimeStarted());
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "skelby-qt-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder_.c_str(), nullptr);
  }
  void TearDown() override {
    for (const char* f : {"readonly.mov", "busy.mov", "new.mov", "kept.mov"}) {
      SetFileAttributesA((folder_ + f).c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA((folder_ + f).c_str());
    }
    RemoveDirectoryA(folder_.c_str());
  }
  // CreateMovieFile on `path` as the program calls it; the movie it yields.
  OSErr create(const std::string& path, Movie* movie, int16_t* refNum, int32_t flags = kCreateFlags) {
    PascalPath name(path);
    FSSpec spec;
    FSMakeFSSpec(0, 0, name.name(), &spec);
    return CreateMovieFile(&spec, kCreator, kCurrentScript, flags, refNum, movie);
  }
  // The refusal as the program sees it: the result, no movie, no file
  // number, and GetMoviesError giving the same code.
  void expectRefused(const std::string& path, OSErr expected) {
    Movie movie = reinterpret_cast<Movie>(1);
    int16_t refNum = 99;
    EXPECT_EQ(create(path, &movie, &refNum), expected) << path;
    EXPECT_EQ(GetMoviesError(), expected) << path;
    EXPECT_EQ(movie, nullptr) << path;
    EXPECT_EQ(refNum, 0) << path;
  }
  std::string folder_;
};

TEST_F(MovieFileErrors, PathsWindowsCannotWriteGiveTheirOwnCodes) {
  expectRefused(folder_ + "no such folder\\movie.mov", dirNFErr);
  expectRefused(folder_ + "bad<name.mov", bdNamErr);
  expectRefused(folder_ + "bad|name.mov", bdNamErr);
  expectRefused(folder_ + "a:b.mov", bdNamErr);
  // Longer than a Pascal string holds: refused, and nothing is created at the
  // first 255 characters of it either.
  const std::string longPath = folder_ + std::string(300 - folder_.size(), 'L') + ".mov";
  expectRefused(longPath, bdNamErr);
  EXPECT_FALSE(fileExists(longPath.substr(0, 255)));

  const std::string readOnly = folder_ + "readonly.mov";
  std::ofstream(readOnly) << "old";
  ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  expectRefused(readOnly, wrPermErr);
  EXPECT_EQ(readFile(readOnly).size(), 3u) << "the read-only file is left as it was";

  const std::string busy = folder_ + "busy.mov";
  HANDLE holder = CreateFileA(busy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  expectRefused(busy, fBsyErr);
  CloseHandle(holder);
}

TEST_F(MovieFileErrors, FlagsAndSpecificationsAreChecked) {
  Movie movie = nullptr;
  int16_t refNum = 0;
  const std::string path = folder_ + "new.mov";
  // A resource fork is something this library cannot write.
  EXPECT_EQ(create(path, &movie, &refNum, int32_t(createMovieFileDeleteCurFile)), paramErr);
  EXPECT_EQ(create(path, &movie, &refNum, int32_t(kCreateFlags | createMovieFileDontOpenFile)), paramErr);
  EXPECT_FALSE(fileExists(path));
  EXPECT_EQ(CreateMovieFile(nullptr, kCreator, kCurrentScript, kCreateFlags, &refNum, &movie), paramErr);
  FSSpec spec;
  PascalPath name(path);
  EXPECT_EQ(FSMakeFSSpec(0, 0, name.name(), &spec), fnfErr) << "filled, but not there yet";
  EXPECT_EQ(CreateMovieFile(&spec, kCreator, kCurrentScript, kCreateFlags, nullptr, &movie), paramErr);
  EXPECT_EQ(CreateMovieFile(&spec, kCreator, kCurrentScript, kCreateFlags, &refNum, nullptr), paramErr);

  // Without "replace", an existing file is kept and refused.
  const std::string kept = folder_ + "kept.mov";
  std::ofstream(kept) << "keep";
  EXPECT_EQ(create(kept, &movie, &refNum, int32_t(createMovieFileDontCreateResFile)), -48);
  EXPECT_EQ(readFile(kept).size(), 4u);
}

TEST_F(MovieFileErrors, UnknownAndClosedFileNumbersAndDisposedMovies) {
  EXPECT_EQ(CloseMovieFile(0), rfNumErr);
  EXPECT_EQ(CloseMovieFile(12345), rfNumErr);
  EXPECT_EQ(GetMoviesError(), rfNumErr);

  Movie movie = nullptr;
  int16_t refNum = 0;
  ASSERT_EQ(create(folder_ + "new.mov", &movie, &refNum), noErr);
  int16_t resId = movieInDataForkResID;
  EXPECT_EQ(AddMovieResource(movie, int16_t(refNum + 1), &resId, nullptr), rfNumErr);
  EXPECT_EQ(AddMovieResource(movie, refNum, nullptr, nullptr), paramErr);
  int16_t otherId = 128;
  EXPECT_EQ(AddMovieResource(movie, refNum, &otherId, nullptr), paramErr) << "no resource fork";
  EXPECT_EQ(NewMovieTrack(movie, FixRatio(-4, 1), FixRatio(3, 1), 0), nullptr);
  EXPECT_EQ(GetMoviesError(), paramErr);
  Track track = NewMovieTrack(movie, FixRatio(4, 1), FixRatio(3, 1), 0);
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(NewTrackMedia(track, fourCC("soun"), 1000, nullptr, 0), nullptr);
  EXPECT_EQ(NewTrackMedia(track, VideoMediaType, 0, nullptr, 0), nullptr);
  Media media = NewTrackMedia(track, VideoMediaType, 1000, nullptr, 0);
  ASSERT_NE(media, nullptr);
  Handle data = NewHandle(16);
  EXPECT_EQ(AddMediaSample(media, data, 0, 16, 100, nullptr, 1, 0, nullptr), invalidEditState)
      << "edits not begun";
  ASSERT_EQ(BeginMediaEdits(media), noErr);
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
  EXPECT_EQ(AddMediaSample(media, data, 0, 16, 100, desc, 1, 0, nullptr), badImageDescription);
  EXPECT_EQ(AddMediaSample(media, data, 0, 17, 100, desc, 1, 0, nullptr), paramErr)
      << "more bytes than the data handle holds";
  DisposeHandle(data);
  EXPECT_EQ(AddMediaSample(media, data, 0, 16, 100, desc, 1, 0, nullptr), memWZErr);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  EXPECT_EQ(EndMediaEdits(media), noErr);
  ASSERT_EQ(AddMovieResource(movie, refNum, &resId, nullptr), noErr);
  ASSERT_EQ(CloseMovieFile(refNum), noErr);
  EXPECT_EQ(CloseMovieFile(refNum), rfNumErr) << "closed twice";
  EXPECT_EQ(AddMovieResource(movie, refNum, &resId, nullptr), rfNumErr);
  DisposeMovie(movie);
  EXPECT_EQ(GetMoviesError(), noErr);
  DisposeMovie(movie);
  EXPECT_EQ(GetMoviesError(), invalidMovie) << "disposed twice";
  EXPECT_EQ(NewMovieTrack(movie, FixRatio(4, 1), FixRatio(3, 1), 0), nullptr);
  EXPECT_EQ(GetMoviesError(), invalidMovie);
  EXPECT_EQ(BeginMediaEdits(media), invalidMedia);
  EXPECT_EQ(GetMediaDuration(media), 0);
  EXPECT_EQ(GetMoviesError(), invalidMedia);
  EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, 0, 0x10000), invalidTrack);
}

}  // namespace
