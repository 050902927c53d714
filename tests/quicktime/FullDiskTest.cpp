// A disk that fills up while a movie is written, through the program's calls
// and Windows' own file calls under wine64. ctest preloads full-disk.so, which
// lets files named "full-disk*" grow only to the byte count in the file that
// SKELBY_FULL_DISK_LIMIT names; these tests set that count. The movies they
// finish are left in <build>/quicktime-full-disk with a manifest, for
// check-movies.sh to read with ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "QuickTimeShellTest.h"
#include "platform/QuickTimeServices.h"

namespace {

constexpr int32_t kCreateFlags = int32_t(createMovieFileDeleteCurFile | createMovieFileDontCreateResFile);
constexpr int16_t kWidth = 64;
constexpr int16_t kHeight = 48;
// None at 64 x 48: rows of 192 bytes, already a multiple of 4.
constexpr uint64_t kSampleBytes = uint64_t(kWidth) * 3 * kHeight;
// ftyp (20), wide (8) and the mdat header (8) come before the first sample.
constexpr uint64_t kHeaderBytes = 36;

std::string folder() {
  std::string f = programFolder() + "..\\quicktime-full-disk\\";
  CreateDirectoryA(f.c_str(), nullptr);
  return f;
}

// Whether a reader walking the file's top-level atoms meets a movie
// fragment: the library's keeper has revealed one.
bool showsAFragment(const std::vector<uint8_t>& file) {
  uint64_t at = 0;
  while (at + 8 <= file.size()) {
    const uint8_t* atom = &file[size_t(at)];
    const uint64_t size = uint64_t(atom[0]) << 24 | atom[1] << 16 | atom[2] << 8 | atom[3];
    if (std::memcmp(atom + 4, "moof", 4) == 0) return true;
    // 0 is an open mdat: the rest is hidden.
    if (size < 8) return false;
    at += size;
  }
  return false;
}

uint64_t sizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class FullDisk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { DeleteFileA((folder() + "manifest.txt").c_str()); }
  void SetUp() override {
    ASSERT_TRUE(quickTimeStarted());
    char control[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableA("SKELBY_FULL_DISK_LIMIT", control, MAX_PATH), 0u)
        << "run by ctest, which preloads the full disk";
    limitFile_ = std::string("Z:") + control;  // Wine's Z: is the Unix root
  }
  // Sets how many bytes a full-disk file may hold from now on.
  void setLimit(uint64_t bytes) { std::ofstream(limitFile_, std::ios::trunc) << bytes << '\n'; }
  // A movie of None frames at `path`, ready for samples.
  void open(const std::string& path) {
    PascalPath name(path);
    FSSpec spec;
    FSMakeFSSpec(0, 0, name.name(), &spec);
    ASSERT_EQ(CreateMovieFile(&spec, fourCC("TVOD"), -2, kCreateFlags, &refNum_, &movie_), noErr);
    track_ = NewMovieTrack(movie_, FixRatio(kWidth, 1), FixRatio(kHeight, 1), 0);
    ASSERT_NE(track_, nullptr);
    media_ = NewTrackMedia(track_, VideoMediaType, 1000, nullptr, 0);
    ASSERT_NE(media_, nullptr);
    ASSERT_EQ(BeginMediaEdits(media_), noErr);
    Rect bounds;
    MacSetRect(&bounds, 0, 0, kWidth, kHeight);
    int32_t maxSize = 0;
    ASSERT_EQ(GetMaxCompressionSize(frame_.pixMap(), &bounds, 0, codecNormalQuality, kRawCodecType, anyCodec,
                                    &maxSize),
              noErr);
    data_ = NewHandle(maxSize);
    desc_ = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
    ASSERT_NE(data_, nullptr);
    ASSERT_NE(desc_, nullptr);
  }
  // Draws, compresses and appends frame `index`; keeps its pixels when the
  // sample went in.
  OSErr add(int index, TimeValue duration) {
    frame_.draw(index);
    Rect bounds;
    MacSetRect(&bounds, 0, 0, kWidth, kHeight);
    HLock(data_);
    OSErr err = CompressImage(frame_.pixMap(), &bounds, codecNormalQuality, kRawCodecType, desc_, *data_);
    HUnlock(data_);
    if (err != noErr) return err;
    if ((*desc_)->dataSize != int32_t(kSampleBytes)) return paramErr;
    err = AddMediaSample(media_, data_, 0, uint32_t((*desc_)->dataSize), duration, desc_, 1, 0, nullptr);
    if (err == noErr) {
      const std::vector<uint8_t> rgb = frame_.rgb();
      pixels_.insert(pixels_.end(), rgb.begin(), rgb.end());
    }
    return err;
  }
  OSErr finish() {
    EndMediaEdits(media_);
    if (OSErr err = InsertMediaIntoTrack(track_, 0, 0, GetMediaDuration(media_), 0x10000)) return err;
    int16_t resId = movieInDataForkResID;
    return AddMovieResource(movie_, refNum_, &resId, nullptr);
  }
  // Closes the file and leaves the movie and its pixels for the readers.
  void close(const std::string& file, const char* durations) {
    EXPECT_EQ(CloseMovieFile(refNum_), noErr);
    refNum_ = 0;
    setLimit(uint64_t(1) << 40);  // the pixel file's name starts with "full-disk" too
    std::ofstream(folder() + file + ".rgb", std::ios::binary)
        .write(reinterpret_cast<const char*>(pixels_.data()), std::streamsize(pixels_.size()));
    std::ofstream(folder() + "manifest.txt", std::ios::app)
        << file << " rawvideo " << kWidth << ' ' << kHeight << ' ' << durations << " exact\n";
  }
  void TearDown() override {
    if (refNum_) CloseMovieFile(refNum_);
    if (movie_) DisposeMovie(movie_);
    if (data_) DisposeHandle(data_);
    if (desc_) DisposeHandle(reinterpret_cast<Handle>(desc_));
  }

  std::string limitFile_;
  TestFrame frame_{kWidth, kHeight};
  int16_t refNum_ = 0;
  Movie movie_ = nullptr;
  Track track_ = nullptr;
  Media media_ = nullptr;
  Handle data_ = nullptr;
  ImageDescriptionHandle desc_ = nullptr;
  std::vector<uint8_t> pixels_;
};

TEST_F(FullDisk, ASampleThatDoesNotFitIsRefusedAndTheMovieStillFinishes) {
  const std::string file = "full-disk-sample.mov";
  setLimit(uint64_t(1) << 30);
  open(folder() + file);
  ASSERT_EQ(add(0, 100), noErr);
  ASSERT_EQ(add(1, 120), noErr);
  // Room for half of the next sample.
  const uint64_t limit = sizeOf(folder() + file) + kSampleBytes / 2;
  setLimit(limit);
  EXPECT_EQ(add(2, 95), dskFulErr);
  EXPECT_EQ(GetMoviesError(), dskFulErr);
  EXPECT_EQ(GetMediaDuration(media_), 220) << "the torn sample is not part of the movie";
  EXPECT_EQ(add(3, 95), dskFulErr) << "still full";
  // The movie's own atom is smaller than the torn sample, whose place it takes.
  EXPECT_EQ(finish(), noErr);
  close(file, "100,120");
  EXPECT_LE(sizeOf(folder() + file), limit);
}

TEST_F(FullDisk, AMovieAtomThatDoesNotFitCanBeWrittenOnceThereIsRoom) {
  const std::string file = "full-disk-finish.mov";
  setLimit(uint64_t(1) << 30);
  open(folder() + file);
  ASSERT_EQ(add(0, 100), noErr);
  ASSERT_EQ(add(1, 120), noErr);
  setLimit(sizeOf(folder() + file) + 40);
  EXPECT_EQ(finish(), dskFulErr);
  EXPECT_EQ(GetMoviesError(), dskFulErr);
  setLimit(uint64_t(1) << 20);  // the user makes room
  int16_t resId = movieInDataForkResID;
  EXPECT_EQ(AddMovieResource(movie_, refNum_, &resId, nullptr), noErr);
  close(file, "100,120");
}

// A disk that fills before the second fragment: the file on the disk plays
// up to the first one (the first sample) whatever happens after.
TEST_F(FullDisk, UntilTheMovieIsFinishedTheFilePlaysUpToItsLastFragment) {
  const std::string file = "full-disk-fragment.mov";
  setLimit(uint64_t(1) << 30);
  open(folder() + file);
  ASSERT_EQ(add(0, 100), noErr);
  // The library's own thread puts the first sample's fragment on the disk
  // about a second later, with no further call.
  bool revealed = false;
  for (int i = 0; i < 300 && !revealed; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    revealed = showsAFragment(readFile(folder() + file));
  }
  ASSERT_TRUE(revealed) << "no fragment 30 s after the first sample";
  ASSERT_EQ(add(1, 120), noErr);
  setLimit(sizeOf(folder() + file));
  EXPECT_EQ(add(2, 95), dskFulErr);
  EXPECT_EQ(finish(), dskFulErr);
  // What a crash now would leave: copied aside for the readers.
  const std::vector<uint8_t> bytes = readFile(folder() + file);
  setLimit(uint64_t(1) << 40);
  std::ofstream(folder() + "crash-" + file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  std::ofstream(folder() + "crash-" + file + ".rgb", std::ios::binary)
      .write(reinterpret_cast<const char*>(pixels_.data()),
             std::streamsize(kSampleBytes));  // the first frame
  std::ofstream(folder() + "manifest.txt", std::ios::app)
      << "crash-" << file << " rawvideo " << kWidth << ' ' << kHeight << " 100 exact\n";
  // Room again: the whole movie.
  int16_t resId = movieInDataForkResID;
  EXPECT_EQ(AddMovieResource(movie_, refNum_, &resId, nullptr), noErr);
  close(file, "100,120");
}

TEST_F(FullDisk, AFileWithNoRoomForItsHeaderIsNotLeftBehind) {
  const std::string path = folder() + "full-disk-create.mov";
  setLimit(10);
  PascalPath name(path);
  FSSpec spec;
  FSMakeFSSpec(0, 0, name.name(), &spec);
  Movie movie = reinterpret_cast<Movie>(1);
  int16_t refNum = 99;
  EXPECT_EQ(CreateMovieFile(&spec, fourCC("TVOD"), -2, kCreateFlags, &refNum, &movie), dskFulErr);
  EXPECT_EQ(GetMoviesError(), dskFulErr);
  EXPECT_EQ(movie, nullptr);
  EXPECT_EQ(refNum, 0);
  EXPECT_FALSE(fileExists(path));
}

}  // namespace
