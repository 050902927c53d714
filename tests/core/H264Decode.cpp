#include "H264Decode.h"

#include <cmath>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace test {
namespace {

uint8_t clampByte(double v) { return uint8_t(std::lround(v < 0 ? 0 : v > 255 ? 255 : v)); }

// Limited-range BT.601 to RGB, with the textbook's constants (not the
// encoder's integer ones), chroma taken from the sample covering the pixel.
std::vector<uint8_t> rgbOf(const AVFrame* f, int width, int height) {
  std::vector<uint8_t> out(size_t(width) * size_t(height) * 3);
  for (int y = 0; y < height; ++y) {
    const uint8_t* py = f->data[0] + ptrdiff_t(y) * f->linesize[0];
    const uint8_t* pu = f->data[1] + ptrdiff_t(y >> 1) * f->linesize[1];
    const uint8_t* pv = f->data[2] + ptrdiff_t(y >> 1) * f->linesize[2];
    uint8_t* q = out.data() + size_t(y) * size_t(width) * 3;
    for (int x = 0; x < width; ++x) {
      const double Y = 255.0 / 219.0 * (py[x] - 16.0);
      const double Cb = 255.0 / 224.0 * (pu[x >> 1] - 128.0), Cr = 255.0 / 224.0 * (pv[x >> 1] - 128.0);
      q[3 * x] = clampByte(Y + 1.402 * Cr);
      q[3 * x + 1] = clampByte(Y - 0.344136 * Cb - 0.714136 * Cr);
      q[3 * x + 2] = clampByte(Y + 1.772 * Cb);
    }
  }
  return out;
}

std::string errorText(int err) {
  char text[AV_ERROR_MAX_STRING_SIZE];
  av_strerror(err, text, sizeof text);
  return text;
}

}  // namespace

H264Frames decodeH264(const std::vector<uint8_t>& avcCAtom, const std::vector<std::vector<uint8_t>>& samples,
                      int cropWidth, int cropHeight) {
  H264Frames result;
  if (avcCAtom.size() < 8 || std::memcmp(avcCAtom.data() + 4, "avcC", 4) != 0) {
    result.error = "no avcC atom";
    return result;
  }
  const AVCodec* dec = avcodec_find_decoder(AV_CODEC_ID_H264);
  AVCodecContext* ctx = avcodec_alloc_context3(dec);
  const size_t extra = avcCAtom.size() - 8;
  ctx->extradata = static_cast<uint8_t*>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
  std::memcpy(ctx->extradata, avcCAtom.data() + 8, extra);
  ctx->extradata_size = int(extra);
  ctx->thread_count = 1;
  ctx->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_CRCCHECK;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto receive = [&]() {
    for (;;) {
      const int err = avcodec_receive_frame(ctx, frame);
      if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return true;
      if (err < 0) {
        result.error = "receive: " + errorText(err);
        return false;
      }
      if (frame->format != AV_PIX_FMT_YUV420P) {
        result.error = "pixel format " + std::to_string(frame->format);
        return false;
      }
      result.width = frame->width;
      result.height = frame->height;
      if (frame->width < cropWidth || frame->height < cropHeight) {
        result.error = "decoded frame smaller than the source";
        return false;
      }
      result.rgb.push_back(rgbOf(frame, cropWidth, cropHeight));
      result.key.push_back(frame->key_frame != 0);
      av_frame_unref(frame);
    }
  };
  bool ok = avcodec_open2(ctx, dec, nullptr) >= 0;
  if (!ok) result.error = "open failed";
  for (size_t i = 0; ok && i < samples.size(); ++i) {
    av_new_packet(pkt, int(samples[i].size()));
    std::memcpy(pkt->data, samples[i].data(), samples[i].size());
    const int err = avcodec_send_packet(ctx, pkt);
    av_packet_unref(pkt);
    if (err < 0) {
      result.error = "sample " + std::to_string(i) + ": " + errorText(err);
      ok = false;
    }
    ok = ok && receive();
  }
  if (ok) {
    avcodec_send_packet(ctx, nullptr);
    ok = receive();
  }
  result.ok = ok;
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&ctx);
  return result;
}

Image loadFixture(const std::string& name) {
  Image img;
  FILE* file = std::fopen((std::string(SKELBY_FIXTURES) + "/" + name).c_str(), "rb");
  if (!file) return img;
  std::vector<uint8_t> png;
  uint8_t buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, file)) > 0;) png.insert(png.end(), buf, buf + n);
  std::fclose(file);
  const AVCodec* dec = avcodec_find_decoder(AV_CODEC_ID_PNG);
  AVCodecContext* ctx = avcodec_alloc_context3(dec);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  if (avcodec_open2(ctx, dec, nullptr) >= 0 && av_new_packet(pkt, int(png.size())) >= 0) {
    std::memcpy(pkt->data, png.data(), png.size());
    if (avcodec_send_packet(ctx, pkt) >= 0 && avcodec_receive_frame(ctx, frame) >= 0 &&
        frame->format == AV_PIX_FMT_RGB24) {
      img.width = frame->width;
      img.height = frame->height;
      img.bgrx.resize(size_t(img.width) * size_t(img.height) * 4);
      for (int y = 0; y < img.height; ++y) {
        const uint8_t* p = frame->data[0] + ptrdiff_t(y) * frame->linesize[0];
        uint8_t* q = img.row(y);
        for (int x = 0; x < img.width; ++x) {
          q[4 * x] = p[3 * x + 2];
          q[4 * x + 1] = p[3 * x + 1];
          q[4 * x + 2] = p[3 * x];
          q[4 * x + 3] = 0;
        }
      }
    }
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&ctx);
  return img;
}

Image scrolled(const Image& img, int rows) {
  Image out = img;
  for (int y = 0; y < img.height; ++y)
    std::memcpy(out.row(y), img.row((y + rows) % img.height), size_t(img.width) * 4);
  return out;
}

}  // namespace test
