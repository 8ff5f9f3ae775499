// The writing side of the media module: frames of packed RGB24 or RGB48 encoded as lossless FFV1 in
// Matroska or as H.264 in MP4, with the audio of a source file copied packet by packet.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>

#include "codecs/codec_failure.h"
#include "codecs/video_codec.h"

namespace lumet::codec {

namespace {

enum class OutputKind { kLossless, kH264 };

struct OutputChoice {
  OutputKind kind;
  const char* container;  // FFmpeg's muxer name
  const AVCodec* codec;
};

std::string Extension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

// The container and the encoder the name's extension selects, or the reason there is none.
OutputChoice ChooseOutput(const std::string& path) {
  const std::string ext = Extension(path);
  if (ext == ".mkv") {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
    if (codec == nullptr) Fail("cannot write video " + path + ": this FFmpeg build has no FFV1 encoder");
    return OutputChoice{OutputKind::kLossless, "matroska", codec};
  }
  if (ext == ".mp4") {
    // The one H.264 encoder whose quality scale (--quality) is the constant rate factor.
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) {
      Fail("cannot write video " + path +
           ": this FFmpeg build has no H.264 encoder (libavcodec without libx264); write a .mkv file (lossless "
           "FFV1) instead");
    }
    return OutputChoice{OutputKind::kH264, "mp4", codec};
  }
  Fail("cannot write video " + path + ": a video output is a .mkv file (lossless FFV1) or a .mp4 file (H.264), not " +
       (ext.empty() ? std::string("a name without extension") : ext));
}

int WritePacket(void* opaque, uint8_t* data, int size);
int64_t SeekOutput(void* opaque, int64_t offset, int whence);

struct AudioSource {
  std::unique_ptr<Video, void (*)(Video*) noexcept> demuxer{nullptr, CloseVideo};
  int stream = -1;  // the copied stream in the source, -1 when it has none
};

// The best audio stream of the source, if it has one, and whether the output container
// takes its codec.
AudioSource OpenAudioSource(const std::string& output, const AVOutputFormat* container, int fd,
                            const std::string& path) {
  AudioSource source;
  source.demuxer.reset(OpenDemuxer(path, fd));
  AVFormatContext* format = Container(*source.demuxer);
  const int stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (stream < 0) return source;
  const AVCodecParameters* parameters = format->streams[stream]->codecpar;
  if (avformat_query_codec(container, parameters->codec_id, FF_COMPLIANCE_NORMAL) != 1) {
    Fail("cannot write video " + output + ": the audio of " + path + " (" + avcodec_get_name(parameters->codec_id) +
         ") cannot be copied into " + (container->long_name ? container->long_name : container->name) +
         "; write a .mkv file, or drop the audio with --no-audio");
  }
  source.stream = stream;
  return source;
}

}  // namespace

struct VideoEncoder {
  std::string path;
  int fd = -1;  // the caller's; written through io, never closed here
  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  AVStream* stream = nullptr;
  AVCodecContext* codec = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* scaler = nullptr;
  std::vector<uint8_t> rows;  // the caller's packed rows, each padded to 32 bytes for the scaler
  size_t sampleBytes = 1;     // of the caller's samples: 1 (RGB24) or 2 (RGB48)
  AVRational timeBase{1, 25};  // of the times the caller gives
  int64_t frameDuration = 1;   // in timeBase
  int64_t lastPts = kNoTime;
  int frames = 0;
  bool finished = false;
  // The audio copied, and the one packet read ahead of the video.
  AudioSource audio;
  AVStream* audioStream = nullptr;
  AVPacket* audioPacket = nullptr;
  bool audioHeld = false;
  bool audioDone = true;
  int64_t audioFrom = 0;
  int64_t audioTo = 0;

  ~VideoEncoder() {
    sws_freeContext(scaler);
    av_packet_free(&audioPacket);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    avformat_free_context(format);
    if (io != nullptr) av_freep(&io->buffer);
    avio_context_free(&io);
  }
};

namespace {

int WritePacket(void* opaque, uint8_t* data, int size) {
  const auto* e = static_cast<const VideoEncoder*>(opaque);
  for (int done = 0; done < size;) {
    const ssize_t n = ::write(e->fd, data + done, static_cast<size_t>(size - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return AVERROR(errno);
    }
    done += static_cast<int>(n);
  }
  return size;
}

int64_t SeekOutput(void* opaque, int64_t offset, int whence) {
  return SeekDescriptor(static_cast<const VideoEncoder*>(opaque)->fd, offset, whence);
}

void Check(const VideoEncoder& e, int rc, const char* what) {
  if (rc < 0) Fail("cannot write video " + e.path + ": " + what + ": " + AvErrorText(rc));
}

// Sends the encoder's packets to the container.
void Drain(VideoEncoder& e) {
  for (;;) {
    const int rc = avcodec_receive_packet(e.codec, e.packet);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
    Check(e, rc, "encoding");
    if (e.packet->duration <= 0) e.packet->duration = e.frameDuration;
    av_packet_rescale_ts(e.packet, e.timeBase, e.stream->time_base);
    e.packet->stream_index = e.stream->index;
    Check(e, av_interleaved_write_frame(e.format, e.packet), "writing a frame");
  }
}

// Copies the source's audio packets presented before until (in the caller's time base) and
// within the span; the first one beyond until waits for the next call.
void CopyAudio(VideoEncoder& e, int64_t until) {
  const AVStream* in = Container(*e.audio.demuxer)->streams[e.audio.stream];
  while (!e.audioDone) {
    if (!e.audioHeld) {
      const int rc = av_read_frame(Container(*e.audio.demuxer), e.audioPacket);
      if (rc < 0) {
        e.audioDone = true;
        return;
      }
      if (e.audioPacket->stream_index != e.audio.stream) {
        av_packet_unref(e.audioPacket);
        continue;
      }
      e.audioHeld = true;
    }
    const int64_t when = e.audioPacket->pts != AV_NOPTS_VALUE ? e.audioPacket->pts : e.audioPacket->dts;
    if (when == AV_NOPTS_VALUE) {
      // A packet without any time cannot be placed; it is left out.
      av_packet_unref(e.audioPacket);
      e.audioHeld = false;
      continue;
    }
    const int64_t at = av_rescale_q(when, in->time_base, e.timeBase);
    if (at >= e.audioTo) {
      av_packet_unref(e.audioPacket);
      e.audioHeld = false;
      e.audioDone = true;
      return;
    }
    if (at < e.audioFrom) {
      av_packet_unref(e.audioPacket);
      e.audioHeld = false;
      continue;
    }
    if (at > until) return;
    av_packet_rescale_ts(e.audioPacket, in->time_base, e.audioStream->time_base);
    e.audioPacket->stream_index = e.audioStream->index;
    e.audioPacket->pos = -1;
    e.audioHeld = false;
    Check(e, av_interleaved_write_frame(e.format, e.audioPacket), "copying the audio");
  }
}

}  // namespace

void CheckVideoOutput(const std::string& path, int audioFd, const std::string& audioPath, std::string& audioCodec) {
  av_log_set_level(AV_LOG_QUIET);
  const OutputChoice choice = ChooseOutput(path);
  const AVOutputFormat* container = av_guess_format(choice.container, nullptr, nullptr);
  if (container == nullptr) Fail("cannot write video " + path + ": this FFmpeg build has no " + choice.container + " muxer");
  audioCodec.clear();
  if (audioFd >= 0) {
    const AudioSource source = OpenAudioSource(path, container, audioFd, audioPath);
    if (source.stream >= 0) {
      audioCodec = avcodec_get_name(Container(*source.demuxer)->streams[source.stream]->codecpar->codec_id);
    }
  }
}

namespace {

// The encoder's size, clock and samples: RGB as they are for the lossless kind, BT.709 4:2:0
// (4:4:4 for an odd side) at the quality asked for H.264.
void SetEncoderOptions(VideoEncoder& e, OutputKind kind, const VideoOutputSettings& settings, AVRational rate) {
  e.codec->width = settings.width;
  e.codec->height = settings.height;
  e.codec->time_base = e.timeBase;
  e.codec->framerate = rate;
  e.codec->sample_aspect_ratio = AVRational{1, 1};
  const int bits = settings.bitsPerSample;
  if (kind == OutputKind::kLossless) {
    // RGB samples as they are: decoding gives back every value exactly (at 10 and 12 bits,
    // every value those bits hold). Every frame a key frame, so a damaged frame spoils no
    // other.
    switch (bits) {
      case 8: e.codec->pix_fmt = AV_PIX_FMT_BGR0; break;
      case 10: e.codec->pix_fmt = AV_PIX_FMT_GBRP10; break;
      case 12: e.codec->pix_fmt = AV_PIX_FMT_GBRP12; break;
      case 16: e.codec->pix_fmt = AV_PIX_FMT_GBRP16; break;
      default:
        Fail("cannot write video " + e.path + ": FFV1 frames hold 8, 10, 12 or 16 bits a sample, not " +
             std::to_string(bits));
    }
    e.codec->gop_size = 1;
    e.codec->level = 3;
    e.codec->thread_count = 1;
  } else {
    if (bits != 8) {
      Fail("cannot write video " + e.path + ": H.264 output holds 8 bits a sample, not " + std::to_string(bits) +
           "; write a .mkv file (lossless FFV1) to keep them");
    }
    // 4:2:0 is what players play; it needs even sides, so frames with an odd side keep
    // their full chroma.
    const bool even = settings.width % 2 == 0 && settings.height % 2 == 0;
    e.codec->pix_fmt = even ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV444P;
    e.codec->colorspace = AVCOL_SPC_BT709;
    e.codec->color_primaries = AVCOL_PRI_BT709;
    e.codec->color_trc = AVCOL_TRC_BT709;
    e.codec->color_range = AVCOL_RANGE_MPEG;
    if (settings.quality < 0 || settings.quality > 51) {
      Fail("cannot write video " + e.path + ": quality " + std::to_string(settings.quality) + " is not within 0 .. 51");
    }
    Check(e, av_opt_set_int(e.codec->priv_data, "crf", settings.quality, 0), "setting the quality");
    // Every core: the encoder's frame threads give the same stream as one thread.
    e.codec->thread_count = 0;
  }
}

// The audio stream copied from settings.audioFd's, when it has one.
void AddAudioStream(VideoEncoder& e, const VideoOutputSettings& settings) {
  if (settings.audioFd >= 0) {
    e.audio = OpenAudioSource(e.path, e.format->oformat, settings.audioFd, settings.audioPath != nullptr ? settings.audioPath : "");
    if (e.audio.stream >= 0) {
      const AVStream* in = Container(*e.audio.demuxer)->streams[e.audio.stream];
      e.audioStream = avformat_new_stream(e.format, nullptr);
      e.audioPacket = av_packet_alloc();
      if (!e.audioStream || !e.audioPacket) throw std::bad_alloc();
      Check(e, avcodec_parameters_copy(e.audioStream->codecpar, in->codecpar), "the audio stream");
      e.audioStream->codecpar->codec_tag = 0;
      e.audioStream->time_base = in->time_base;
      e.audioDone = false;
      e.audioFrom = settings.audioFrom;
      e.audioTo = settings.audioTo;
    }
  }
}

}  // namespace

VideoEncoder* OpenVideoOutput(const std::string& path, int fd, const VideoOutputSettings& settings) {
  av_log_set_level(AV_LOG_QUIET);
  const OutputChoice choice = ChooseOutput(path);
  auto encoder = std::make_unique<VideoEncoder>();
  VideoEncoder& e = *encoder;
  e.path = path;
  e.fd = fd;
  if (settings.width <= 0 || settings.height <= 0) Fail("cannot write video " + path + ": a frame has no pixels");
  if (settings.timing.timeBaseNum <= 0 || settings.timing.timeBaseDen <= 0) Fail("cannot write video " + path + ": no time base");
  e.timeBase = AVRational{settings.timing.timeBaseNum, settings.timing.timeBaseDen};
  AVRational rate{settings.timing.frameRateNum, settings.timing.frameRateDen};
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
  e.frameDuration = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), e.timeBase));

  Check(e, avformat_alloc_output_context2(&e.format, nullptr, choice.container, nullptr), "the container");
  e.io = NewIoContext(true, &e, nullptr, WritePacket, SeekOutput);
  UseOnlyIo(e.format, e.io);

  e.stream = avformat_new_stream(e.format, nullptr);
  e.codec = avcodec_alloc_context3(choice.codec);
  e.frame = av_frame_alloc();
  e.packet = av_packet_alloc();
  if (!e.stream || !e.codec || !e.frame || !e.packet) throw std::bad_alloc();
  SetEncoderOptions(e, choice.kind, settings, rate);
  if ((e.format->oformat->flags & AVFMT_GLOBALHEADER) != 0) e.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int opened = avcodec_open2(e.codec, choice.codec, nullptr);
  if (opened < 0) Fail("cannot write video " + path + ": the " + choice.codec->name + " encoder: " + AvErrorText(opened));
  Check(e, avcodec_parameters_from_context(e.stream->codecpar, e.codec), "the stream");
  e.stream->time_base = e.timeBase;
  e.stream->avg_frame_rate = rate;
  e.stream->r_frame_rate = rate;

  AddAudioStream(e, settings);
  Check(e, avformat_write_header(e.format, nullptr), "the header");

  e.frame->format = e.codec->pix_fmt;
  e.frame->width = settings.width;
  e.frame->height = settings.height;
  Check(e, av_frame_get_buffer(e.frame, 0), "a frame");
  const int flags = SWS_BICUBIC | SWS_BITEXACT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;
  e.sampleBytes = settings.bitsPerSample == 8 ? 1 : 2;
  const AVPixelFormat source = e.sampleBytes == 1 ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_RGB48;
  e.scaler = sws_getContext(settings.width, settings.height, source, settings.width, settings.height, e.codec->pix_fmt,
                            flags, nullptr, nullptr, nullptr);
  if (e.scaler == nullptr) Fail("cannot write video " + path + ": no conversion from RGB to its pixel format");
  if (choice.kind == OutputKind::kH264) {
    // The matrix and range the stream declares, which readers convert back with.
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(e.scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
  }
  return encoder.release();
}

void WriteVideoFrame(VideoEncoder& e, const void* samples, int64_t pts) {
  if (e.finished) Fail("cannot write video " + e.path + ": it is finished");
  // Times must increase; a frame without one follows the one before.
  if (pts == kNoTime) pts = e.lastPts == kNoTime ? 0 : e.lastPts + e.frameDuration;
  if (e.lastPts != kNoTime && pts <= e.lastPts) {
    Fail("cannot write video " + e.path + ": frame " + std::to_string(e.frames) + " is presented at " +
         std::to_string(pts) + ", not after the frame before it (" + std::to_string(e.lastPts) + ")");
  }
  Check(e, av_frame_make_writable(e.frame), "a frame");
  const auto* rgb = static_cast<const uint8_t*>(samples);
  const size_t packed = static_cast<size_t>(e.codec->width) * 3 * e.sampleBytes;
  const int lineSize = static_cast<int>((packed + 31) & ~size_t{31});
  e.rows.resize(static_cast<size_t>(lineSize) * static_cast<size_t>(e.codec->height));
  for (int y = 0; y < e.codec->height; ++y) {
    std::memcpy(e.rows.data() + static_cast<size_t>(y) * static_cast<size_t>(lineSize),
                rgb + static_cast<size_t>(y) * packed, packed);
  }
  const uint8_t* planes[4] = {e.rows.data(), nullptr, nullptr, nullptr};
  const int strides[4] = {lineSize, 0, 0, 0};
  sws_scale(e.scaler, planes, strides, 0, e.codec->height, e.frame->data, e.frame->linesize);
  e.frame->pts = pts;
  Check(e, avcodec_send_frame(e.codec, e.frame), "encoding");
  Drain(e);
  if (!e.audioDone) CopyAudio(e, pts);
  e.lastPts = pts;
  ++e.frames;
}

void FinishVideoOutput(VideoEncoder& e) {
  if (e.finished) return;
  Check(e, avcodec_send_frame(e.codec, nullptr), "encoding");
  Drain(e);
  if (!e.audioDone) CopyAudio(e, e.audioTo);
  Check(e, av_write_trailer(e.format), "the trailer");
  avio_flush(e.io);
  if (e.io->error < 0) Check(e, e.io->error, "the file");
  e.finished = true;
}

void CloseVideoOutput(VideoEncoder* encoder) noexcept { delete encoder; }

}  // namespace lumet::codec
