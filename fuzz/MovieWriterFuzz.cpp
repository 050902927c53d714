// Stateful fuzzing of the movie writer: the input becomes a sequence of calls
// on one movie written into memory (good and bad samples, odd durations, a
// disk that fails for one step, edits, the movie resource). A small model
// says which calls must succeed and which must be refused; every refused call
// must leave the file as it was; after every step the file as it stands, as
// a crash would leave it, must read in libavformat as at least the samples
// its fragments on the disk hold; and the finished file is read back whole, its
// packets exactly the samples that were accepted. Any difference prints one
// line and aborts.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "AvDecode.h"
#include "AvDemux.h"
#include "Codecs.h"
#include "Handles.h"
#include "Movies.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr int kMaxSide = 64;
constexpr int kMaxSteps = 16;
constexpr TimeScale kScale = 1000;
// No run writes more than this; a write past it is a wild offset, not data.
constexpr uint64_t kMaxFile = 64u << 20;
// ftyp and wide, before the first mdat.
constexpr size_t kFileHeader = 28;

const OSType kCodecs[] = {kAnimationCodecType, kRawCodecType, kJPEGCodecType, kPNGCodecType};

[[noreturn]] __attribute__((format(printf, 1, 2))) void fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::abort();
}

const char* name(OSType t) {
  static char s[5];
  for (int i = 0; i < 4; ++i) s[i] = char(t >> (24 - 8 * i));
  s[4] = 0;
  return s;
}

// A file in memory whose writes can fail: past `limit` (a full disk, which
// keeps the bytes that fitted) or on one chosen call (an I/O error, which
// keeps half of them).
class FuzzSink : public qt::Sink {
 public:
  OSErr write(uint64_t offset, const void* data, size_t size) override {
    ++calls;
    if (offset > kMaxFile || size > kMaxFile - offset)
      fail("write of %zu bytes at %llu, far past any file this run makes", size, (unsigned long long)offset);
    const bool full = offset + size > limit;
    if (full || calls == failCall) {
      ++failures;
      lastError = full ? dskFulErr : error;
      store(offset, data, full ? size_t(offset < limit ? limit - offset : 0) : size / 2);
      return lastError;
    }
    store(offset, data, size);
    return noErr;
  }
  OSErr setLength(uint64_t length) override {
    ++calls;
    if (length > kMaxFile) fail("file length set to %llu", (unsigned long long)length);
    if (length > limit || calls == failCall) {
      ++failures;
      lastError = length > limit ? dskFulErr : error;
      return lastError;
    }
    bytes.resize(size_t(length));
    return noErr;
  }
  OSErr flush() override {
    ++calls;
    if (calls == failCall) {
      ++failures;
      lastError = error;
      return lastError;
    }
    return noErr;
  }
  void recover() {
    limit = UINT64_MAX;
    failCall = 0;
  }
  std::vector<uint8_t> bytes;
  int calls = 0;
  int failures = 0;
  uint64_t limit = UINT64_MAX;
  int failCall = 0;  // 1-based count of calls; 0: none
  OSErr error = ioErr;
  OSErr lastError = noErr;

 private:
  void store(uint64_t offset, const void* data, size_t size) {
    if (size == 0) return;
    if (bytes.size() < offset + size) bytes.resize(size_t(offset + size));
    std::memcpy(bytes.data() + offset, data, size);
  }
};

// What a sample description decides for the whole media.
struct Format {
  OSType cType = 0;
  int16_t width = 0;
  int16_t height = 0;
  int16_t depth = 0;
  bool operator!=(const Format& o) const {
    return cType != o.cType || width != o.width || height != o.height || depth != o.depth;
  }
};

struct Sample {
  std::vector<uint8_t> bytes;
  TimeValue duration = 0;
};

// What the file must hold, kept apart from the library's own records.
struct Model {
  bool inEdits = false;
  bool resourceWritten = false;
  // AddMovieResource got past its arguments once: the movie takes nothing
  // more, whether it succeeded or not.
  bool finishing = false;
  bool haveFormat = false;
  Format format;
  std::vector<Sample> samples;
  uint64_t total = 0;
  TimeValue edit = 0;
};

// The errors a call may return; empty when it must succeed.
struct Reasons {
  std::vector<OSErr> codes;
  void add(OSErr e) { codes.push_back(e); }
  bool empty() const { return codes.empty(); }
  bool allows(OSErr e) const { return std::find(codes.begin(), codes.end(), e) != codes.end(); }
};

enum class Outcome { kAccepted, kRefused, kTorn };

// Checks a call's result against the reasons it had to fail and against what
// the sink did during it.
Outcome judge(const char* what, OSErr err, const Reasons& why, const FuzzSink& sink, int failuresBefore) {
  if (qt::GetMoviesError() != err)
    fail("%s returned %d but GetMoviesError says %d", what, err, qt::GetMoviesError());
  if (sink.failures != failuresBefore) {
    if (!why.empty()) fail("%s had to be refused (e.g. %d) but wrote to the file", what, why.codes[0]);
    if (err != sink.lastError)
      fail("%s: the file failed with %d, the call returned %d", what, sink.lastError, err);
    return Outcome::kTorn;
  }
  if (why.empty()) {
    if (err != noErr) fail("%s returned %d where nothing was wrong", what, err);
    return Outcome::kAccepted;
  }
  if (!why.allows(err))
    fail("%s returned %d; it had to fail with %d or another of its reasons", what, err, why.codes[0]);
  return Outcome::kRefused;
}

void expectSame(const char* what, const std::vector<uint8_t>& now, const std::vector<uint8_t>& before) {
  if (now != before)
    fail("%s changed the file (%zu bytes, was %zu) although it did not succeed", what, now.size(),
         before.size());
}

// The pixels of one frame: runs and noise from a seed, so every codec has
// something to do.
void makeImage(std::vector<uint8_t>& bgrx, int width, int height, uint32_t seed) {
  uint32_t s = seed * 2654435761u + 1;
  auto next = [&s] {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  };
  for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
    uint8_t* p = bgrx.data() + i * 4;
    if (i > 0 && next() % 4 != 0) {
      std::memcpy(p, p - 4, 4);
    } else {
      const uint32_t v = next();
      std::memcpy(p, &v, 4);
    }
  }
}

// Handles kept for the life of the process: the library never frees a
// handle's record, so making them once keeps long runs from growing.
struct Handles {
  PixMapHandle pixMap = reinterpret_cast<PixMapHandle>(qt::NewHandle(sizeof(PixMap)));
  Handle data = qt::NewHandle(0);
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(0));
  ImageDescriptionHandle altered =
      reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(sizeof(ImageDescription)));
  ImageDescriptionHandle tiny = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(4));
  Handle disposed = qt::NewHandle(16);
  Handles() { qt::DisposeHandle(disposed); }
};

Handles& handles() {
  static Handles* h = new Handles;
  return *h;
}

// Ways to get a sample wrong (or, for kSubRange and kQualityAndSize,
// differently right). From kIdSizePastHandle on, each alters a copy of the
// frame's description.
enum Variant {
  kSizePastData,
  kSizeOver2G,
  kZeroSize,
  kNegativeOffset,
  kOffsetPastData,
  kNullData,
  kDisposedData,
  kNullDescription,
  kTinyDescription,
  kTwoSamples,
  kNotSync,
  kNullMedia,
  kSubRange,  // part of the frame's bytes: still a sample
  kIdSizePastHandle,
  kIdSizeTooSmall,
  kZeroWidth,
  kNegativeHeight,
  kNoCodec,
  kOtherCodec,
  kOtherWidth,
  kOtherHeight,
  kOtherDepth,
  kQualityAndSize,  // fields a later frame may change
  kVariantCount
};

TimeValue takeDuration(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 4:
      return 0;
    case 5:
      return in.ConsumeIntegralInRange<TimeValue>(INT32_MIN, -1);
    case 6:
      return INT32_MAX - in.ConsumeIntegralInRange<TimeValue>(0, 5000);
    case 7:
      return in.ConsumeIntegral<TimeValue>();
    default:
      return in.ConsumeIntegralInRange<TimeValue>(1, 2000);
  }
}

struct Frame {
  std::vector<uint8_t> bytes;
  ImageDescription desc{};
};

std::unordered_map<uint64_t, Frame>& frameCache() {
  static auto* cache = new std::unordered_map<uint64_t, Frame>;
  return *cache;
}

class Run {
 public:
  explicit Run(FuzzedDataProvider& in) : in_(in), h_(handles()) {}
  void go();

 private:
  void compressFrame();
  Frame compress(uint8_t seed);
  void addSample(bool good);
  void endEdits();
  void beginEdits();
  void insertMedia();
  void addResource(bool clean);
  void newTrack();
  void armFault();
  void afterStep(const char* what);
  void checkAsCrashLeavesIt(const char* what);
  void checkFile();
  void checkWithLibav();

  FuzzedDataProvider& in_;
  Handles& h_;
  std::shared_ptr<FuzzSink> sink_ = std::make_shared<FuzzSink>();
  FuzzSink other_;
  Model m_;
  Movie movie_ = nullptr;
  Track track_ = nullptr;
  Media media_ = nullptr;
  OSType codec_ = 0;
  int width_ = 0;
  int height_ = 0;
  CodecQ quality_ = 0;
  std::vector<uint8_t> image_;
  Frame frames_[2];
  int32_t pad_ = 0;        // bytes before the frame in the data handle
  int32_t frameSize_ = 0;  // the compressed frame
  int32_t dataSize_ = 0;   // the data handle's size
  std::vector<uint8_t> before_;
  uint64_t clock_ = 0;  // the keeper's, in ms
  int callsBefore_ = 0;
  bool wasWritten_ = false;           // the movie resource, before this step
  std::vector<uint8_t> checkedFile_;  // the file when a crash was last checked
  uint32_t checkedSamples_ = 0;
};

void Run::compressFrame() {
  // Two frames per run at most, each compressed once per process: the codecs
  // have their own fuzzer, and here the time belongs to the writer. A frame
  // depends only on codec, size, quality and seed, so a cached one is the
  // frame compressing would give.
  Frame& frame = frames_[in_.ConsumeBool() ? 1 : 0];
  if (frame.bytes.empty()) {
    const uint8_t seed = in_.ConsumeIntegral<uint8_t>();
    const uint64_t key = uint64_t(codec_) << 32 | uint64_t(width_) << 24 | uint64_t(height_) << 16 |
                         uint64_t(quality_ >> 8) << 8 | seed;
    auto& cache = frameCache();
    auto it = cache.find(key);
    if (it == cache.end()) {
      if (cache.size() >= 1024) cache.clear();
      it = cache.emplace(key, compress(seed)).first;
    }
    frame = it->second;
  }
  // The frame somewhere inside the data handle, with bytes on either side.
  frameSize_ = int32_t(frame.bytes.size());
  pad_ = in_.ConsumeIntegralInRange<int32_t>(0, 8);
  dataSize_ = pad_ + frameSize_ + in_.ConsumeIntegralInRange<int32_t>(0, 8);
  if (qt::SetHandleSize(h_.data, dataSize_)) fail("SetHandleSize %d", dataSize_);
  std::memset(*h_.data, 0xEE, size_t(dataSize_));
  std::memcpy(*h_.data + pad_, frame.bytes.data(), frame.bytes.size());
  if (qt::SetHandleSize(reinterpret_cast<Handle>(h_.desc), sizeof(ImageDescription))) fail("SetHandleSize");
  std::memcpy(*h_.desc, &frame.desc, sizeof frame.desc);
}

Frame Run::compress(uint8_t seed) {
  makeImage(image_, width_, height_, seed);
  Rect r{0, 0, int16_t(height_), int16_t(width_)};
  int32_t max = 0;
  if (OSErr err = qt::GetMaxCompressionSize(h_.pixMap, &r, 0, quality_, codec_, nullptr, &max))
    fail("GetMaxCompressionSize %s %dx%d: %d", name(codec_), width_, height_, err);
  if (qt::SetHandleSize(h_.data, max)) fail("SetHandleSize %d", max);
  if (OSErr err = qt::CompressImage(h_.pixMap, &r, quality_, codec_, h_.desc, *h_.data))
    fail("CompressImage %s %dx%d: %d", name(codec_), width_, height_, err);
  const int32_t n = (**h_.desc).dataSize;
  if (n <= 0 || n > max) fail("CompressImage %s gave %d bytes, at most %d", name(codec_), n, max);
  Frame frame;
  frame.bytes.assign(*h_.data, *h_.data + n);
  std::memcpy(&frame.desc, *h_.desc, sizeof frame.desc);
  return frame;
}

void Run::addSample(bool good) {
  compressFrame();
  Media media = media_;
  Handle data = h_.data;
  int32_t offset = pad_;
  uint32_t size = uint32_t(frameSize_);
  TimeValue duration = takeDuration(in_);
  ImageDescriptionHandle desc = h_.desc;
  int32_t count = 1;
  int16_t flags = 0;
  int32_t handleSize = dataSize_;
  const Variant v = good ? kVariantCount : Variant(in_.ConsumeIntegralInRange<int>(0, kVariantCount - 1));
  if (v >= kIdSizePastHandle && v < kVariantCount) {
    std::memcpy(*h_.altered, *h_.desc, sizeof(ImageDescription));
    desc = h_.altered;
  }
  ImageDescription& a = **h_.altered;
  switch (v) {
    case kSizePastData:
      size = uint32_t(handleSize - offset + in_.ConsumeIntegralInRange(1, 100));
      break;
    case kSizeOver2G:
      size = 0x80000000u + in_.ConsumeIntegral<uint16_t>();
      break;
    case kZeroSize:
      size = 0;
      break;
    case kNegativeOffset:
      offset = in_.ConsumeIntegralInRange<int32_t>(INT32_MIN, -1);
      break;
    case kOffsetPastData:
      offset = handleSize - int32_t(size) + in_.ConsumeIntegralInRange(1, 100);
      break;
    case kNullData:
      data = nullptr;
      break;
    case kDisposedData:
      data = h_.disposed;
      break;
    case kNullDescription:
      desc = nullptr;
      break;
    case kTinyDescription:
      desc = h_.tiny;
      break;
    case kIdSizePastHandle:
      a.idSize = sizeof(ImageDescription) + in_.ConsumeIntegralInRange(1, 1000);
      break;
    case kIdSizeTooSmall:
      a.idSize = in_.ConsumeIntegralInRange<int32_t>(INT32_MIN, sizeof(ImageDescription) - 1);
      break;
    case kZeroWidth:
      a.width = 0;
      break;
    case kNegativeHeight:
      a.height = in_.ConsumeIntegralInRange<int16_t>(INT16_MIN, -1);
      break;
    case kNoCodec:
      a.cType = 0;
      break;
    case kTwoSamples:
      count = in_.ConsumeBool() ? 0 : in_.ConsumeIntegralInRange(2, 100);
      break;
    case kNotSync:
      flags = in_.ConsumeIntegralInRange<int16_t>(1, INT16_MAX);
      break;
    case kNullMedia:
      media = nullptr;
      break;
    case kOtherCodec:
      a.cType = kCodecs[in_.ConsumeIntegralInRange(0, 3)];
      break;
    case kOtherWidth:
      a.width = in_.ConsumeIntegralInRange<int16_t>(1, kMaxSide);
      break;
    case kOtherHeight:
      a.height = in_.ConsumeIntegralInRange<int16_t>(1, kMaxSide);
      break;
    case kOtherDepth:
      a.depth = a.depth == 24 ? 32 : 24;
      break;
    case kQualityAndSize:
      a.spatialQuality = in_.ConsumeIntegral<CodecQ>();
      a.dataSize = in_.ConsumeIntegral<int32_t>();
      break;
    case kSubRange: {
      const int32_t skip = in_.ConsumeIntegralInRange<int32_t>(0, frameSize_ - 1);
      offset += skip;
      size = uint32_t(in_.ConsumeIntegralInRange<int32_t>(1, frameSize_ - skip));
      break;
    }
    default:
      break;
  }

  // Why this call must fail, from the arguments alone.
  Reasons why;
  bool descValid = false;
  Format format;
  if (!media) {
    why.add(invalidMedia);
  } else {
    if (m_.finishing) why.add(dataNotOpenForWrite);
    if (!m_.inEdits) why.add(invalidEditState);
    if (!data) {
      why.add(nilHandleErr);
    } else if (data == h_.disposed) {
      why.add(memWZErr);
    } else if (offset < 0 || size == 0 || size > uint32_t(INT32_MAX) ||
               int64_t(offset) + int64_t(size) > int64_t(handleSize)) {
      why.add(paramErr);
    }
    if (duration <= 0) why.add(invalidDuration);
    if (count != 1 || flags != 0) why.add(paramErr);
    if (!desc) {
      why.add(nilHandleErr);
    } else if (desc == h_.tiny) {
      why.add(badImageDescription);
    } else {
      // Every description handle here holds exactly one record, so any
      // other size either claims too little or more than the handle has.
      const ImageDescription& d = **desc;
      if (d.idSize != int32_t(sizeof(ImageDescription)) || d.cType == 0 || d.width <= 0 || d.height <= 0) {
        why.add(badImageDescription);
      } else {
        descValid = true;
        format = Format{d.cType, d.width, d.height, d.depth};
        if (m_.haveFormat && format != m_.format) why.add(invalidSampleDescription);
      }
    }
    if (duration > 0 && m_.total + uint64_t(duration) > uint64_t(INT32_MAX)) why.add(invalidDuration);
  }

  std::vector<uint8_t> bytes;
  if (why.empty()) bytes.assign(*data + offset, *data + offset + size);
  const int failures = sink_->failures;
  TimeValue when = -1;
  const OSErr err = qt::AddMediaSample(media, data, offset, size, duration, desc, count, flags, &when);
  switch (judge("AddMediaSample", err, why, *sink_, failures)) {
    case Outcome::kAccepted:
      if (when != TimeValue(m_.total))
        fail("sample time %d, expected %llu", when, (unsigned long long)m_.total);
      if (!descValid) fail("a sample without a valid description was accepted");
      if (!m_.haveFormat) {
        m_.haveFormat = true;
        m_.format = format;
      }
      m_.samples.push_back(Sample{bytes, duration});
      m_.total += uint64_t(duration);
      break;
    case Outcome::kRefused:
      expectSame("AddMediaSample", sink_->bytes, before_);
      break;
    case Outcome::kTorn:
      break;
  }
}

void Run::endEdits() {
  Reasons why;
  if (!m_.inEdits) why.add(invalidEditState);
  const int failures = sink_->failures;
  const OSErr err = qt::EndMediaEdits(media_);
  if (judge("EndMediaEdits", err, why, *sink_, failures) == Outcome::kAccepted) m_.inEdits = false;
  expectSame("EndMediaEdits", sink_->bytes, before_);
}

void Run::beginEdits() {
  Reasons why;
  if (m_.finishing) why.add(dataNotOpenForWrite);
  const int failures = sink_->failures;
  const OSErr err = qt::BeginMediaEdits(media_);
  if (judge("BeginMediaEdits", err, why, *sink_, failures) == Outcome::kAccepted) m_.inEdits = true;
  expectSame("BeginMediaEdits", sink_->bytes, before_);
}

void Run::insertMedia() {
  Track track = track_;
  TimeValue start = 0, mediaTime = 0;
  TimeValue duration = TimeValue(m_.total);
  Fixed rate = 0x10000;
  switch (in_.ConsumeIntegralInRange(0, 7)) {
    case 1:
      duration = in_.ConsumeIntegralInRange<TimeValue>(0, TimeValue(m_.total));
      break;
    case 2:
      // Past the media's end, where a 32-bit value can get there.
      duration =
          TimeValue(std::min<int64_t>(int64_t(m_.total) + in_.ConsumeIntegralInRange(1, 1000), INT32_MAX));
      break;
    case 3:
      duration = in_.ConsumeIntegralInRange<TimeValue>(INT32_MIN, -1);
      break;
    case 4:
      start = in_.ConsumeIntegralInRange<TimeValue>(1, INT32_MAX);
      break;
    case 5:
      mediaTime = in_.ConsumeBool() ? -1 : in_.ConsumeIntegralInRange<TimeValue>(1, INT32_MAX);
      break;
    case 6:
      rate = in_.ConsumeBool() ? 0 : 0x10000 + in_.ConsumeIntegralInRange<Fixed>(1, 0x70000);
      break;
    case 7:
      track = nullptr;
      break;
    default:
      break;
  }
  Reasons why;
  bool inserts = false;
  if (!track) {
    why.add(invalidTrack);
  } else {
    if (m_.finishing) why.add(dataNotOpenForWrite);
    if (start != 0 || mediaTime != 0 || rate != 0x10000) why.add(paramErr);
    if (duration < 0 || uint64_t(duration) > m_.total) why.add(invalidDuration);
    if (why.empty() && duration > 0) {
      if (m_.edit > 0)
        why.add(badEditList);
      else
        inserts = true;
    }
  }
  const int failures = sink_->failures;
  const OSErr err = qt::InsertMediaIntoTrack(track, start, mediaTime, duration, rate);
  if (judge("InsertMediaIntoTrack", err, why, *sink_, failures) == Outcome::kAccepted && inserts)
    m_.edit = duration;
  expectSame("InsertMediaIntoTrack", sink_->bytes, before_);
}

void Run::addResource(bool clean) {
  Movie movie = movie_;
  qt::Sink* file = sink_.get();
  int16_t resId = movieInDataForkResID;
  if (!clean) {
    switch (in_.ConsumeIntegralInRange(0, 7)) {
      case 1:
        file = &other_;
        break;
      case 2:
        file = nullptr;
        break;
      case 3:
        resId = in_.ConsumeIntegralInRange<int16_t>(0, INT16_MAX);
        break;
      case 4:
        movie = nullptr;
        break;
      default:
        break;
    }
  }
  Reasons why;
  if (!movie) {
    why.add(invalidMovie);
  } else {
    if (file != sink_.get() || resId != movieInDataForkResID) why.add(paramErr);
    if (m_.resourceWritten) why.add(dataNotOpenForWrite);
  }
  const int failures = sink_->failures;
  const OSErr err = qt::AddMovieResource(movie, file, resId, nullptr);
  if (why.empty()) m_.finishing = true;
  if (other_.calls != 0) fail("AddMovieResource wrote to a file the movie is not in");
  switch (judge("AddMovieResource", err, why, *sink_, failures)) {
    case Outcome::kAccepted:
      m_.resourceWritten = true;
      break;
    case Outcome::kRefused:
      expectSame("AddMovieResource", sink_->bytes, before_);
      break;
    case Outcome::kTorn:
      break;
  }
}

void Run::newTrack() {
  Reasons why;
  if (m_.finishing) why.add(dataNotOpenForWrite);
  Track extra = nullptr;
  const int failures = sink_->failures;
  const OSErr err = qt::NewMovieTrack(movie_, 16 << 16, 16 << 16, 0, &extra);
  if (judge("NewMovieTrack", err, why, *sink_, failures) != Outcome::kAccepted && extra)
    fail("a refused NewMovieTrack gave a track");
  expectSame("NewMovieTrack", sink_->bytes, before_);
}

void Run::armFault() {
  if (in_.ConsumeBool()) {
    sink_->limit = sink_->bytes.size() + in_.ConsumeIntegralInRange<uint64_t>(0, 2 * kMaxSide * kMaxSide * 3);
  } else {
    static const OSErr kErrors[] = {ioErr, wrPermErr, dskFulErr};
    sink_->failCall = sink_->calls + in_.ConsumeIntegralInRange(1, 3);
    sink_->error = kErrors[in_.ConsumeIntegralInRange(0, 2)];
  }
}

void Run::afterStep(const char* what) {
  if (wasWritten_ && sink_->calls != callsBefore_) fail("%s touched a finished file", what);
  const TimeValue d = qt::GetMediaDuration(media_);
  if (uint64_t(d) != m_.total || qt::GetMoviesError() != noErr)
    fail("after %s the media lasts %d, the accepted samples %llu", what, d, (unsigned long long)m_.total);
  const TimeValue movieDuration = qt::GetMovieDuration(movie_);
  if (movieDuration != m_.edit)
    fail("after %s the movie lasts %d, the edit %d", what, movieDuration, m_.edit);
  checkAsCrashLeavesIt(what);
}

// The file as it stands now is what a crash would leave: whatever its last
// fragment promised must play, sample for sample.
void Run::checkAsCrashLeavesIt(const char* what) {
  qt::CheckpointReport report;
  if (OSErr err = qt::GetCheckpointReport(media_, &report)) fail("GetCheckpointReport: %d", err);
  if (report.coveredSamples > m_.samples.size())
    fail("after %s the fragments hold %u samples of %zu", what, report.coveredSamples, m_.samples.size());
  if (report.coveredSamples == 0) return;
  // Reading the file is the slow part: only a file or a promise that changed.
  if (report.coveredSamples == checkedSamples_ && sink_->bytes == checkedFile_) return;
  checkedSamples_ = report.coveredSamples;
  checkedFile_ = sink_->bytes;
  const test::DemuxedMovie movie = test::avDemux(sink_->bytes, true);
  if (!movie.opened)
    fail("after %s a crash leaves a file libavformat cannot open: %s", what, movie.error.c_str());
  if (movie.packets.size() < report.coveredSamples || movie.packets.size() > m_.samples.size())
    fail("after %s a crash leaves %zu samples; %u were promised, %zu accepted", what, movie.packets.size(),
         report.coveredSamples, m_.samples.size());
  for (size_t i = 0; i < movie.packets.size(); ++i) {
    const test::DemuxedPacket& p = movie.packets[i];
    // Samples read from fragments come without a duration of their own.
    if (p.bytes != m_.samples[i].bytes || (p.duration != 0 && p.duration != m_.samples[i].duration))
      fail("after %s a crash leaves packet %zu unlike sample %zu", what, i, i);
  }
}

void Run::go() {
  codec_ = kCodecs[in_.ConsumeIntegralInRange(0, 3)];
  width_ = in_.ConsumeIntegralInRange(1, kMaxSide);
  height_ = in_.ConsumeIntegralInRange(1, kMaxSide);
  quality_ = CodecQ(in_.ConsumeIntegralInRange(0, 4)) * 0x100;
  image_.assign(size_t(width_) * size_t(height_) * 4, 0);
  PixMap& pm = **h_.pixMap;
  std::memset(&pm, 0, sizeof pm);
  pm.baseAddr = reinterpret_cast<Ptr>(image_.data());
  pm.rowBytes = int16_t(kPixMapFlag | (width_ * 4));
  pm.bounds = Rect{0, 0, int16_t(height_), int16_t(width_)};
  pm.pixelSize = 32;
  pm.cmpCount = 3;
  pm.cmpSize = 8;
  pm.pixelFormat = k32BGRAPixelFormat;
  pm.rowStride = width_ * 4;

  // The file header may meet a failing disk too; the movie is then made again.
  // The keeper's turns come with the samples, on a clock the input moves, so
  // fragments fall between any two calls.
  qt::MovieOptions options;
  options.creationTime = 0xC0FFEE00u;
  options.keeperThread = false;
  options.clock = [this] { return clock_; };
  if (in_.ConsumeBool()) {
    armFault();
    const int failures = sink_->failures;
    movie_ = reinterpret_cast<Movie>(1);
    const OSErr err = qt::CreateMovieInSink(sink_, options, &movie_);
    if (sink_->failures != failures) {
      if (err != sink_->lastError || movie_ != nullptr)
        fail("CreateMovieInSink on a failing file: %d, movie %p", err, static_cast<void*>(movie_));
    } else if (err != noErr) {
      fail("CreateMovieInSink returned %d", err);
    } else {
      qt::DisposeMovie(movie_);
    }
    sink_->recover();
  }
  if (OSErr err = qt::CreateMovieInSink(sink_, options, &movie_)) fail("CreateMovieInSink: %d", err);
  if (OSErr err = qt::NewMovieTrack(movie_, width_ << 16, height_ << 16, 0, &track_))
    fail("NewMovieTrack: %d", err);
  if (OSErr err = qt::NewTrackMedia(track_, VideoMediaType, kScale, nullptr, 0, &media_))
    fail("NewTrackMedia: %d", err);
  if (OSErr err = qt::BeginMediaEdits(media_)) fail("BeginMediaEdits: %d", err);
  m_.inEdits = true;

  bool faultArmed = false;
  for (int step = 0; step < kMaxSteps && in_.remaining_bytes() > 0; ++step) {
    before_ = sink_->bytes;
    clock_ += in_.ConsumeIntegralInRange<uint64_t>(0, 1500);
    callsBefore_ = sink_->calls;
    wasWritten_ = m_.resourceWritten;
    const char* what = "";
    switch (in_.ConsumeIntegralInRange(0, 11)) {
      case 0:
      case 1:
      case 2:
      case 3:
        what = "AddMediaSample";
        addSample(true);
        break;
      case 4:
      case 5:
        what = "AddMediaSample";
        addSample(false);
        break;
      case 6:
        what = "EndMediaEdits";
        endEdits();
        break;
      case 7:
        what = "BeginMediaEdits";
        beginEdits();
        break;
      case 8:
        what = "InsertMediaIntoTrack";
        insertMedia();
        break;
      case 9:
        what = "AddMovieResource";
        addResource(false);
        break;
      case 10:
        what = "NewMovieTrack";
        newTrack();
        break;
      case 11:
        // The disk fails during the next step only.
        armFault();
        faultArmed = true;
        continue;
    }
    afterStep(what);
    if (faultArmed) {
      sink_->recover();
      faultArmed = false;
    }
  }
  sink_->recover();
  if (!m_.resourceWritten) {
    before_ = sink_->bytes;
    callsBefore_ = sink_->calls;
    wasWritten_ = m_.resourceWritten;
    addResource(true);
    afterStep("the closing AddMovieResource");
  }
  checkFile();
  const std::vector<uint8_t> finished = sink_->bytes;
  if (qt::DisposeMovie(movie_)) fail("DisposeMovie: %d", qt::GetMoviesError());
  if (sink_->bytes != finished) fail("DisposeMovie changed the file");
  // What the movie handed out is now refused, not dereferenced.
  if (qt::AddMediaSample(media_, h_.data, pad_, uint32_t(frameSize_), 1, h_.desc, 1, 0, nullptr) !=
          invalidMedia ||
      qt::InsertMediaIntoTrack(track_, 0, 0, 0, 0x10000) != invalidTrack ||
      qt::AddMovieResource(movie_, sink_.get(), movieInDataForkResID, nullptr) != invalidMovie ||
      qt::DisposeMovie(movie_) != invalidMovie)
    fail("a disposed movie's references were taken: %d", qt::GetMoviesError());
  if (sink_->bytes != finished || sink_.use_count() != 1)
    fail("the disposed movie still holds or writes its file");
}

uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// The top-level atoms must tile the file as a reader walks it: ftyp and
// wide, one mdat that holds the samples (and, as dead bytes, whatever kept
// the file readable while they came), and the movie atom last. What the
// samples are is libavformat's to say.
void Run::checkFile() {
  const std::vector<uint8_t>& f = sink_->bytes;
  if (f.size() < kFileHeader || std::memcmp(f.data() + 4, "ftyp", 4) != 0 ||
      std::memcmp(f.data() + 24, "wide", 4) != 0)
    fail("the file does not start with ftyp and wide");
  size_t at = kFileHeader;
  std::string layout;
  while (at < f.size()) {
    if (at + 8 > f.size()) fail("a partial atom header at %zu", at);
    const uint32_t size = be32(f, at);
    if (size < 8 || at + size > f.size())
      fail("atom at %zu of %u bytes in a file of %zu", at, size, f.size());
    layout.append(reinterpret_cast<const char*>(f.data() + at + 4), 4);
    at += size;
  }
  if (layout != "mdatmoov") fail("after ftyp and wide the file holds '%s'", layout.c_str());
  checkWithLibav();
}

void Run::checkWithLibav() {
  // An edit that covers only part of the media makes libav drop the rest;
  // the packets are then compared as stored and the edit through the
  // movie's duration.
  const bool partialEdit = m_.edit != 0 && uint64_t(m_.edit) != m_.total;
  const test::DemuxedMovie movie = test::avDemux(sink_->bytes, partialEdit);
  if (!movie.opened)
    fail("libavformat cannot open the file (%zu bytes): %s", sink_->bytes.size(), movie.error.c_str());
  const Format expected =
      m_.haveFormat ? m_.format : Format{kAnimationCodecType, int16_t(width_), int16_t(height_), 24};
  if (movie.streams != 1) fail("%u streams", movie.streams);
  if (movie.timeBaseNum != 1 || movie.timeBaseDen != kScale)
    fail("time base %d/%d", movie.timeBaseNum, movie.timeBaseDen);
  if (movie.codec != test::avCodecId(expected.cType))
    fail("codec %s read as %s", name(expected.cType), avcodec_get_name(movie.codec));
  if (movie.width != expected.width || movie.height != expected.height)
    fail("%dx%d read as %dx%d", expected.width, expected.height, movie.width, movie.height);
  if (movie.durationUs != int64_t(m_.edit) * (1000000 / kScale))
    fail("movie duration %lld us, the edit %d ms", (long long)movie.durationUs, m_.edit);
  if (!movie.error.empty()) fail("reading the packets: %s", movie.error.c_str());
  if (movie.packets.size() != m_.samples.size())
    fail("%zu packets for %zu samples", movie.packets.size(), m_.samples.size());
  int64_t pts = 0;
  for (size_t n = 0; n < movie.packets.size(); ++n) {
    const test::DemuxedPacket& p = movie.packets[n];
    const Sample& s = m_.samples[n];
    if (p.duration != s.duration)
      fail("packet %zu lasts %lld, the sample %d", n, (long long)p.duration, s.duration);
    if (p.pts != pts) fail("packet %zu at %lld, expected %lld", n, (long long)p.pts, (long long)pts);
    if (p.bytes != s.bytes)
      fail("packet %zu: %zu bytes that differ from the sample's %zu", n, p.bytes.size(), s.bytes.size());
    pts += s.duration;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_log_set_level(AV_LOG_QUIET);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Run(in).go();
  return 0;
}
