#include "imageio/video_writer.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "imageio/codec_interface.h"
#include "imageio/codec_library.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "util/input_file.h"

namespace lumet {

namespace {

// The audio source opened as the frames' readers open theirs (a regular file only).
FileHandle OpenAudioSource(const std::string& path) {
  try {
    return OpenRegularFile(path);
  } catch (const Error& e) {
    std::string message = e.what();
    if (message.rfind("cannot read ", 0) == 0) message.insert(12, "video ");
    throw Error(message);
  }
}

// A deep plane's value as the nearest 16-bit sample: a 16-bit file's sample comes back as it
// was (DeepValue is v / 257).
uint16_t Deep16Bit(float v) {
  const double scaled = std::nearbyint(static_cast<double>(v) * 257.0);
  if (!(scaled > 0.0)) return 0;  // also not a number
  return scaled >= 65535.0 ? uint16_t{65535} : static_cast<uint16_t>(scaled);
}

// A 16-bit sample as the nearest value of `bits` bits, in the 16-bit word whose top bits
// are that value (the conversion to the stream keeps the top bits; reading it back repeats
// them below, so the stored maximum reads as 65535 again).
uint16_t NearestOfBits(uint16_t v, int bits) {
  if (bits >= 16) return v;
  const uint32_t top = (1u << bits) - 1;
  const uint32_t nearest = (static_cast<uint32_t>(v) * top + 32767u) / 65535u;
  return static_cast<uint16_t>((nearest << (16 - bits)) | (nearest >> (2 * bits - 16)));
}

}  // namespace

// The encoder lives in the codec module; the file is the program's.
struct VideoWriter::Encoder {
  const codec::ModuleTable* module = nullptr;
  std::unique_ptr<StreamedFile> file;
  FileHandle audio;
  codec::VideoEncoder* encoder = nullptr;
  int width = 0;
  int height = 0;
  int bits = 8;
  std::vector<uint8_t> rgb;
  std::vector<uint16_t> rgb16;

  ~Encoder() {
    if (encoder != nullptr) module->closeVideoOutput(encoder);
  }
};

std::string VideoWriter::Check(const std::string& path, const std::string& audioSource) {
  const codec::ModuleTable& module = CodecModule(codec::ModuleKind::kMedia, "cannot write video " + path);
  FileHandle audio;
  if (!audioSource.empty()) audio = OpenAudioSource(audioSource);
  std::string codecName;
  std::string message;
  const codec::Status status =
      module.checkVideoOutput(path.c_str(), audio.IsOpen() ? audio.Get() : -1, audioSource.c_str(), &codecName, &message);
  if (status != codec::Status::kOk) ThrowCodecFailure(status, message);
  return codecName;
}

VideoWriter::VideoWriter(const std::string& path, int width, int height, const VideoTiming& timing,
                         const Options& options)
    : path_(path), encoder_(std::make_unique<Encoder>()) {
  Encoder& d = *encoder_;
  d.module = &CodecModule(codec::ModuleKind::kMedia, "cannot write video " + path);
  d.width = width;
  d.height = height;
  if (!options.audioSource.empty()) d.audio = OpenAudioSource(options.audioSource);
  d.file = std::make_unique<StreamedFile>(path);
  codec::VideoOutputSettings settings;
  settings.width = width;
  settings.height = height;
  settings.timing = timing;
  settings.bitsPerSample = options.bitsPerSample;
  d.bits = options.bitsPerSample;
  settings.quality = options.quality;
  settings.audioFd = d.audio.IsOpen() ? d.audio.Get() : -1;
  settings.audioPath = options.audioSource.c_str();
  settings.audioFrom = options.audioFrom;
  settings.audioTo = options.audioTo;
  std::string message;
  const codec::Status status = d.module->openVideoOutput(path.c_str(), d.file->Fd(), &settings, &d.encoder, &message);
  if (status != codec::Status::kOk) ThrowCodecFailure(status, message);
}

VideoWriter::~VideoWriter() = default;

void VideoWriter::Write(const ColorGrayImage& frame, int64_t pts) {
  Encoder& d = *encoder_;
  if (d.encoder == nullptr) throw Error("cannot write video " + path_ + ": it is finished");
  if (frame.Width() != d.width || frame.Height() != d.height) {
    throw Error("cannot write video " + path_ + ": a frame of " + std::to_string(frame.Width()) + " x " +
                std::to_string(frame.Height()) + " pixels in a video of " + std::to_string(d.width) + " x " +
                std::to_string(d.height));
  }
  const size_t row = static_cast<size_t>(d.width) * 3;
  if (d.bits == 8) {
    d.rgb.resize(row * static_cast<size_t>(d.height));
    for (int y = 0; y < d.height; ++y) {
      uint8_t* out = d.rgb.data() + static_cast<size_t>(y) * row;
      for (int c = 0; c < 3; ++c) {
        const uint8_t* in = frame.channels[static_cast<size_t>(c)].Row(y);
        for (int x = 0; x < d.width; ++x) out[3 * x + c] = in[x];
      }
    }
  } else {
    d.rgb16.resize(row * static_cast<size_t>(d.height));
    const DeepPlanes* deep = frame.deep.get();
    for (int y = 0; y < d.height; ++y) {
      uint16_t* out = d.rgb16.data() + static_cast<size_t>(y) * row;
      for (int c = 0; c < 3; ++c) {
        if (deep != nullptr) {
          const float* in = deep->channels[c].Row(y);
          for (int x = 0; x < d.width; ++x) out[3 * x + c] = NearestOfBits(Deep16Bit(in[x]), d.bits);
        } else {
          const uint8_t* in = frame.channels[static_cast<size_t>(c)].Row(y);
          for (int x = 0; x < d.width; ++x) out[3 * x + c] = NearestOfBits(static_cast<uint16_t>(in[x] * 257), d.bits);
        }
      }
    }
  }
  std::string message;
  const void* samples = d.bits == 8 ? static_cast<const void*>(d.rgb.data()) : static_cast<const void*>(d.rgb16.data());
  const codec::Status status = d.module->writeVideoFrame(d.encoder, samples, pts, &message);
  if (status != codec::Status::kOk) ThrowCodecFailure(status, message);
}

void VideoWriter::Finish() {
  Encoder& d = *encoder_;
  if (d.encoder == nullptr) throw Error("cannot write video " + path_ + ": it is finished");
  std::string message;
  const codec::Status status = d.module->finishVideoOutput(d.encoder, &message);
  if (status != codec::Status::kOk) ThrowCodecFailure(status, message);
  d.module->closeVideoOutput(d.encoder);
  d.encoder = nullptr;
  d.file->Publish();
}

}  // namespace lumet
