// Our encoders against libavcodec's on the same screen-like frames, key
// frames only. Ours run on one thread and then on every processor in the
// same run (the cores column is the ratio, and the bytes must not change);
// libavcodec's on one thread. Prints throughput and sizes per codec and
// frame size. Fixtures: bench/fixtures/*.png (real-looking windows) plus a
// scrolling-text sequence made from the editor fixture.
//
// libavcodec's encoders get their input already in the pixel format they
// take (RGB24, or YUV 4:2:0 for mjpeg), outside the timed loop; ours start
// from the 32-bit B, G, R, X rows a DIB section holds, conversion included.
//
// Photo - JPEG has a second opponent: libjpeg-turbo, the encoder people reach
// for when JPEG speed matters. It takes the same B, G, R, X rows (its own
// colour conversion is timed, as ours is), at the libjpeg quality our level
// maps to, 4:2:0, standard Huffman tables, on one thread; its rounds take
// turns with ours.
//
// Usage: codec_bench [fixtures folder] [codec label, e.g. JPEG: only its rows]
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include "AvDecode.h"
#include "BenchFrames.h"
#include "Codecs.h"
#include "JpegCodec.h"
#include "Workers.h"

namespace {

using bench::Frame;
using bench::now;
using bench::rowsOf;

Frame crop(const Frame& src, int width, int height, int scrollRows = 0) {
  Frame f{width, height, std::vector<uint8_t>(size_t(width) * size_t(height) * 4)};
  for (int y = 0; y < height; ++y) {
    int sy = (y + scrollRows) % src.height;
    std::memcpy(f.bgrx.data() + size_t(y) * size_t(width) * 4,
                src.bgrx.data() + size_t(sy) * size_t(src.width) * 4, size_t(width) * 4);
  }
  return f;
}

// Speed is the sum of each frame's fastest time over the rounds: on a shared
// machine, other work only ever slows a frame down, so the fastest is the
// truest, and taking it frame by frame lets a burst of other work that spoils
// one frame of a round spoil only that frame.
struct Result {
  uint64_t bytes = 0;
  uint64_t hash = 0;  // of every byte written in the first round
  double psnr = 0;
  std::vector<double> fastest;  // per frame
  void keepFastest(size_t frame, double frameSeconds) {
    if (frame >= fastest.size()) fastest.resize(frame + 1, frameSeconds);
    if (frameSeconds < fastest[frame]) fastest[frame] = frameSeconds;
  }
  double seconds() const {
    double sum = 0;
    for (double t : fastest) sum += t;
    return sum;
  }
  double rate() const { return double(fastest.size()) / seconds(); }  // frames a second
};

uint64_t fnv1a(uint64_t h, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
  return h;
}

// libjpeg-turbo compressing B, G, R, X rows into memory, one thread.
class Turbo {
 public:
  Turbo(int width, int height, int quality)
      : buffer_(size_t(width) * size_t(height) * 4 + 65536), rows_(size_t(height)) {
    c_.err = jpeg_std_error(&err_);
    jpeg_create_compress(&c_);
    c_.image_width = JDIMENSION(width);
    c_.image_height = JDIMENSION(height);
    c_.input_components = 4;
    c_.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c_);  // YCbCr 4:2:0, standard Huffman tables, islow DCT
    jpeg_set_quality(&c_, quality, TRUE);
    c_.optimize_coding = FALSE;
  }
  ~Turbo() { jpeg_destroy_compress(&c_); }
  Turbo(const Turbo&) = delete;
  Turbo& operator=(const Turbo&) = delete;
  // Compresses one frame; the bytes stay in data() until the next call.
  size_t compress(const Frame& f) {
    for (int y = 0; y < f.height; ++y)
      rows_[size_t(y)] = const_cast<JSAMPROW>(f.bgrx.data() + size_t(y) * size_t(f.width) * 4);
    unsigned char* out = buffer_.data();
    unsigned long size = buffer_.size();
    jpeg_mem_dest(&c_, &out, &size);
    jpeg_start_compress(&c_, TRUE);
    jpeg_write_scanlines(&c_, rows_.data(), JDIMENSION(f.height));
    jpeg_finish_compress(&c_);
    if (out != buffer_.data()) {  // outgrew the buffer: libjpeg allocated its own
      std::fprintf(stderr, "libjpeg-turbo wrote more than %zu bytes\n", buffer_.size());
      std::free(out);
      return 0;
    }
    return size_t(size);
  }
  const uint8_t* data() const { return buffer_.data(); }

 private:
  jpeg_compress_struct c_{};
  jpeg_error_mgr err_{};
  std::vector<uint8_t> buffer_;
  std::vector<JSAMPROW> rows_;
};

// PSNR over every frame of a content, each decoded by libavcodec.
template <typename Encode>
double psnrOverFrames(const std::vector<Frame>& frames, Encode encode) {
  std::vector<uint8_t> decoded, source;
  for (const Frame& f : frames) {
    const std::pair<const uint8_t*, size_t> bytes = encode(f);
    test::Decoded d = test::avDecode(kJPEGCodecType, f.width, f.height, 24, bytes.first, bytes.second);
    if (!d.ok) return 0;
    decoded.insert(decoded.end(), d.rgb.begin(), d.rgb.end());
    const std::vector<uint8_t> rgb = f.rgb();
    source.insert(source.end(), rgb.begin(), rgb.end());
  }
  return test::psnr(decoded, source);
}

// Ours on one thread and on all of them.
struct Ours {
  Result one, all;
};

// Processor and wall time over every round on all threads: their ratio
// says how many processors the machine really gave those rounds.
double allRoundsCpu = 0, allRoundsWall = 0;

// One round over the frames on `threads` threads, each frame timed by
// itself; the first round also counts and hashes the bytes, outside the
// frames' times.
void roundOfOurs(OSType codec, CodecQ q, const std::vector<Frame>& frames, int threads, bool first,
                 std::vector<uint8_t>& out, Result& r) {
  qt::workers::setThreadCount(threads);
  const std::clock_t c0 = std::clock();
  const double t0 = now();
  for (size_t i = 0; i < frames.size(); ++i) {
    const double f0 = now();
    size_t n = qt::compressRows(codec, rowsOf(frames[i]), q, out.data(), out.size());
    r.keepFastest(i, now() - f0);
    if (first) {
      r.bytes += n;
      r.hash = fnv1a(r.hash, out.data(), n);
    }
  }
  const double wall = now() - t0;
  if (threads > 1) {
    allRoundsWall += wall;
    allRoundsCpu += double(std::clock() - c0) / CLOCKS_PER_SEC;
  }
  qt::workers::setThreadCount(0);
}

// One row of the table: our codec at one setting on one content, against
// libavcodec's encoder.
struct Row {
  const char* codecLabel;
  std::string setting;
  const char* content;
  const std::vector<Frame>* frames;
  OSType codec;
  CodecQ q;
  int passes;         // rounds are spread over this many passes of the table
  int roundsPerPass;  // one thread and all threads, in turn
  std::vector<uint8_t> out;
  Ours ours;
  Result theirs;
  // JPEG only: libjpeg-turbo at our quality, its rounds between ours; the
  // PSNR of both over every frame.
  int turboQuality = 0;
  std::unique_ptr<Turbo> turboEncoder;
  Result turbo;
  double oursPsnrAll = 0;
};

Row makeRow(const char* label, const char* setting, const char* content, const std::vector<Frame>& frames,
            OSType codec, CodecQ q, int passes, int roundsPerPass) {
  Row row{label, setting, content, &frames, codec, q, passes, roundsPerPass, {}, {}, {}, 0, nullptr, {}, 0};
  row.out.resize(qt::maxCompressedSize(codec, frames[0].width, frames[0].height, q));
  row.ours.one.hash = row.ours.all.hash = 0xcbf29ce484222325ull;
  if (codec == kJPEGCodecType) {
    size_t n = qt::compressRows(codec, rowsOf(frames[0]), q, row.out.data(), row.out.size());
    test::Decoded d = test::avDecode(codec, frames[0].width, frames[0].height, 24, row.out.data(), n);
    row.ours.one.psnr = test::psnr(d.rgb, frames[0].rgb());
    row.oursPsnrAll = psnrOverFrames(frames, [&](const Frame& f) {
      return std::pair<const uint8_t*, size_t>(
          row.out.data(), qt::compressRows(codec, rowsOf(f), q, row.out.data(), row.out.size()));
    });
    row.turboQuality = qt::jpeg::jpegQuality(q);
    row.turboEncoder = std::make_unique<Turbo>(frames[0].width, frames[0].height, row.turboQuality);
    Turbo& t = *row.turboEncoder;
    row.turbo.psnr = psnrOverFrames(
        frames, [&](const Frame& f) { return std::pair<const uint8_t*, size_t>(t.data(), t.compress(f)); });
  }
  return row;
}

// One round of libjpeg-turbo over the frames, each frame timed by itself.
void roundOfTurbo(Row& row, bool first) {
  const std::vector<Frame>& frames = *row.frames;
  for (size_t i = 0; i < frames.size(); ++i) {
    const double f0 = now();
    const size_t n = row.turboEncoder->compress(frames[i]);
    row.turbo.keepFastest(i, now() - f0);
    if (first) row.turbo.bytes += n;
  }
}

// One thread and all threads take turns round by round, so that other work
// on a shared machine weighs on both alike.
void passOfOurs(Row& row, bool first) {
  for (int k = 0; k < row.roundsPerPass; ++k) {
    roundOfOurs(row.codec, row.q, *row.frames, 1, first && k == 0, row.out, row.ours.one);
    if (row.turboEncoder) roundOfTurbo(row, first && k == 0);
    roundOfOurs(row.codec, row.q, *row.frames, qt::workers::threadCount(), first && k == 0, row.out,
                row.ours.all);
  }
}

// What this machine gives a second thread, with no code of ours inside:
// the same work cut into two halves, run one after the other on one thread,
// then at once on two (a plain thread that spins between jobs). A shared
// virtual machine's second processor is not always a whole one, so this is
// the ceiling for our cores column in the same run.
class Reference {
 public:
  Reference(const char* name, std::function<void(int)> half) : name_(name), half_(std::move(half)) {}
  // Rounds on one thread and on two in turn; the second thread lives only
  // for these rounds, so it spins while nothing else of the run does.
  void rounds(int count) {
    std::atomic<int> posted{0}, done{0};
    std::thread helper([&] {
      for (int seen = 0;;) {
        int job;
        while ((job = posted.load(std::memory_order_acquire)) == seen) std::this_thread::yield();
        if (job < 0) return;
        seen = job;
        half_(1);
        done.store(job, std::memory_order_release);
      }
    });
    for (int job = 1; job <= count; ++job) {
      double t0 = now();
      half_(0);
      half_(1);
      one_.keepFastest(0, now() - t0);
      t0 = now();
      posted.store(job, std::memory_order_release);
      half_(0);
      while (done.load(std::memory_order_acquire) != job) std::this_thread::yield();
      all_.keepFastest(0, now() - t0);
    }
    posted.store(-1, std::memory_order_release);
    helper.join();
  }
  void report() const { std::printf("  %-52s %.2fx\n", name_, one_.seconds() / all_.seconds()); }

 private:
  const char* name_;
  std::function<void(int)> half_;
  Result one_, all_;
};

// zlib's deflate at level 6 of one half of a frame's RGB bytes, by itself.
void deflateHalf(const std::vector<uint8_t>& rgb, std::vector<uint8_t>& out, int half) {
  const size_t n = rgb.size() / 2;
  z_stream z{};
  deflateInit(&z, 6);
  z.next_in = const_cast<Bytef*>(rgb.data() + size_t(half) * n);
  z.avail_in = uInt(n);
  z.next_out = out.data() + size_t(half) * (out.size() / 2);
  z.avail_out = uInt(out.size() / 2);
  deflate(&z, Z_FINISH);
  deflateEnd(&z);
}

// One half of every frame's rows copied out, as None's conversion reads them.
void copyHalf(const std::vector<Frame>& frames, std::vector<uint8_t>& out, int half) {
  for (const Frame& f : frames) {
    const size_t n = f.bgrx.size() / 2;
    std::memcpy(out.data() + size_t(half) * n, f.bgrx.data() + size_t(half) * n, n);
  }
}

// BGRX to full-range YCbCr 4:2:0 planes for libavcodec's mjpeg encoder.
void toYuv420(const Frame& f, AVFrame* av) {
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x) {
      const uint8_t* p = f.bgrx.data() + (size_t(y) * size_t(f.width) + size_t(x)) * 4;
      av->data[0][y * av->linesize[0] + x] =
          uint8_t((19595 * p[2] + 38470 * p[1] + 7471 * p[0] + 32768) >> 16);
    }
  for (int y = 0; y < (f.height + 1) / 2; ++y)
    for (int x = 0; x < (f.width + 1) / 2; ++x) {
      int r = 0, g = 0, b = 0, n = 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
          int yy = 2 * y + dy, xx = 2 * x + dx;
          if (yy >= f.height || xx >= f.width) continue;
          const uint8_t* p = f.bgrx.data() + (size_t(yy) * size_t(f.width) + size_t(xx)) * 4;
          r += p[2];
          g += p[1];
          b += p[0];
          ++n;
        }
      r /= n;
      g /= n;
      b /= n;
      av->data[1][y * av->linesize[1] + x] =
          uint8_t((-11059 * r - 21709 * g + 32768 * b + (128 << 16) + 32767) >> 16);
      av->data[2][y * av->linesize[2] + x] =
          uint8_t((32768 * r - 27439 * g - 5329 * b + (128 << 16) + 32767) >> 16);
    }
}

Result runTheirs(AVCodecID id, int qscale, const std::vector<Frame>& frames, int rounds) {
  Result r;
  const AVCodec* codec = avcodec_find_encoder(id);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->width = frames[0].width;
  ctx->height = frames[0].height;
  ctx->time_base = AVRational{1, 1000};
  ctx->gop_size = 1;  // key frames only
  ctx->thread_count = 1;
  ctx->pix_fmt = id == AV_CODEC_ID_MJPEG ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_RGB24;
  if (id == AV_CODEC_ID_MJPEG) {
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = qscale * FF_QP2LAMBDA;
  }
  if (avcodec_open2(ctx, codec, nullptr) < 0) {
    std::fprintf(stderr, "cannot open %s\n", codec->name);
    return r;
  }
  std::vector<AVFrame*> inputs;
  for (const Frame& f : frames) {
    AVFrame* av = av_frame_alloc();
    av->format = ctx->pix_fmt;
    av->width = f.width;
    av->height = f.height;
    av_frame_get_buffer(av, 0);
    if (id == AV_CODEC_ID_MJPEG) {
      toYuv420(f, av);
    } else {
      std::vector<uint8_t> rgb = f.rgb();
      for (int y = 0; y < f.height; ++y)
        std::memcpy(av->data[0] + y * av->linesize[0], rgb.data() + size_t(y) * size_t(f.width) * 3,
                    size_t(f.width) * 3);
    }
    inputs.push_back(av);
  }
  AVPacket* pkt = av_packet_alloc();
  std::vector<uint8_t> first;
  int64_t pts = 0;
  for (int k = 0; k < rounds; ++k) {
    for (size_t i = 0; i < inputs.size(); ++i) {
      AVFrame* av = inputs[i];
      const double t0 = now();
      av->pts = pts++;
      if (id == AV_CODEC_ID_MJPEG) av->quality = ctx->global_quality;  // what QSCALE reads
      avcodec_send_frame(ctx, av);
      while (avcodec_receive_packet(ctx, pkt) == 0) {
        if (k == 0) r.bytes += uint64_t(pkt->size);
        if (first.empty()) first.assign(pkt->data, pkt->data + pkt->size);
        av_packet_unref(pkt);
      }
      r.keepFastest(i, now() - t0);
    }
  }
  if (id == AV_CODEC_ID_MJPEG) {
    test::Decoded d =
        test::avDecode(kJPEGCodecType, frames[0].width, frames[0].height, 24, first.data(), first.size());
    r.psnr = test::psnr(d.rgb, frames[0].rgb());
  }
  av_packet_free(&pkt);
  for (AVFrame* av : inputs) av_frame_free(&av);
  avcodec_free_context(&ctx);
  return r;
}

void report(const char* codec, const char* setting, const char* content, const Frame& f, const Ours& ours,
            const Result& theirs, double oursPsnr) {
  const double mb = double(f.width) * f.height * 3 / 1e6;
  const double oneRate = ours.one.rate(), allRate = ours.all.rate(), theirRate = theirs.rate();
  const bool same = ours.one.bytes == ours.all.bytes && ours.one.hash == ours.all.hash;
  std::printf(
      "| %-9s | %-16s | %-9s | %4dx%-4d | %8.1f | %8.1f | %5.2fx | %8.1f | %6.2fx | %6.2fx | %9.1f | %-4s | "
      "%9.1f | %5.3f |",
      codec, setting, content, f.width, f.height, oneRate * mb, allRate * mb, allRate / oneRate,
      theirRate * mb, oneRate / theirRate, allRate / theirRate, double(ours.one.bytes) / 1024,
      same ? "yes" : "NO", double(theirs.bytes) / 1024, double(ours.one.bytes) / double(theirs.bytes));
  if (oursPsnr > 0) std::printf(" %.2f / %.2f dB", oursPsnr, theirs.psnr);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "bench/fixtures";
  const std::string only = argc > 2 ? argv[2] : "";
  auto wanted = [&](const char* label) { return only.empty() || only == label; };
  std::vector<Frame> fixtures;
  for (const char* name : {"editor.png", "dialog.png", "sheet.png"}) {
    Frame f;
    if (!bench::loadFixture(dir + "/" + name, &f)) {
      std::fprintf(stderr, "cannot load %s/%s\n", dir.c_str(), name);
      return 1;
    }
    fixtures.push_back(std::move(f));
  }
  const int threads = qt::workers::threadCount();
  std::printf(
      "Throughput in MB/s of 24-bit input; sizes are the sum over the content's frames\n"
      "(KiB); ratio = our size / theirs. Key frames only. Ours on 1 thread and on all %d;\n"
      "cores = all / 1; same = the bytes on all threads equal those on one. libavcodec on\n"
      "1 thread; speed 1 and speed all = ours on 1 / on all threads against it. JPEG rows pit\n"
      "us against libavcodec's mjpeg at the qscale of nearest PSNR (PSNR of the first frame\n"
      "shown: ours / theirs), then against libjpeg-turbo at the libjpeg quality of our level\n"
      "(4:2:0, standard tables, 1 thread; PSNR over every frame: ours / theirs).\n\n",
      threads);
  std::printf(
      "| codec     | setting          | content   | size      | 1 thr MB/s | all MB/s | cores  | lavc MB/s | "
      "speed 1 | speed all | ours KiB  | same | lavc KiB  | size  |\n");
  std::printf(
      "|-----------|------------------|-----------|-----------|---------:|---------:|-------:|---------:|----"
      "---"
      ":|-------:|----------:|------|----------:|------:|\n");
  // Every row's rounds are spread over passes of the whole table rather than
  // run back to back: a stretch of seconds in which the machine gives us less
  // (a shared virtual machine does that) then spoils one round of many rows,
  // not every round of a few.
  const int sizes[3][2] = {{640, 480}, {1280, 720}, {1920, 1080}};
  std::vector<std::vector<Frame>> contents;
  contents.reserve(2 * 3);
  std::vector<Row> rows;
  for (const auto& wh : sizes) {
    std::vector<Frame> windows, scroll;
    for (const Frame& f : fixtures) windows.push_back(crop(f, wh[0], wh[1]));
    for (int i = 0; i < 8; ++i) scroll.push_back(crop(fixtures[0], wh[0], wh[1], 40 + 19 * i));
    contents.push_back(std::move(windows));
    const std::vector<Frame>& windowFrames = contents.back();
    contents.push_back(std::move(scroll));
    const std::vector<Frame>& scrollFrames = contents.back();
    const int passes = wh[0] >= 1920 ? 9 : 5;
    for (const auto& [name, fr] :
         {std::pair<const char*, const std::vector<Frame>*>{"windows", &windowFrames},
          {"scrolling", &scrollFrames}}) {
      if (wanted("Animation")) {
        rows.push_back(makeRow("Animation", "lossless/qtrle", name, *fr, kAnimationCodecType,
                               codecLosslessQuality, passes, 4));
        rows.back().theirs = runTheirs(AV_CODEC_ID_QTRLE, 0, *fr, passes);
      }
      if (wanted("None")) {
        rows.push_back(
            makeRow("None", "any/rawvideo", name, *fr, kRawCodecType, codecNormalQuality, passes, 4));
        rows.back().theirs = runTheirs(AV_CODEC_ID_RAWVIDEO, 0, *fr, passes * 4);
      }
      if (wanted("PNG")) {
        const Result png = runTheirs(AV_CODEC_ID_PNG, 0, *fr, passes);  // one setting for every row
        for (const auto& [q, setting] : {std::pair<CodecQ, const char*>{codecLowQuality, "low/default"},
                                         {codecNormalQuality, "normal/default"},
                                         {codecHighQuality, "high/default"},
                                         {codecLosslessQuality, "lossless/default"}}) {
          rows.push_back(makeRow("PNG", setting, name, *fr, kPNGCodecType, q, passes, 1));
          rows.back().theirs = png;
        }
      }
      for (CodecQ q : {codecNormalQuality, codecHighQuality}) {
        if (!wanted("JPEG")) break;
        // The setting's name holds libavcodec's qscale, known once ours is measured.
        Row row = makeRow("JPEG", "", name, *fr, kJPEGCodecType, q, passes, 1);
        // libavcodec at the qscale whose PSNR on the first frame is nearest ours.
        int best = 1;
        double bestGap = 1e9;
        for (int qscale = 1; qscale <= 16; ++qscale) {
          std::vector<Frame> one(fr->begin(), fr->begin() + 1);
          double gap = std::fabs(runTheirs(AV_CODEC_ID_MJPEG, qscale, one, 1).psnr - row.ours.one.psnr);
          if (gap < bestGap) {
            bestGap = gap;
            best = qscale;
          }
        }
        char setting[32];
        std::snprintf(setting, sizeof setting, "%s/q %d", q == codecNormalQuality ? "normal" : "high", best);
        row.setting = setting;
        row.theirs = runTheirs(AV_CODEC_ID_MJPEG, best, *fr, passes);
        rows.push_back(std::move(row));
      }
    }
  }
  // The machine's own references, at 1920 x 1080: the editor's bytes
  // deflated, and the frames' rows copied, one frame (held in the cache, as
  // a recording's one frame is) and the eight scrolled ones (64 MB, more
  // than the cache holds, as the scrolling rows of None are).
  const std::vector<Frame>& big = contents[4];
  const std::vector<Frame>& bigScroll = contents[5];
  const std::vector<uint8_t> editorRgb = big[0].rgb();
  std::vector<uint8_t> deflated(compressBound(uLong(editorRgb.size())) + 1024), copied(big[0].bgrx.size());
  std::vector<std::unique_ptr<Reference>> references;
  const std::vector<Frame> oneFrame(big.begin(), big.begin() + 1);
  if (only.empty()) {  // a run of one codec's rows leaves the machine's references out
    references.push_back(
        std::make_unique<Reference>("deflate, zlib level 6, of the 1920x1080 editor",
                                    [&](int half) { deflateHalf(editorRgb, deflated, half); }));
    references.push_back(std::make_unique<Reference>("copy of one 1920x1080 frame, 4 times", [&](int half) {
      for (int i = 0; i < 4; ++i) copyHalf(oneFrame, copied, half);
    }));
    references.push_back(std::make_unique<Reference>("copy of the eight scrolled 1920x1080 frames",
                                                     [&](int half) { copyHalf(bigScroll, copied, half); }));
  }

  int mostPasses = 0;
  for (const Row& row : rows) mostPasses = std::max(mostPasses, row.passes);
  for (int pass = 0; pass < mostPasses; ++pass) {
    for (Row& row : rows)
      if (pass < row.passes) passOfOurs(row, pass == 0);
    for (auto& r : references) r->rounds(4);
  }
  for (const Row& row : rows) {
    report(row.codecLabel, row.setting.c_str(), row.content, (*row.frames)[0], row.ours, row.theirs,
           row.ours.one.psnr);
    if (!row.turboEncoder) continue;
    char setting[32];
    std::snprintf(setting, sizeof setting, "%s/turbo %d", row.q == codecNormalQuality ? "normal" : "high",
                  row.turboQuality);
    report(row.codecLabel, setting, row.content, (*row.frames)[0], row.ours, row.turbo, row.oursPsnrAll);
  }
  std::printf(
      "\nWhat this machine gives two threads in the same run: the same work in two halves, on two\n"
      "plain threads against one (no code of ours inside; the ceiling of the cores column):\n");
  for (const auto& r : references) r->report();
  std::printf("\nProcessors busy during the rounds on all threads: %.2f of %d (processor time / wall time)\n",
              allRoundsWall > 0 ? allRoundsCpu / allRoundsWall : 0.0, threads);
  return 0;
}
