#include "codecs/video_codec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "codecs/codec_failure.h"

namespace lumet::codec {

struct Video {
  std::string path;
  int fd = -1;  // the caller's; read through io, never closed here
  // Demuxing: the container read through io, and the video stream chosen in it.
  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  int stream = -1;
  // Decoding and where it stands.
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  bool draining = false;
  bool finished = false;
  // Conversion to 8-bit RGB.
  SwsContext* scaler = nullptr;

  ~Video() {
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    if (io != nullptr) av_freep(&io->buffer);
    avio_context_free(&io);
  }
};

std::string AvErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof(text));
  return text;
}

int64_t SeekDescriptor(int fd, int64_t offset, int whence) {
  if ((whence & AVSEEK_SIZE) != 0) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : AVERROR(errno);
  }
  const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

AVIOContext* NewIoContext(bool writable, void* opaque, int (*read)(void*, uint8_t*, int),
                          int (*write)(void*, uint8_t*, int), int64_t (*seek)(void*, int64_t, int)) {
  constexpr int kBufferSize = 1 << 16;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
  if (buffer == nullptr) throw std::bad_alloc();
  AVIOContext* io = avio_alloc_context(buffer, kBufferSize, writable ? 1 : 0, opaque, read, write, seek);
  if (io == nullptr) {
    av_free(buffer);
    throw std::bad_alloc();
  }
  return io;
}

namespace {

// The file's bytes reach the demuxer only through these two, from the descriptor the
// program opened: no name is ever resolved by the libraries.
int ReadPacket(void* opaque, uint8_t* out, int size) {
  const auto* d = static_cast<const Video*>(opaque);
  for (;;) {
    const ssize_t n = ::read(d->fd, out, static_cast<size_t>(size));
    if (n > 0) return static_cast<int>(n);
    if (n == 0) return AVERROR_EOF;
    if (errno != EINTR) return AVERROR(errno);
  }
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
  return SeekDescriptor(static_cast<const Video*>(opaque)->fd, offset, whence);
}

// A container may name other files or addresses (a playlist, a reference movie, a fragment,
// a second pass); none is ever opened.
int RefuseOtherFiles(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

// The demuxers of the video containers frames may come in (the names FFmpeg gives them).
bool AllowedContainer(const char* names) {
  static const char* const kAllowed[] = {"matroska", "webm", "mov", "mp4", "avi", "mpeg", "mpegts", "asf",
                                         "flv", "ogg", "nut", "yuv4mpegpipe", "mxf", "m4v", "3gp"};
  std::string list = std::string(",") + names + ",";
  for (const char* allowed : kAllowed) {
    if (list.find(std::string(",") + allowed + ",") != std::string::npos) return true;
  }
  return false;
}

// Sets up reading through d.io and tells the container from the first bytes; a container
// other than a video file's (a playlist, an image sequence, ...) is refused by name.
const AVInputFormat* ProbeContainer(Video& d) {
  d.io = NewIoContext(false, &d, ReadPacket, nullptr, Seek);
  const AVInputFormat* container = nullptr;
  const int rc = av_probe_input_buffer2(d.io, &container, d.path.c_str(), nullptr, 0, 0);
  if (rc < 0 || container == nullptr) {
    Fail("cannot read video " + d.path + ": " + (rc < 0 ? AvErrorText(rc) : std::string("not a video container")));
  }
  if (!AllowedContainer(container->name)) {
    Fail("cannot read video " + d.path + ": it is " +
         (container->long_name != nullptr ? std::string(container->long_name) : std::string(container->name)) +
         " (" + container->name + "), not a video container Lumet reads");
  }
  return container;
}

}  // namespace

void UseOnlyIo(AVFormatContext* format, AVIOContext* io) {
  format->pb = io;
  format->flags |= AVFMT_FLAG_CUSTOM_IO;
  format->io_open = RefuseOtherFiles;
}

Video* OpenDemuxer(const std::string& path, int fd) {
  auto video = std::make_unique<Video>();
  Video& d = *video;
  d.path = path;
  d.fd = fd;
  // The reasons reach the user in the error messages; the libraries' own log stays quiet.
  av_log_set_level(AV_LOG_QUIET);
  const AVInputFormat* container = ProbeContainer(d);
  d.format = avformat_alloc_context();
  if (d.format == nullptr) throw std::bad_alloc();
  UseOnlyIo(d.format, d.io);
  int rc = avformat_open_input(&d.format, path.c_str(), container, nullptr);
  if (rc < 0) Fail("cannot read video " + path + ": " + AvErrorText(rc));
  rc = avformat_find_stream_info(d.format, nullptr);
  if (rc < 0) Fail("cannot read video " + path + ": " + AvErrorText(rc));
  return video.release();
}

AVFormatContext* Container(Video& video) { return video.format; }

Video* OpenVideo(const std::string& path, int fd, const FrameLimits& limits, VideoTiming& timing) {
  std::unique_ptr<Video> video(OpenDemuxer(path, fd));
  Video& d = *video;
  int rc = 0;
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
  // The decoder refuses larger pictures before allocating them.
  d.codec->max_pixels = limits.maxPixels;
  rc = avcodec_open2(d.codec, codec, nullptr);
  if (rc < 0) Fail("cannot decode video " + path + " (" + codec->name + "): " + AvErrorText(rc));
  // The stream's clock; a rate the container does not state is guessed from its times.
  const AVStream* stream = d.format->streams[d.stream];
  AVRational rate = stream->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{0, 1};
  timing.timeBaseNum = stream->time_base.num;
  timing.timeBaseDen = stream->time_base.den;
  timing.frameRateNum = rate.num;
  timing.frameRateDen = rate.den;
  if (timing.timeBaseNum <= 0 || timing.timeBaseDen <= 0) Fail("cannot read video " + path + ": its stream has no time base");
  return video.release();
}

namespace {

// The scaler's packed rows (each padded to 32 bytes) copied into out without the padding.
template <typename Sample>
void ConvertPacked(Video& d, int w, int h, std::vector<Sample>& out) {
  const size_t packed = static_cast<size_t>(w) * 3 * sizeof(Sample);
  const int lineSize = static_cast<int>((packed + 31) & ~size_t{31});
  std::vector<uint8_t> padded(static_cast<size_t>(lineSize) * static_cast<size_t>(h));
  uint8_t* planes[4] = {padded.data(), nullptr, nullptr, nullptr};
  int strides[4] = {lineSize, 0, 0, 0};
  sws_scale(d.scaler, d.frame->data, d.frame->linesize, 0, h, planes, strides);
  out.resize(static_cast<size_t>(w) * 3 * static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) {
    std::memcpy(reinterpret_cast<uint8_t*>(out.data()) + static_cast<size_t>(y) * packed,
                padded.data() + static_cast<size_t>(y) * static_cast<size_t>(lineSize), packed);
  }
}

// Sets up d.scaler from the frame's pixel format to `target` at the same size.
void PrepareScaler(Video& d, int w, int h, AVPixelFormat target) {
  const auto format = static_cast<AVPixelFormat>(d.frame->format);
  // Bit-exact, accurately rounded conversion at the same size: the same pixels on every
  // machine, whatever its instruction set.
  d.scaler = sws_getCachedContext(d.scaler, w, h, format, w, h, target,
                                  SWS_BICUBIC | SWS_BITEXACT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                  nullptr, nullptr);
  if (d.scaler == nullptr) {
    const char* name = av_get_pix_fmt_name(format);
    Fail("cannot convert the frames of " + d.path + " from pixel format " + (name ? name : "unknown") + " to RGB");
  }
  // YUV frames: the matrix and range the stream declares (BT.601 when it declares none).
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
  if (descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_RGB) == 0 && descriptor->nb_components >= 3) {
    // Read as plain integers: a damaged stream can set values no enumerator has, and the
    // scaler takes any number (unknown ones mean its default).
    int space = 0;
    int range = 0;
    static_assert(sizeof space == sizeof d.frame->colorspace && sizeof range == sizeof d.frame->color_range);
    std::memcpy(&space, &d.frame->colorspace, sizeof space);
    std::memcpy(&range, &d.frame->color_range, sizeof range);
    const int* coefficients = sws_getCoefficients(space == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : space);
    const int fullRange = range == AVCOL_RANGE_JPEG ? 1 : 0;
    sws_setColorspaceDetails(d.scaler, coefficients, fullRange, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                             1 << 16);
  }
}

// Whether the frame's samples have more than 8 bits.
bool DeepFrame(const AVFrame& frame) {
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  return descriptor != nullptr && descriptor->comp[0].depth > 8;
}

}  // namespace

bool ReadVideoFrame(Video& d, int index, const FrameLimits& limits, std::vector<uint8_t>* rgb,
                    std::vector<uint16_t>* rgb16, int& width, int& height, int64_t& pts) {
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
    const std::string what = "frame " + std::to_string(index) + " of " + d.path;
    if (rgb16 != nullptr && DeepFrame(*d.frame)) {
      CheckFrameSize(what, w, h, 3, 2, limits);
      PrepareScaler(d, w, h, AV_PIX_FMT_RGB48);
      rgb->clear();
      ConvertPacked(d, w, h, *rgb16);
    } else {
      CheckFrameSize(what, w, h, 3, 1, limits);
      PrepareScaler(d, w, h, AV_PIX_FMT_RGB24);
      if (rgb16 != nullptr) rgb16->clear();
      ConvertPacked(d, w, h, *rgb);
    }
  }
  width = w;
  height = h;
  pts = d.frame->best_effort_timestamp == AV_NOPTS_VALUE ? kNoTime : d.frame->best_effort_timestamp;
  av_frame_unref(d.frame);
  return true;
}

void CloseVideo(Video* video) noexcept { delete video; }

}  // namespace lumet::codec
