#include "AvDecode.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace test {

AVCodecID avCodecId(OSType codec) {
  switch (codec) {
    case kAnimationCodecType:
      return AV_CODEC_ID_QTRLE;
    case kRawCodecType:
      return AV_CODEC_ID_RAWVIDEO;
    case kJPEGCodecType:
      return AV_CODEC_ID_MJPEG;
    case kPNGCodecType:
      return AV_CODEC_ID_PNG;
    default:
      return AV_CODEC_ID_NONE;
  }
}

namespace {

// Turns a decoded frame of the formats these codecs give into RGB24.
bool toRgb24(const AVFrame* f, std::vector<uint8_t>* out) {
  const int w = f->width, h = f->height;
  out->assign(size_t(w) * size_t(h) * 3, 0);
  for (int y = 0; y < h; ++y) {
    uint8_t* q = out->data() + size_t(y) * size_t(w) * 3;
    const uint8_t* p = f->data[0] + ptrdiff_t(y) * f->linesize[0];
    switch (f->format) {
      case AV_PIX_FMT_RGB24:
        std::memcpy(q, p, size_t(w) * 3);
        break;
      case AV_PIX_FMT_BGR24:
        for (int x = 0; x < w; ++x) {
          q[3 * x] = p[3 * x + 2];
          q[3 * x + 1] = p[3 * x + 1];
          q[3 * x + 2] = p[3 * x];
        }
        break;
      case AV_PIX_FMT_YUVJ420P:
      case AV_PIX_FMT_YUVJ422P:
      case AV_PIX_FMT_YUVJ444P:
      case AV_PIX_FMT_YUV420P:
      case AV_PIX_FMT_YUV422P:
      case AV_PIX_FMT_YUV444P: {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(f->format));
        const uint8_t* u = f->data[1] + ptrdiff_t(y >> d->log2_chroma_h) * f->linesize[1];
        const uint8_t* v = f->data[2] + ptrdiff_t(y >> d->log2_chroma_h) * f->linesize[2];
        for (int x = 0; x < w; ++x) {
          // Full-range BT.601, as JFIF defines it.
          double Y = p[x], Cb = u[x >> d->log2_chroma_w] - 128.0, Cr = v[x >> d->log2_chroma_w] - 128.0;
          double rgb[3] = {Y + 1.402 * Cr, Y - 0.344136 * Cb - 0.714136 * Cr, Y + 1.772 * Cb};
          for (int c = 0; c < 3; ++c)
            q[3 * x + c] = uint8_t(std::lround(rgb[c] < 0 ? 0 : rgb[c] > 255 ? 255 : rgb[c]));
        }
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

}  // namespace

Decoded avDecode(OSType codec, int width, int height, int depth, const uint8_t* data, size_t size) {
  Decoded result;
  const AVCodec* dec = avcodec_find_decoder(avCodecId(codec));
  if (!dec) {
    result.error = "no decoder";
    return result;
  }
  AVCodecContext* ctx = avcodec_alloc_context3(dec);
  ctx->width = width;
  ctx->height = height;
  ctx->codec_tag = codec >> 24 | (codec >> 8 & 0xFF00) | (codec << 8 & 0xFF0000) | codec << 24;
  ctx->bits_per_coded_sample = depth;
  ctx->thread_count = 1;
  if (codec == kRawCodecType) ctx->pix_fmt = AV_PIX_FMT_RGB24;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  if (avcodec_open2(ctx, dec, nullptr) < 0) {
    result.error = "open failed";
  } else {
    av_new_packet(pkt, int(size));
    std::memcpy(pkt->data, data, size);
    pkt->flags = AV_PKT_FLAG_KEY;
    int err = avcodec_send_packet(ctx, pkt);
    if (err >= 0) err = avcodec_receive_frame(ctx, frame);
    if (err < 0) {
      char text[AV_ERROR_MAX_STRING_SIZE];
      av_strerror(err, text, sizeof text);
      result.error = text;
    } else {
      result.width = frame->width;
      result.height = frame->height;
      result.ok = toRgb24(frame, &result.rgb);
      if (!result.ok)
        result.error = std::string("pixel format ") + av_get_pix_fmt_name(AVPixelFormat(frame->format));
    }
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&ctx);
  return result;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  if (sum == 0) return 99;
  double mse = sum / double(a.size());
  return 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace test
