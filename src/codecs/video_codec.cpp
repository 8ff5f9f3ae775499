#include "codecs/video_codec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <memory>
#include <new>

#include "codecs/codec_failure.h"

namespace lumet::codec {

struct Video {
  std::string path;
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  SwsContext* scaler = nullptr;
  int stream = -1;
  bool draining = false;
  bool finished = false;

  ~Video() {
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
  }
};

namespace {

std::string AvErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof(text));
  return text;
}

}  // namespace

Video* OpenVideo(const std::string& path) {
  auto video = std::make_unique<Video>();
  Video& d = *video;
  d.path = path;
  // The reasons reach the user in the error messages; the libraries' own log stays quiet.
  av_log_set_level(AV_LOG_QUIET);
  int rc = avformat_open_input(&d.format, path.c_str(), nullptr, nullptr);
  if (rc < 0) Fail("cannot read video " + path + ": " + AvErrorText(rc));
  rc = avformat_find_stream_info(d.format, nullptr);
  if (rc < 0) Fail("cannot read video " + path + ": " + AvErrorText(rc));
  const AVCodec* codec = nullptr;
  d.stream = av_find_best_stream(d.format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (d.stream < 0 || codec == nullptr) {
    Fail("cannot read video " + path + ": " +
         (d.stream == AVERROR_DECODER_NOT_FOUND ? "no decoder for its video codec" : "it holds no video stream"));
  }
  d.codec = avcodec_alloc_context3(codec);
  d.packet = av_packet_alloc();
  d.frame = av_frame_alloc();
  if (!d.codec || !d.packet || !d.frame) throw std::bad_alloc();
  rc = avcodec_parameters_to_context(d.codec, d.format->streams[d.stream]->codecpar);
  if (rc < 0) Fail("cannot read video " + path + ": " + AvErrorText(rc));
  // One decoding thread: the frames are the same with more, but the order of work and the
  // memory use stay simple and the same everywhere.
  d.codec->thread_count = 1;
  rc = avcodec_open2(d.codec, codec, nullptr);
  if (rc < 0) Fail("cannot decode video " + path + " (" + codec->name + "): " + AvErrorText(rc));
  return video.release();
}

bool ReadVideoFrame(Video& d, int index, const FrameLimits& limits, std::vector<uint8_t>* rgb, int& width,
                    int& height) {
  if (d.finished) return false;
  for (;;) {
    int rc = avcodec_receive_frame(d.codec, d.frame);
    if (rc == 0) break;
    if (rc == AVERROR_EOF) {
      d.finished = true;
      return false;
    }
    if (rc != AVERROR(EAGAIN)) Fail("cannot decode frame " + std::to_string(index) + " of " + d.path + ": " + AvErrorText(rc));
    if (d.draining) {
      d.finished = true;
      return false;
    }
    // Feed the next packet of the video stream, or start draining at the end of the file.
    for (;;) {
      rc = av_read_frame(d.format, d.packet);
      if (rc < 0) {
        d.draining = true;
        avcodec_send_packet(d.codec, nullptr);
        break;
      }
      if (d.packet->stream_index != d.stream) {
        av_packet_unref(d.packet);
        continue;
      }
      rc = avcodec_send_packet(d.codec, d.packet);
      av_packet_unref(d.packet);
      if (rc < 0 && rc != AVERROR(EAGAIN)) {
        Fail("cannot decode frame " + std::to_string(index) + " of " + d.path + ": " + AvErrorText(rc));
      }
      break;
    }
  }

  const int w = d.frame->width;
  const int h = d.frame->height;
  if (rgb != nullptr) {
    if (w <= 0 || h <= 0 || w > limits.maxDimension || h > limits.maxDimension ||
        static_cast<long long>(w) * h > limits.maxPixels) {
      Fail("frame " + std::to_string(index) + " of " + d.path + " has " + std::to_string(w) + " x " +
           std::to_string(h) + " pixels, not a size a frame may have");
    }
    const auto format = static_cast<AVPixelFormat>(d.frame->format);
    // Bit-exact, accurately rounded conversion at the same size: the same pixels on every
    // machine, whatever its instruction set.
    d.scaler = sws_getCachedContext(d.scaler, w, h, format, w, h, AV_PIX_FMT_RGB24,
                                    SWS_BICUBIC | SWS_BITEXACT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                    nullptr, nullptr);
    if (d.scaler == nullptr) {
      const char* name = av_get_pix_fmt_name(format);
      Fail("cannot convert the frames of " + d.path + " from pixel format " + (name ? name : "unknown") + " to RGB");
    }
    // YUV frames: the matrix and range the stream declares (BT.601 when it declares none).
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    if (descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_RGB) == 0 && descriptor->nb_components >= 3) {
      const AVColorSpace space = d.frame->colorspace;
      const int* coefficients = sws_getCoefficients(space == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : space);
      const int fullRange = d.frame->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
      sws_setColorspaceDetails(d.scaler, coefficients, fullRange, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                               1 << 16);
    }
    // The scaler writes rows padded to 32 bytes; the program gets them packed.
    const size_t packed = static_cast<size_t>(w) * 3;
    const int lineSize = (w * 3 + 31) & ~31;
    std::vector<uint8_t> padded(static_cast<size_t>(lineSize) * static_cast<size_t>(h));
    uint8_t* planes[4] = {padded.data(), nullptr, nullptr, nullptr};
    int strides[4] = {lineSize, 0, 0, 0};
    sws_scale(d.scaler, d.frame->data, d.frame->linesize, 0, h, planes, strides);
    rgb->resize(packed * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) {
      std::memcpy(rgb->data() + static_cast<size_t>(y) * packed, padded.data() + static_cast<size_t>(y) * static_cast<size_t>(lineSize),
                  packed);
    }
  }
  width = w;
  height = h;
  av_frame_unref(d.frame);
  return true;
}

void CloseVideo(Video* video) noexcept { delete video; }

}  // namespace lumet::codec
