#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <stdexcept>
#include <string>
#include <vector>

#include "numeric/image_plane.h"

namespace lumet::testing {

// Writes frames as a lossless FFV1 video (BGR0 samples, so the colours pass unchanged) in
// the container the name's extension selects. Throws std::runtime_error on any failure.
inline void WriteLosslessVideo(const std::string& path, const std::vector<ColorGrayImage>& frames) {
  const auto check = [&](int rc, const char* what) {
    if (rc < 0) throw std::runtime_error(std::string("writing test video ") + path + ": " + what);
  };
  const int w = frames.at(0).Width();
  const int h = frames.at(0).Height();
  AVFormatContext* format = nullptr;
  check(avformat_alloc_output_context2(&format, nullptr, nullptr, path.c_str()), "container");
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
  if (codec == nullptr) throw std::runtime_error("no FFV1 encoder");
  AVStream* stream = avformat_new_stream(format, nullptr);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->width = w;
  context->height = h;
  context->pix_fmt = AV_PIX_FMT_BGR0;
  context->time_base = AVRational{1, 25};
  stream->time_base = context->time_base;
  if (format->oformat->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  check(avcodec_open2(context, codec, nullptr), "encoder");
  check(avcodec_parameters_from_context(stream->codecpar, context), "stream");
  check(avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE), "file");
  check(avformat_write_header(format, nullptr), "header");
  AVFrame* frame = av_frame_alloc();
  frame->format = context->pix_fmt;
  frame->width = w;
  frame->height = h;
  check(av_frame_get_buffer(frame, 0), "frame");
  AVPacket* packet = av_packet_alloc();
  const auto drain = [&] {
    while (avcodec_receive_packet(context, packet) == 0) {
      av_packet_rescale_ts(packet, context->time_base, stream->time_base);
      packet->stream_index = stream->index;
      check(av_interleaved_write_frame(format, packet), "packet");
    }
  };
  for (size_t i = 0; i < frames.size(); ++i) {
    check(av_frame_make_writable(frame), "frame");
    for (int y = 0; y < h; ++y) {
      uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
      for (int x = 0; x < w; ++x) {
        row[4 * x] = frames[i].channels[2].Row(y)[x];
        row[4 * x + 1] = frames[i].channels[1].Row(y)[x];
        row[4 * x + 2] = frames[i].channels[0].Row(y)[x];
        row[4 * x + 3] = 0;
      }
    }
    frame->pts = static_cast<int64_t>(i);
    check(avcodec_send_frame(context, frame), "encode");
    drain();
  }
  check(avcodec_send_frame(context, nullptr), "flush");
  drain();
  check(av_write_trailer(format), "trailer");
  avio_closep(&format->pb);
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&context);
  avformat_free_context(format);
}

}  // namespace lumet::testing
