// Compression sequences as the movie writer runs them: Begin, a Frame per
// grabbed frame, End. H.264 samples are decoded by libavcodec's own decoder
// from the description's avcC, every frame, in order; key frames are checked
// against the rules and against what the decoder says.
#include "Sequences.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "AvDecode.h"
#include "CodecTestSupport.h"
#include "Codecs.h"
#include "H264Decode.h"
#include "Handles.h"
#include "OpenH264Library.h"

namespace {

using test::Image;
using test::PixMapFixture;

struct Described {
  ImageDescription head;
  std::vector<uint8_t> extension;  // the bytes after the 86
};

Described described(ImageDescriptionHandle desc) {
  Described d;
  std::memcpy(&d.head, *desc, sizeof d.head);
  const int32_t size = qt::GetHandleSize(reinterpret_cast<Handle>(desc));
  const uint8_t* p = reinterpret_cast<const uint8_t*>(*desc);
  d.extension.assign(p + sizeof(ImageDescription), p + size);
  return d;
}

// A sequence run start to end over `frames`, with what each call answered.
struct SequenceRun {
  OSErr begin = noErr;
  std::vector<OSErr> results;
  std::vector<std::vector<uint8_t>> samples;
  std::vector<uint8_t> similarity;
  Described description;
};

struct RunOptions {
  CodecType type = kH264CodecType;
  CodecQ quality = codecNormalQuality;
  int32_t keyFrameRate = 0;
  qt::SequenceClock clock;
  uint64_t msPerFrame = 100;   // how far a manual clock moves per frame
  std::vector<size_t> forced;  // frames given codecFlagForceKeyFrame
};

SequenceRun runSequence(const std::vector<Image>& frames, const RunOptions& o = RunOptions()) {
  SequenceRun run;
  PixMapFixture pm(frames.at(0));
  Rect r = pm.all();
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(4));
  uint64_t now = 5000;
  qt::SequenceOptions options;
  options.clock = o.clock ? o.clock : qt::SequenceClock([&now] { return now; });
  ImageSequence seq = 0;
  run.begin = qt::CompressSequenceBegin(&seq, pm.handle, nullptr, &r, nullptr, 0, o.type, anyCodec, o.quality,
                                        o.quality, o.keyFrameRate, nullptr, 0, desc, options);
  if (run.begin == noErr) {
    int32_t max = 0;
    EXPECT_EQ(qt::GetMaxCompressionSize(pm.handle, &r, 0, o.quality, o.type, anyCodec, &max), noErr);
    Handle data = qt::NewHandle(max);
    for (size_t i = 0; i < frames.size(); ++i) {
      std::memcpy(pm.image.bgrx.data(), frames[i].bgrx.data(), frames[i].bgrx.size());
      CodecFlags flags = 0;
      for (size_t f : o.forced)
        if (f == i) flags |= codecFlagForceKeyFrame;
      int32_t size = -1;
      uint8_t similar = 77;
      const OSErr err = qt::CompressSequenceFrame(seq, pm.handle, &r, flags, *data, &size, &similar, nullptr);
      run.results.push_back(err);
      if (err == noErr) {
        run.samples.emplace_back(*data, *data + size);
        run.similarity.push_back(similar);
        EXPECT_EQ((**desc).dataSize, size) << "frame " << i;
      }
      now += o.msPerFrame;
    }
    EXPECT_EQ(qt::CDSequenceEnd(seq), noErr);
    EXPECT_EQ(qt::CDSequenceEnd(seq), paramErr) << "ended twice";
    qt::DisposeHandle(data);
  }
  run.description = described(desc);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  return run;
}

// NAL unit types in a sample, checking that its length prefixes cover it
// exactly (an empty list when they do not).
std::vector<int> nalTypes(const std::vector<uint8_t>& s) {
  std::vector<int> types;
  size_t at = 0;
  while (at + 4 <= s.size()) {
    const size_t n = size_t(s[at]) << 24 | size_t(s[at + 1]) << 16 | size_t(s[at + 2]) << 8 | s[at + 3];
    if (n == 0 || at + 4 + n > s.size()) return {};
    types.push_back(s[at + 4] & 0x1F);
    at += 4 + n;
  }
  if (at != s.size()) return {};
  return types;
}

bool hasIdr(const std::vector<uint8_t>& s) {
  for (int t : nalTypes(s))
    if (t == 5) return true;
  return false;
}

Image crop(const Image& img, int x, int y, int w, int h) {
  Image out;
  out.width = w;
  out.height = h;
  out.bgrx.resize(size_t(w) * size_t(h) * 4);
  for (int r = 0; r < h; ++r) std::memcpy(out.row(r), img.row(y + r) + 4 * x, size_t(w) * 4);
  return out;
}

// The editor fixture scrolling by `step` rows a frame, cut to w x h.
std::vector<Image> scrolling(int frames, int step, int w, int h) {
  const Image editor = test::loadFixture("editor.png");
  EXPECT_GT(editor.width, 0) << "no editor.png fixture";
  std::vector<Image> out;
  for (int i = 0; i < frames && editor.width > 0; ++i)
    out.push_back(crop(test::scrolled(editor, i * step), 0, 0, w, h));
  return out;
}

double worstPsnr(const test::H264Frames& decoded, const std::vector<Image>& frames) {
  double worst = 99;
  for (size_t i = 0; i < decoded.rgb.size() && i < frames.size(); ++i)
    worst = std::min(worst, test::psnr(decoded.rgb[i], test::toRgb(frames[i])));
  return worst;
}

class H264Sequences : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!qt::openh264::library()) FAIL() << "OpenH264 does not load: " << qt::openh264::lastLoadFailure();
  }
};

TEST_F(H264Sequences, EveryFrameDecodesAboveTheFloorOfItsQuality) {
  // Floors (dB, RGB, worst frame) of scrolling text at each level; the
  // measured values sit about a dB above them (33.6, 33.3, 32.9, 32.0,
  // 30.2, 28.1). Coloured text this small keeps even Lossless near the
  // 36 dB that 4:2:0 colour allows it.
  const struct {
    CodecQ quality;
    double floor;
  } rows[] = {{codecLosslessQuality, 32.5}, {codecMaxQuality, 32}, {codecHighQuality, 31.5},
              {codecNormalQuality, 30.5},   {codecLowQuality, 29}, {codecMinQuality, 26.5}};
  const std::vector<Image> frames = scrolling(6, 7, 640, 360);
  ASSERT_EQ(frames.size(), 6u);
  size_t previousBytes = SIZE_MAX;
  for (const auto& row : rows) {
    RunOptions o;
    o.quality = row.quality;
    const SequenceRun run = runSequence(frames, o);
    ASSERT_EQ(run.begin, noErr);
    ASSERT_EQ(run.samples.size(), frames.size());
    const test::H264Frames decoded = test::decodeH264(run.description.extension, run.samples, 640, 360);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    ASSERT_EQ(decoded.rgb.size(), frames.size());
    const double psnr = worstPsnr(decoded, frames);
    size_t bytes = 0;
    for (const auto& s : run.samples) bytes += s.size();
    std::printf("quality 0x%03X: worst PSNR %.2f dB, %zu bytes for %zu frames\n", unsigned(row.quality), psnr,
                bytes, frames.size());
    EXPECT_GE(psnr, row.floor) << "quality 0x" << std::hex << row.quality;
    EXPECT_LT(bytes, previousBytes) << "each lower level must be smaller";
    previousBytes = bytes;
  }
}

TEST_F(H264Sequences, DescriptionCarriesAnAvcCThatMatchesTheStream) {
  const SequenceRun run = runSequence(scrolling(3, 5, 320, 240));
  ASSERT_EQ(run.begin, noErr);
  const ImageDescription& d = run.description.head;
  EXPECT_EQ(d.cType, kH264CodecType);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.name + 1), d.name[0]), "H.264");
  EXPECT_EQ(d.depth, 24);
  EXPECT_EQ(d.width, 320);
  EXPECT_EQ(d.height, 240);
  EXPECT_EQ(d.clutID, -1);
  const std::vector<uint8_t>& a = run.description.extension;
  ASSERT_GE(a.size(), 8u + 7);
  EXPECT_EQ(d.idSize, int32_t(86 + a.size()));
  EXPECT_EQ(test::be32At(a, 0), a.size()) << "one atom, all of the extension";
  EXPECT_EQ(std::string(a.begin() + 4, a.begin() + 8), "avcC");
  EXPECT_EQ(a[8], 1) << "configurationVersion";
  EXPECT_EQ(a[12], 0xFF) << "4-byte lengths";
  ASSERT_EQ(a[13], 0xE1) << "one SPS";
  const size_t spsLength = size_t(a[14]) << 8 | a[15];
  ASSERT_LE(16 + spsLength + 3, a.size());
  const std::vector<uint8_t> sps(a.begin() + 16, a.begin() + 16 + long(spsLength));
  EXPECT_EQ(sps[0] & 0x1F, 7);
  EXPECT_EQ(a[9], sps[1]) << "profile";
  EXPECT_EQ(a[10], sps[2]) << "profile compatibility";
  EXPECT_EQ(a[11], sps[3]) << "level";
  const size_t ppsAt = 16 + spsLength;
  EXPECT_EQ(a[ppsAt], 1) << "one PPS";
  const size_t ppsLength = size_t(a[ppsAt + 1]) << 8 | a[ppsAt + 2];
  EXPECT_EQ(a[ppsAt + 3] & 0x1F, 8);
  const bool high = sps[1] == 100 || sps[1] == 110 || sps[1] == 122 || sps[1] == 144;
  EXPECT_EQ(a.size(), ppsAt + 3 + ppsLength + (high ? 4 : 0));

  // The key frame repeats the very same parameter sets, and every sample is
  // length-prefixed NAL units, no start codes.
  ASSERT_EQ(run.samples.size(), 3u);
  const std::vector<uint8_t>& first = run.samples[0];
  ASSERT_FALSE(nalTypes(first).empty());
  ASSERT_EQ(nalTypes(first)[0], 7);
  EXPECT_EQ(std::vector<uint8_t>(first.begin() + 4, first.begin() + 4 + long(spsLength)), sps);
  for (const auto& s : run.samples) EXPECT_FALSE(nalTypes(s).empty());
}

TEST_F(H264Sequences, KeyFramesComeFirstAtTheRateOnTheClockAndWhenForced) {
  // Frame-by-frame: the rate of 4 makes 0, 4, 8; forcing makes 10; the
  // clock's two seconds after 10 (100 ms a frame) make 30; and nothing else.
  std::vector<Image> frames;
  const std::vector<Image> moving = scrolling(33, 3, 160, 96);
  ASSERT_EQ(moving.size(), 33u);
  RunOptions o;
  o.keyFrameRate = 0;
  o.forced = {10};
  {
    const SequenceRun run = runSequence(moving, o);
    ASSERT_EQ(run.samples.size(), moving.size());
    for (size_t i = 0; i < run.samples.size(); ++i) {
      const bool key = i == 0 || i == 10 || i == 30;
      EXPECT_EQ(run.similarity[i] == 0, key) << "frame " << i;
      EXPECT_EQ(hasIdr(run.samples[i]), key) << "frame " << i;
    }
    const test::H264Frames decoded = test::decodeH264(run.description.extension, run.samples, 160, 96);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    ASSERT_EQ(decoded.key.size(), moving.size());
    for (size_t i = 0; i < decoded.key.size(); ++i)
      EXPECT_EQ(decoded.key[i], i == 0 || i == 10 || i == 30) << "decoder on frame " << i;
    EXPECT_GE(worstPsnr(decoded, moving), 30.0);
  }
  o.keyFrameRate = 4;
  o.forced = {10};
  o.msPerFrame = 1;
  {
    const SequenceRun run = runSequence(std::vector<Image>(moving.begin(), moving.begin() + 16), o);
    ASSERT_EQ(run.samples.size(), 16u);
    for (size_t i = 0; i < run.samples.size(); ++i) {
      const bool key = i == 0 || i == 4 || i == 8 || i == 10 || i == 14;
      EXPECT_EQ(run.similarity[i] == 0, key) << "frame " << i;
      EXPECT_EQ(hasIdr(run.samples[i]), key) << "frame " << i;
    }
  }
  // The process's own clock, untouched: a quick run has one key frame.
  o.keyFrameRate = 0;
  o.forced = {};
  o.clock = nullptr;
  {
    qt::SequenceOptions none;
    PixMapFixture pm(moving[0]);
    Rect r = pm.all();
    ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(4));
    ImageSequence seq = 0;
    ASSERT_EQ(qt::CompressSequenceBegin(&seq, pm.handle, nullptr, &r, nullptr, 0, kH264CodecType, anyCodec,
                                        codecNormalQuality, codecNormalQuality, 0, nullptr, 0, desc),
              noErr);
    std::vector<uint8_t> data(qt::maxCompressedSize(kH264CodecType, 160, 96, codecNormalQuality));
    int keys = 0;
    for (int i = 0; i < 5; ++i) {
      int32_t size = 0;
      uint8_t similar = 9;
      ASSERT_EQ(qt::CompressSequenceFrame(seq, pm.handle, &r, 0, reinterpret_cast<Ptr>(data.data()), &size,
                                          &similar, nullptr),
                noErr);
      keys += similar == 0;
    }
    EXPECT_EQ(keys, 1);
    EXPECT_EQ(qt::CDSequenceEnd(seq), noErr);
    qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  }
}

// The size a stream of a frame this wide or high decodes to: even, and at
// least 16.
int codedSize(int n) { return n < 16 ? 16 : n + (n & 1); }

TEST_F(H264Sequences, OddAndTinySizesArePaddedAndDecode) {
  const Image editor = test::loadFixture("editor.png");
  ASSERT_GT(editor.width, 0);
  const int sizes[][2] = {{1, 1}, {7, 3}, {17, 9}, {16, 40}, {33, 31}, {641, 313}};
  for (const auto& wh : sizes) {
    std::vector<Image> frames;
    for (int i = 0; i < 3; ++i) frames.push_back(crop(editor, 300 + 5 * i, 200 + 3 * i, wh[0], wh[1]));
    RunOptions o;
    o.quality = codecMaxQuality;
    const SequenceRun run = runSequence(frames, o);
    ASSERT_EQ(run.begin, noErr) << wh[0] << "x" << wh[1];
    ASSERT_EQ(run.samples.size(), 3u);
    EXPECT_EQ(run.description.head.width, codedSize(wh[0]));
    EXPECT_EQ(run.description.head.height, codedSize(wh[1]));
    const test::H264Frames decoded = test::decodeH264(run.description.extension, run.samples, wh[0], wh[1]);
    ASSERT_TRUE(decoded.ok) << wh[0] << "x" << wh[1] << ": " << decoded.error;
    EXPECT_EQ(decoded.width, codedSize(wh[0]));
    EXPECT_EQ(decoded.height, codedSize(wh[1]));
    ASSERT_EQ(decoded.rgb.size(), 3u);
    // Coloured text this small is what 4:2:0 loses most on; a frame shifted
    // by a pixel, or edges not repeated, would sit far below this.
    EXPECT_GE(worstPsnr(decoded, frames), 25.0) << wh[0] << "x" << wh[1];
  }
}

TEST(Sequences, SpatialCodecsWriteCompressImageBytesAndOnlyKeyFrames) {
  const Image a = test::screenLike(61, 37, 3), b = test::screenLike(61, 37, 4);
  for (CodecType type : {kAnimationCodecType, kRawCodecType, kJPEGCodecType, kPNGCodecType}) {
    RunOptions o;
    o.type = type;
    o.quality = codecHighQuality;
    const SequenceRun run = runSequence({a, b, a}, o);
    ASSERT_EQ(run.begin, noErr);
    ASSERT_EQ(run.samples.size(), 3u);
    EXPECT_EQ(run.description.head.idSize, 86);
    EXPECT_TRUE(run.description.extension.empty());
    EXPECT_EQ(run.description.head.cType, type);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(run.similarity[i], 0) << "every frame a key frame";
      const Image& img = i == 1 ? b : a;
      PixMapFixture pm(img);
      Rect r = pm.all();
      int32_t max = 0;
      ASSERT_EQ(qt::GetMaxCompressionSize(pm.handle, &r, 0, codecHighQuality, type, anyCodec, &max), noErr);
      Handle data = qt::NewHandle(max);
      ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(4));
      ASSERT_EQ(qt::CompressImage(pm.handle, &r, codecHighQuality, type, desc, *data), noErr);
      EXPECT_EQ(run.samples[i], std::vector<uint8_t>(*data, *data + (**desc).dataSize))
          << "frame " << i << " of '" << std::string(reinterpret_cast<const char*>(&type), 4) << "'";
      ImageDescription single = **desc;
      single.dataSize = 0;
      ImageDescription inSequence = run.description.head;
      inSequence.dataSize = 0;
      EXPECT_EQ(std::memcmp(&single, &inSequence, sizeof single), 0) << "the same description";
      qt::DisposeHandle(data);
      qt::DisposeHandle(reinterpret_cast<Handle>(desc));
    }
  }
}

TEST(Sequences, BadArgumentsAreRefusedWithSpecificCodes) {
  PixMapFixture pm(test::screenLike(40, 30, 1));
  Rect r = pm.all();
  Rect outside = r;
  outside.right += 1;
  Rect smaller = r;
  smaller.right -= 2;
  ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(qt::NewHandle(4));
  ImageSequence seq = 5;
  auto begin = [&](ImageSequence* s, PixMapHandle src, const Rect* rect, int16_t depth, CodecType type,
                   CodecQ spatial, CodecQ temporal, int32_t rate, ImageDescriptionHandle d) {
    return qt::CompressSequenceBegin(s, src, nullptr, rect, nullptr, depth, type, anyCodec, spatial, temporal,
                                     rate, nullptr, 0, d);
  };
  const CodecQ n = codecNormalQuality;
  EXPECT_EQ(begin(nullptr, pm.handle, &r, 0, kRawCodecType, n, n, 0, desc), paramErr);
  EXPECT_EQ(begin(&seq, nullptr, &r, 0, kRawCodecType, n, n, 0, desc), nilHandleErr);
  EXPECT_EQ(seq, 0) << "no sequence after a failure";
  EXPECT_EQ(begin(&seq, pm.handle, nullptr, 0, kRawCodecType, n, n, 0, desc), paramErr);
  EXPECT_EQ(begin(&seq, pm.handle, &outside, 0, kRawCodecType, n, n, 0, desc), paramErr);
  EXPECT_EQ(begin(&seq, pm.handle, &r, 16, kRawCodecType, n, n, 0, desc), paramErr);
  EXPECT_EQ(begin(&seq, pm.handle, &r, 0, fourCC("xxxx"), n, n, 0, desc), noCodecErr);
  EXPECT_EQ(begin(&seq, pm.handle, &r, 0, kRawCodecType, 0x401, n, 0, desc), paramErr);
  EXPECT_EQ(begin(&seq, pm.handle, &r, 0, kRawCodecType, n, 0x401, 0, desc), paramErr);
  EXPECT_EQ(begin(&seq, pm.handle, &r, 0, kRawCodecType, n, n, -1, desc), paramErr);
  EXPECT_EQ(begin(&seq, pm.handle, &r, 0, kRawCodecType, n, n, 0, nullptr), nilHandleErr);
  EXPECT_EQ(seq, 0);

  for (CodecType type : {kRawCodecType, kH264CodecType}) {
    ASSERT_EQ(begin(&seq, pm.handle, &r, 24, type, n, n, 0, desc), noErr);
    ASSERT_NE(seq, 0);
    int32_t max = 0;
    ASSERT_EQ(qt::GetMaxCompressionSize(pm.handle, &r, 0, n, type, anyCodec, &max), noErr);
    Handle data = qt::NewHandle(max);
    Handle small = qt::NewHandle(max - 1);
    int32_t size = -1;
    uint8_t similar = 0;
    int completion = 0;
    EXPECT_EQ(qt::CompressSequenceFrame(seq + 1000, pm.handle, &r, 0, *data, &size, &similar, nullptr),
              paramErr);
    EXPECT_EQ(qt::CompressSequenceFrame(seq, pm.handle, &smaller, 0, *data, &size, &similar, nullptr),
              paramErr)
        << "a size other than the sequence's";
    EXPECT_EQ(qt::CompressSequenceFrame(seq, pm.handle, &outside, 0, *data, &size, &similar, nullptr),
              paramErr);
    EXPECT_EQ(qt::CompressSequenceFrame(seq, pm.handle, &r, 0, *small, &size, &similar, nullptr), paramErr)
        << "a buffer smaller than the worst case";
    EXPECT_EQ(qt::CompressSequenceFrame(seq, pm.handle, &r, 0, nullptr, &size, &similar, nullptr), paramErr);
    EXPECT_EQ(qt::CompressSequenceFrame(seq, pm.handle, &r, 0, *data, nullptr, &similar, nullptr), paramErr);
    EXPECT_EQ(qt::CompressSequenceFrame(seq, pm.handle, &r, 0, *data, &size, &similar, &completion),
              paramErr);
    EXPECT_EQ(size, -1) << "nothing written by a refused frame";
    EXPECT_EQ(qt::CompressSequenceFrame(seq, pm.handle, &r, 0, *data, &size, nullptr, nullptr), noErr)
        << "similarity may be left out";
    EXPECT_GT(size, 0);
    EXPECT_EQ(qt::CDSequenceEnd(seq), noErr);
    EXPECT_EQ(qt::CompressSequenceFrame(seq, pm.handle, &r, 0, *data, &size, &similar, nullptr), paramErr)
        << "an ended sequence";
    EXPECT_EQ(qt::CDSequenceEnd(seq), paramErr);
    qt::DisposeHandle(small);
    qt::DisposeHandle(data);
  }
  EXPECT_EQ(qt::CDSequenceEnd(0), paramErr);
  // A description disposed of under a running sequence is not written to.
  ASSERT_EQ(begin(&seq, pm.handle, &r, 0, kRawCodecType, n, n, 0, desc), noErr);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  std::vector<uint8_t> data(qt::maxCompressedSize(kRawCodecType, 40, 30, n));
  int32_t size = -1;
  EXPECT_EQ(qt::CompressSequenceFrame(seq, pm.handle, &r, 0, reinterpret_cast<Ptr>(data.data()), &size,
                                      nullptr, nullptr),
            memWZErr);
  EXPECT_EQ(qt::CDSequenceEnd(seq), noErr);
}

}  // namespace
