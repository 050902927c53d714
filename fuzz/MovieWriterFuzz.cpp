// Stateful fuzzing of the movie writer: the input becomes a sequence of calls
// on one movie written into memory (good and bad samples, odd durations, a
// disk that fails for one step, edits, the movie resource). A small model
// says which calls must succeed and which must be refused; every refused call
// must leave the file as it was, and the finished file is read back with
// libavformat in the same process, whose packets must be exactly the samples
// that were accepted. Any difference prints one line and aborts.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "AvDecode.h"
#include "Codecs.h"
#include "Handles.h"
#include "Movies.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace {

constexpr int kMaxSide = 64;
constexpr int kMaxSteps = 16;
constexpr TimeScale kScale = 1000;
// No run writes more than this; a write past it is a wild offset, not data.
constexpr uint64_t kMaxFile = 64u << 20;
// The wide atom and the mdat header that close the media data: the only
// bytes before the samples' end that writing the movie resource rewrites.
constexpr size_t kHeaderTail = 16;

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
  bool haveFormat = false;
  Format format;
  std::vector<Sample> samples;
  uint64_t total = 0;
  TimeValue edit = 0;
  size_t headerSize = 0;
  // The file's bytes up to the end of the last accepted sample.
  std::vector<uint8_t> prefix;
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

// The file up to the samples' end, except the bytes that closing the media
// data may rewrite when `headerMayChange`.
void expectPrefix(const char* what, const std::vector<uint8_t>& file, const Model& m, bool headerMayChange) {
  const std::vector<uint8_t>& p = m.prefix;
  if (file.size() < p.size())
    fail("%s: file of %zu bytes, the samples end at %zu", what, file.size(), p.size());
  auto same = [&](size_t from, size_t to) {
    if (std::memcmp(file.data() + from, p.data() + from, to - from) == 0) return;
    while (file[from] == p[from]) ++from;
    fail("%s: byte %zu is %02x, written as %02x", what, from, file[from], p[from]);
  };
  if (headerMayChange) {
    same(0, m.headerSize - kHeaderTail);
    same(m.headerSize, p.size());
  } else {
    same(0, p.size());
  }
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
  int callsBefore_ = 0;
  bool wasWritten_ = false;  // the movie resource, before this step
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
    if (m_.resourceWritten) why.add(dataNotOpenForWrite);
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
      m_.prefix.insert(m_.prefix.end(), bytes.begin(), bytes.end());
      expectPrefix("AddMediaSample", sink_->bytes, m_, false);
      break;
    case Outcome::kRefused:
      expectSame("AddMediaSample", sink_->bytes, before_);
      break;
    case Outcome::kTorn:
      expectPrefix("failed AddMediaSample", sink_->bytes, m_, false);
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
  if (m_.resourceWritten) why.add(dataNotOpenForWrite);
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
    if (m_.resourceWritten) why.add(dataNotOpenForWrite);
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
  if (other_.calls != 0) fail("AddMovieResource wrote to a file the movie is not in");
  switch (judge("AddMovieResource", err, why, *sink_, failures)) {
    case Outcome::kAccepted:
      m_.resourceWritten = true;
      expectPrefix("AddMovieResource", sink_->bytes, m_, true);
      break;
    case Outcome::kRefused:
      expectSame("AddMovieResource", sink_->bytes, before_);
      break;
    case Outcome::kTorn:
      expectPrefix("failed AddMovieResource", sink_->bytes, m_, true);
      // Whatever it left of the closed mdat header stands until the next try.
      std::copy(sink_->bytes.begin() + ptrdiff_t(m_.headerSize - kHeaderTail),
                sink_->bytes.begin() + ptrdiff_t(m_.headerSize),
                m_.prefix.begin() + ptrdiff_t(m_.headerSize - kHeaderTail));
      break;
  }
}

void Run::newTrack() {
  Reasons why;
  if (m_.resourceWritten) why.add(dataNotOpenForWrite);
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
  qt::MovieOptions options;
  options.creationTime = 0xC0FFEE00u;
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
  m_.headerSize = sink_->bytes.size();
  m_.prefix = sink_->bytes;
  if (m_.headerSize < kHeaderTail) fail("file header of %zu bytes", m_.headerSize);

  bool faultArmed = false;
  for (int step = 0; step < kMaxSteps && in_.remaining_bytes() > 0; ++step) {
    before_ = sink_->bytes;
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

// The top-level atoms must tile the file: the header's, the media data
// holding exactly the accepted samples, and the movie atom to the end.
void Run::checkFile() {
  const std::vector<uint8_t>& f = sink_->bytes;
  static const char* kOrder[] = {"ftyp", "wide", "mdat", "moov"};
  size_t at = 0;
  for (const char* type : kOrder) {
    if (at + 8 > f.size()) fail("file ends at %zu before its %s atom", f.size(), type);
    const uint32_t size = be32(f, at);
    if (std::memcmp(f.data() + at + 4, type, 4) != 0) fail("atom at %zu is not %s", at, type);
    if (size < 8 || at + size > f.size())
      fail("%s atom at %zu of %u bytes in a file of %zu", type, at, size, f.size());
    if (std::strcmp(type, "mdat") == 0) {
      if (at + 8 != m_.headerSize)
        fail("media data starts at %zu, the header is %zu bytes", at + 8, m_.headerSize);
      if (size_t(size) != 8 + m_.prefix.size() - m_.headerSize)
        fail("mdat of %u bytes holds %zu bytes of samples", size, m_.prefix.size() - m_.headerSize);
    }
    at += size;
  }
  if (at != f.size()) fail("%zu bytes after the movie atom", f.size() - at);
  expectPrefix("the finished file", f, m_, true);
  checkWithLibav();
}

struct MemoryInput {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

int readInput(void* opaque, uint8_t* buf, int n) {
  MemoryInput& in = *static_cast<MemoryInput*>(opaque);
  const size_t left = in.size - in.pos;
  if (left == 0) return AVERROR_EOF;
  const size_t k = std::min(left, size_t(n));
  std::memcpy(buf, in.data + in.pos, k);
  in.pos += k;
  return int(k);
}

int64_t seekInput(void* opaque, int64_t offset, int whence) {
  MemoryInput& in = *static_cast<MemoryInput*>(opaque);
  if (whence & AVSEEK_SIZE) return int64_t(in.size);
  int64_t to = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      to = offset;
      break;
    case SEEK_CUR:
      to = int64_t(in.pos) + offset;
      break;
    case SEEK_END:
      to = int64_t(in.size) + offset;
      break;
    default:
      return -1;
  }
  if (to < 0 || to > int64_t(in.size)) return -1;
  in.pos = size_t(to);
  return to;
}

void Run::checkWithLibav() {
  const std::vector<uint8_t>& f = sink_->bytes;
  MemoryInput input{f.data(), f.size(), 0};
  constexpr int kBufferSize = 4096;
  uint8_t* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
  AVIOContext* pb = avio_alloc_context(buffer, kBufferSize, 0, &input, readInput, nullptr, seekInput);
  AVFormatContext* fmt = avformat_alloc_context();
  if (!buffer || !pb || !fmt) fail("libav allocation failed");
  fmt->pb = pb;
  // An edit that covers only part of the media makes libav drop the rest;
  // the packets are then compared as stored and the edit through the
  // movie's duration.
  const bool partialEdit = m_.edit != 0 && uint64_t(m_.edit) != m_.total;
  AVDictionary* options = nullptr;
  if (partialEdit) av_dict_set(&options, "ignore_editlist", "1", 0);
  const int opened = avformat_open_input(&fmt, nullptr, nullptr, &options);
  av_dict_free(&options);
  if (opened < 0) fail("libavformat cannot open the file (%zu bytes): %d", f.size(), opened);

  const Format expected =
      m_.haveFormat ? m_.format : Format{kAnimationCodecType, int16_t(width_), int16_t(height_), 24};
  if (fmt->nb_streams != 1) fail("%u streams", fmt->nb_streams);
  const AVStream* st = fmt->streams[0];
  const AVCodecParameters* par = st->codecpar;
  if (par->codec_type != AVMEDIA_TYPE_VIDEO) fail("the stream is not video");
  if (st->time_base.num != 1 || st->time_base.den != kScale)
    fail("time base %d/%d", st->time_base.num, st->time_base.den);
  if (par->codec_id != test::avCodecId(expected.cType))
    fail("codec %s read as %s", name(expected.cType), avcodec_get_name(par->codec_id));
  if (par->width != expected.width || par->height != expected.height)
    fail("%dx%d read as %dx%d", expected.width, expected.height, par->width, par->height);
  if (fmt->duration != int64_t(m_.edit) * (AV_TIME_BASE / kScale))
    fail("movie duration %lld us, the edit %d ms", (long long)fmt->duration, m_.edit);

  AVPacket* pkt = av_packet_alloc();
  size_t n = 0;
  int64_t pts = 0;
  int ret;
  while ((ret = av_read_frame(fmt, pkt)) >= 0) {
    if (n >= m_.samples.size()) fail("packet %zu of %zu samples", n + 1, m_.samples.size());
    const Sample& s = m_.samples[n];
    if (pkt->stream_index != 0) fail("packet %zu in stream %d", n, pkt->stream_index);
    if (pkt->duration != s.duration)
      fail("packet %zu lasts %lld, the sample %d", n, (long long)pkt->duration, s.duration);
    if (pkt->pts != pts) fail("packet %zu at %lld, expected %lld", n, (long long)pkt->pts, (long long)pts);
    if (size_t(pkt->size) != s.bytes.size() || std::memcmp(pkt->data, s.bytes.data(), s.bytes.size()) != 0)
      fail("packet %zu: %d bytes that differ from the sample's %zu", n, pkt->size, s.bytes.size());
    pts += s.duration;
    ++n;
    av_packet_unref(pkt);
  }
  if (ret != AVERROR_EOF) fail("reading packet %zu: %d", n, ret);
  if (n != m_.samples.size()) fail("%zu packets for %zu samples", n, m_.samples.size());
  av_packet_free(&pkt);
  avformat_close_input(&fmt);
  av_freep(&pb->buffer);
  avio_context_free(&pb);
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
