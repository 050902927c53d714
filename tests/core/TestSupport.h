// Fixtures shared by the core tests: sinks that record, count or fail,
// a tiny atom reader, pixel fixtures and a runner for ffprobe/ffmpeg.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Movies.h"
#include "QuickTimeTypes.h"
#include "Sink.h"

namespace test {

// Keeps every byte in memory.
class MemorySink : public qt::Sink {
 public:
  OSErr write(uint64_t offset, const void* data, size_t size) override;
  OSErr setLength(uint64_t length) override;
  OSErr flush() override;
  std::vector<uint8_t> bytes;
  int writes = 0;
  int flushes = 0;
};

// A memory sink that fails with `error` once armed: every call, only the
// `failAt`-th call from now on counting writes, lengths and flushes (1 is
// the next one), or only writes that would take the file past `limit` (a
// disk that fills up, which keeps the bytes that fitted).
class FailingSink : public MemorySink {
 public:
  OSErr write(uint64_t offset, const void* data, size_t size) override;
  OSErr setLength(uint64_t length) override;
  OSErr flush() override;
  bool failAll = false;
  int failAt = 0;
  uint64_t limit = UINT64_MAX;
  OSErr error = dskFulErr;

 private:
  bool failsNow();
};

// Keeps every call in order, so that the file can be rebuilt as it stood at
// any moment of its writing: after a crash, or a kill, at that moment.
class JournalSink : public MemorySink {
 public:
  OSErr write(uint64_t offset, const void* data, size_t size) override;
  OSErr setLength(uint64_t length) override;
  OSErr flush() override;
  struct Entry {
    // A flush is entered when it is done; what was written before it
    // started is then on the disk.
    enum Kind { kWrite, kLength, kFlush } kind;
    uint64_t offset;  // where a write went; the new length; where a flush started
    std::vector<uint8_t> bytes;
  };
  std::vector<Entry> journal;
};

// A clock that tests move by hand, for movies whose keeper they drive.
struct ManualClock {
  std::shared_ptr<uint64_t> now = std::make_shared<uint64_t>(1000000);
  void advance(uint64_t ms) { *now += ms; }
  std::function<uint64_t()> function() const {
    auto n = now;
    return [n] { return *n; };
  }
};
// Options for a movie without the keeper thread, on `clock`.
qt::MovieOptions drivenOptions(const ManualClock& clock);

// Records writes smaller than kKeepBelow bytes (headers, movie atoms) in
// order and only counts the rest, so a movie can pass 4 GiB without storing it.
class CountingSink : public qt::Sink {
 public:
  static constexpr size_t kKeepBelow = 1 << 20;
  OSErr write(uint64_t offset, const void* data, size_t size) override;
  OSErr setLength(uint64_t length) override;
  OSErr flush() override { return noErr; }
  // `n` bytes at `at` as the kept writes left them; 0 where only counted.
  std::vector<uint8_t> read(uint64_t at, size_t n) const;
  std::vector<std::pair<uint64_t, std::vector<uint8_t>>> kept;
  uint64_t lastMovieAtom = 0;  // where the last write starting with a moov atom went
  uint64_t bytesWritten = 0;
  uint64_t length = 0;
};

// Writes the sink's bytes to a file in the build folder; returns its path.
std::string saveFile(const std::string& name, const std::vector<uint8_t>& bytes);
std::string outputPath(const std::string& name);

// Runs a shell command and returns its standard output.
std::string run(const std::string& command);

// Atoms of a movie file, found by path such as "moov/trak/mdia/mdhd".
struct AtomRef {
  size_t offset = 0;  // start of the header
  size_t size = 0;    // whole atom
  size_t header = 8;
  bool found = false;
};
AtomRef findAtom(const std::vector<uint8_t>& file, const std::string& path);

// The top-level atoms from the start of the file, as a reader walks them. A
// size of 0 runs to the end of the file; the walk stops at an atom that does
// not fit.
struct TopAtom {
  std::string type;
  uint64_t offset = 0;
  uint64_t size = 0;
};
std::vector<TopAtom> topLevelAtoms(const std::vector<uint8_t>& file);
// Their types joined by spaces: "ftyp wide mdat moov".
std::string atomLayout(const std::vector<uint8_t>& file);
uint32_t be32At(const std::vector<uint8_t>& b, size_t at);
uint64_t be64At(const std::vector<uint8_t>& b, size_t at);

// A BGRX image in memory, rows top-down.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgrx;
  uint8_t* row(int y) { return bgrx.data() + size_t(y) * size_t(width) * 4; }
  const uint8_t* row(int y) const { return bgrx.data() + size_t(y) * size_t(width) * 4; }
  void set(int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t x4 = 0xA5);
};

// 6 x 5 "F", red on blue: any flip, transposition or R/B swap shows.
Image letterF();
// Noise with runs, the worst case for run-length coding.
Image noise(int width, int height, uint32_t seed, int runChance = 3);
// A synthetic screen: flat panels, text-like strokes, a gradient.
Image screenLike(int width, int height, uint32_t seed);

// RGB24 rows, as decoders give them, from an image.
std::vector<uint8_t> toRgb(const Image& img);

}  // namespace test

namespace test {

// An image description handle filled the way the compressor fills it.
ImageDescriptionHandle makeDescription(OSType codec, int16_t width, int16_t height, int16_t depth = 24);

// Everything one movie needs, made through the public operations.
struct MovieParts {
  std::shared_ptr<qt::Sink> sink;
  Movie movie = nullptr;
  Track track = nullptr;
  Media media = nullptr;
};
// Options for a movie whose time never passes: no keeper thread, no
// fragment ever due, so its file is a function of its calls alone.
qt::MovieOptions stillOptions();
// Creates movie, track (width x height) and 'vide' media at `scale`, edits
// begun; by default with stillOptions().
MovieParts makeMovie(std::shared_ptr<qt::Sink> sink, int width, int height, TimeScale scale = 1000,
                     const qt::MovieOptions& options = stillOptions());
// Ends edits, inserts the whole media and writes the movie resource.
OSErr finishMovie(MovieParts& parts);

}  // namespace test
