#include "Sequences.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "Codecs.h"
#include "H264Codec.h"
#include "Handles.h"

namespace qt {
namespace {

// What *similarity says of a frame coded against earlier ones: QuickTime
// reads 0 as a key frame and anything else as "like the frames before".
constexpr uint8_t kPredictedSimilarity = 128;

struct Sequence {
  CodecType type = 0;
  CodecQ quality = 0;
  int width = 0;
  int height = 0;
  int32_t keyFrameRate = 0;
  ImageDescriptionHandle desc = nullptr;
  std::unique_ptr<h264::Encoder> encoder;  // H.264 only
  SequenceClock clock;
  uint64_t startMs = 0;
  bool started = false;  // a key frame has been written
  int64_t sinceKey = 0;  // frames since the last key frame
  uint64_t lastKeyMs = 0;
};

// Every live sequence, by number. The program runs them on its one thread;
// the lock keeps the table whole should two threads ever meet here, and is
// held for a whole frame so a sequence never ends under its own frame.
struct Registry {
  std::mutex lock;
  std::map<ImageSequence, std::unique_ptr<Sequence>> live;  // guarded by lock
  ImageSequence last = 0;                                   // guarded by lock
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: no order problems at exit
  return *r;
}

uint64_t steadyMs() {
  using namespace std::chrono;
  return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool wantsKey(const Sequence& s, CodecFlags flags, uint64_t now) {
  if (!s.started || (flags & codecFlagForceKeyFrame)) return true;
  if (s.keyFrameRate > 0 && s.sinceKey >= s.keyFrameRate) return true;
  return now - s.lastKeyMs >= kMaxKeyFrameIntervalMs;
}

}  // namespace

OSErr CompressSequenceBegin(ImageSequence* seq, PixMapHandle src, PixMapHandle prev, const Rect* srcRect,
                            const Rect* prevRect, int16_t colorDepth, CodecType cType,
                            CompressorComponent codec, CodecQ spatialQuality, CodecQ temporalQuality,
                            int32_t keyFrameRate, CTabHandle ctable, CodecFlags flags,
                            ImageDescriptionHandle desc, const SequenceOptions& options) {
  (void)prev, (void)prevRect, (void)codec, (void)ctable, (void)flags;
  if (!seq) return paramErr;
  *seq = 0;
  PixelRows rows;
  if (OSErr err = detail::sourceRows(src, srcRect, &rows)) return err;
  if (colorDepth != 0 && colorDepth != 24) return paramErr;
  if (spatialQuality > codecLosslessQuality || temporalQuality > codecLosslessQuality) return paramErr;
  if (keyFrameRate < 0) return paramErr;
  if (!isKnownCodec(cType)) return noCodecErr;
  if (OSErr err = CheckHandle(reinterpret_cast<Handle>(desc))) return err;
  if (maxCompressedSize(cType, rows.width, rows.height, spatialQuality) > uint64_t(INT32_MAX))
    return codecSizeErr;

  auto s = std::make_unique<Sequence>();
  s->type = cType;
  s->quality = spatialQuality;
  s->width = rows.width;
  s->height = rows.height;
  s->keyFrameRate = keyFrameRate;
  s->desc = desc;
  s->clock = options.clock ? options.clock : SequenceClock(steadyMs);
  std::vector<uint8_t> extension;
  int describedWidth = rows.width, describedHeight = rows.height;
  if (isTemporalCodec(cType)) {
    OSErr err = noErr;
    s->encoder = h264::Encoder::create(rows.width, rows.height, spatialQuality, &err);
    if (!s->encoder) return err;
    extension = s->encoder->avcCAtom();
    // The description gives the size the stream decodes to, as its
    // parameter sets do (odd sizes are coded one larger).
    describedWidth = h264::codedSize(rows.width);
    describedHeight = h264::codedSize(rows.height);
  }
  if (OSErr err =
          detail::describe(desc, cType, spatialQuality, describedWidth, describedHeight, 0, extension))
    return err;

  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  if (r.last == INT32_MAX) return paramErr;  // numbers are never reused
  s->startMs = s->clock();
  r.live[++r.last] = std::move(s);
  *seq = r.last;
  return noErr;
}

OSErr CompressSequenceFrame(ImageSequence seq, PixMapHandle src, const Rect* srcRect, CodecFlags flags,
                            Ptr data, int32_t* dataSize, uint8_t* similarity,
                            ICMCompletionProcRecordPtr completion) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  auto found = r.live.find(seq);
  if (found == r.live.end()) return paramErr;
  Sequence& s = *found->second;
  if (!dataSize || !data || completion) return paramErr;
  PixelRows rows;
  if (OSErr err = detail::sourceRows(src, srcRect, &rows)) return err;
  if (rows.width != s.width || rows.height != s.height) return paramErr;
  if (OSErr err = CheckHandle(reinterpret_cast<Handle>(s.desc))) return err;
  if (GetHandleSize(reinterpret_cast<Handle>(s.desc)) < int32_t(sizeof(ImageDescription))) return paramErr;
  const uint64_t bound = maxCompressedSize(s.type, s.width, s.height, s.quality);
  if (bound == 0) return noCodecErr;
  int32_t capacity = 0;
  if (FindBlockSize(data, &capacity) && uint64_t(capacity) < bound) return paramErr;

  uint8_t* out = reinterpret_cast<uint8_t*>(data);
  size_t written = 0;
  bool key = true;
  const uint64_t now = s.clock();
  if (s.encoder) {
    if (OSErr err = s.encoder->encode(rows, wantsKey(s, flags, now), now - s.startMs, out, size_t(bound),
                                      &written, &key))
      return err;
  } else {
    written = compressRows(s.type, rows, s.quality, out, size_t(bound));
    if (written == 0) return codecErr;
  }
  if (key) {
    s.started = true;
    s.sinceKey = 1;
    s.lastKeyMs = now;
  } else {
    ++s.sinceKey;
  }
  *dataSize = int32_t(written);
  (*s.desc)->dataSize = int32_t(written);
  if (similarity) *similarity = key ? 0 : kPredictedSimilarity;
  return noErr;
}

OSErr CDSequenceEnd(ImageSequence seq) {
  std::unique_ptr<Sequence> ending;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto found = r.live.find(seq);
    if (found == r.live.end()) return paramErr;
    ending = std::move(found->second);
    r.live.erase(found);
  }
  return noErr;  // the encoder goes with `ending`, outside the lock
}

}  // namespace qt
