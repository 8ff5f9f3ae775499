#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "numeric/image_plane.h"

namespace lumet::testing {

// How a test video is timed, and whether it has a sound track: a 440 Hz sine, 16-bit mono
// PCM at 8000 samples a second in packets of 320 samples (40 ms), from time 0 for
// audioSeconds.
struct TestVideoOptions {
  int rateNum = 25;   // frames a second: rateNum / rateDen, frame k presented at
  int rateDen = 1;    // (firstFrame + k) / rate seconds
  int firstFrame = 0;
  double audioSeconds = 0;
};

// Writes frames as a lossless FFV1 video (BGR0 samples, so the colours pass unchanged) in
// the container the name's extension selects. Throws std::runtime_error on any failure.
inline void WriteLosslessVideo(const std::string& path, const std::vector<ColorGrayImage>& frames,
                               const TestVideoOptions& options = TestVideoOptions()) {
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
  context->time_base = AVRational{options.rateDen, options.rateNum};
  context->framerate = AVRational{options.rateNum, options.rateDen};
  stream->time_base = context->time_base;
  stream->avg_frame_rate = context->framerate;
  if (format->oformat->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  check(avcodec_open2(context, codec, nullptr), "encoder");
  check(avcodec_parameters_from_context(stream->codecpar, context), "stream");
  constexpr int kSampleRate = 8000;
  constexpr int kPacketSamples = 320;
  AVStream* sound = nullptr;
  if (options.audioSeconds > 0) {
    sound = avformat_new_stream(format, nullptr);
    sound->time_base = AVRational{1, kSampleRate};
    AVCodecParameters* p = sound->codecpar;
    p->codec_type = AVMEDIA_TYPE_AUDIO;
    p->codec_id = AV_CODEC_ID_PCM_S16LE;
    p->format = AV_SAMPLE_FMT_S16;
    p->sample_rate = kSampleRate;
    av_channel_layout_default(&p->ch_layout, 1);
    p->bits_per_coded_sample = 16;
    p->block_align = 2;
    p->bit_rate = 16 * kSampleRate;
  }
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
  // The sound's packets, each written before the first frame presented after it starts.
  const long long soundPackets = static_cast<long long>(options.audioSeconds * kSampleRate) / kPacketSamples;
  long long soundDone = 0;
  AVPacket* soundPacket = av_packet_alloc();
  const auto writeSound = [&](double until) {
    for (; sound != nullptr && soundDone < soundPackets &&
           static_cast<double>(soundDone * kPacketSamples) / kSampleRate <= until;
         ++soundDone) {
      check(av_new_packet(soundPacket, 2 * kPacketSamples), "sound packet");
      for (int j = 0; j < kPacketSamples; ++j) {
        const long long n = soundDone * kPacketSamples + j;
        const auto v = static_cast<int16_t>(std::lround(8000.0 * std::sin(2 * M_PI * 440.0 * static_cast<double>(n) / kSampleRate)));
        soundPacket->data[2 * j] = static_cast<uint8_t>(v & 0xff);
        soundPacket->data[2 * j + 1] = static_cast<uint8_t>((v >> 8) & 0xff);
      }
      soundPacket->pts = soundDone * kPacketSamples;
      soundPacket->dts = soundPacket->pts;
      soundPacket->duration = kPacketSamples;
      soundPacket->stream_index = sound->index;
      soundPacket->flags |= AV_PKT_FLAG_KEY;
      av_packet_rescale_ts(soundPacket, AVRational{1, kSampleRate}, sound->time_base);
      check(av_interleaved_write_frame(format, soundPacket), "sound");
    }
  };
  for (size_t i = 0; i < frames.size(); ++i) {
    writeSound(static_cast<double>(options.firstFrame + static_cast<long long>(i)) * options.rateDen / options.rateNum);
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
    frame->pts = options.firstFrame + static_cast<int64_t>(i);
    check(avcodec_send_frame(context, frame), "encode");
    drain();
  }
  check(avcodec_send_frame(context, nullptr), "flush");
  drain();
  writeSound(1e300);
  av_packet_free(&soundPacket);
  check(av_write_trailer(format), "trailer");
  avio_closep(&format->pb);
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&context);
  avformat_free_context(format);
}

// One packet of a stream as the container holds it, its times in seconds.
struct TestPacket {
  double pts = 0;
  double duration = 0;
  std::vector<uint8_t> data;
  bool operator==(const TestPacket& other) const {
    return pts == other.pts && duration == other.duration && data == other.data;
  }
};

// The packets of the best stream of the given type (empty when the file has none), read
// with the demuxer alone. Throws std::runtime_error when the file cannot be read.
inline std::vector<TestPacket> ReadTestPackets(const std::string& path, AVMediaType type) {
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
    throw std::runtime_error("cannot open test video " + path);
  }
  std::vector<TestPacket> packets;
  if (avformat_find_stream_info(format, nullptr) >= 0) {
    const int stream = av_find_best_stream(format, type, -1, -1, nullptr, 0);
    AVPacket* packet = av_packet_alloc();
    while (stream >= 0 && av_read_frame(format, packet) >= 0) {
      if (packet->stream_index == stream) {
        const AVRational base = format->streams[stream]->time_base;
        TestPacket p;
        p.pts = static_cast<double>(packet->pts) * av_q2d(base);
        p.duration = static_cast<double>(packet->duration) * av_q2d(base);
        p.data.assign(packet->data, packet->data + packet->size);
        packets.push_back(std::move(p));
      }
      av_packet_unref(packet);
    }
    av_packet_free(&packet);
  }
  avformat_close_input(&format);
  return packets;
}

}  // namespace lumet::testing
