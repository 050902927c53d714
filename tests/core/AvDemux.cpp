#include "AvDemux.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace test {
namespace {

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

std::string avError(const char* what, int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = "";
  av_strerror(code, text, sizeof text);
  return std::string(what) + ": " + text;
}

}  // namespace

DemuxedMovie avDemux(const uint8_t* file, size_t size, bool ignoreEditList) {
  DemuxedMovie movie;
  MemoryInput input{file, size, 0};
  constexpr int kBufferSize = 4096;
  uint8_t* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
  AVIOContext* pb =
      buffer ? avio_alloc_context(buffer, kBufferSize, 0, &input, readInput, nullptr, seekInput) : nullptr;
  AVFormatContext* fmt = avformat_alloc_context();
  if (!pb || !fmt) {
    if (pb)
      av_freep(&pb->buffer);
    else
      av_free(buffer);
    avio_context_free(&pb);
    avformat_free_context(fmt);
    movie.error = "libav allocation failed";
    return movie;
  }
  fmt->pb = pb;
  AVDictionary* options = nullptr;
  if (ignoreEditList) av_dict_set(&options, "ignore_editlist", "1", 0);
  const int opened = avformat_open_input(&fmt, nullptr, nullptr, &options);
  av_dict_free(&options);
  if (opened < 0) {
    movie.error = avError("open", opened);
  } else {
    movie.opened = true;
    movie.streams = fmt->nb_streams;
    movie.durationUs = fmt->duration;
    if (fmt->nb_streams > 0) {
      const AVStream* st = fmt->streams[0];
      movie.codec = st->codecpar->codec_id;
      movie.width = st->codecpar->width;
      movie.height = st->codecpar->height;
      movie.timeBaseNum = st->time_base.num;
      movie.timeBaseDen = st->time_base.den;
    }
    AVPacket* pkt = av_packet_alloc();
    int ret = 0;
    while (pkt && (ret = av_read_frame(fmt, pkt)) >= 0) {
      if (pkt->stream_index == 0)
        movie.packets.push_back(
            DemuxedPacket{std::vector<uint8_t>(pkt->data, pkt->data + pkt->size), pkt->pts, pkt->duration});
      av_packet_unref(pkt);
    }
    if (pkt && ret != AVERROR_EOF) movie.error = avError("read", ret);
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
  }
  avformat_free_context(fmt);
  av_freep(&pb->buffer);
  avio_context_free(&pb);
  return movie;
}

}  // namespace test
