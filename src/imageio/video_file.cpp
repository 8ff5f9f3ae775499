#include "imageio/video_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

#include "imageio/bmp_file.h"
#include "imageio/codec_library.h"
#include "imageio/codec_interface.h"
#include "imageio/image_file.h"
#include "util/error.h"
#include "util/input_file.h"

namespace lumet {

namespace {

constexpr std::array<const char*, 18> kVideoExtensions = {".mkv", ".mp4", ".m4v", ".mov", ".avi", ".webm",
                                                          ".mpg", ".mpeg", ".ts", ".mts", ".m2ts", ".wmv",
                                                          ".flv", ".ogv", ".nut", ".y4m", ".3gp", ".mxf"};

}  // namespace

// The decoder itself lives in the codec module, loaded when the first video is opened.
struct VideoFile::Decoder {
  FileHandle file;  // what the module reads; closed after the video
  const codec::ModuleTable* module = nullptr;
  codec::Video* video = nullptr;
  std::vector<uint8_t> rgb;  // the last converted frame, packed RGB24 rows
  std::vector<uint16_t> rgb16;  // or RGB48 rows, from a stream of more than 8 bits

  ~Decoder() {
    if (video != nullptr) module->closeVideo(video);
  }
};

bool VideoFile::HasVideoExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return std::find(kVideoExtensions.begin(), kVideoExtensions.end(), ext) != kVideoExtensions.end();
}

VideoFile::VideoFile(const std::string& path) : path_(path), decoder_(std::make_unique<Decoder>()) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) throw Error("cannot read video " + path + ": no such file");
  Decoder& d = *decoder_;
  // Opened here with the frames' checks (a regular file, never a FIFO or a device); the
  // module reads this descriptor and opens nothing itself.
  try {
    d.file = OpenRegularFile(path);
  } catch (const Error& e) {
    std::string message = e.what();
    if (message.rfind("cannot read ", 0) == 0) message.insert(12, "video ");
    throw Error(message);
  }
  d.module = &CodecModule(codec::ModuleKind::kMedia, "cannot read video " + path);
  std::string message;
  const codec::FrameLimits limits = FrameFileLimits();
  const codec::Status status = d.module->openVideo(path.c_str(), d.file.Get(), &limits, &d.video, &timing_, &message);
  if (status != codec::Status::kOk) ThrowCodecFailure(status, message);
}

VideoFile::~VideoFile() = default;

bool VideoFile::ReadNext(ColorGrayImage* image) {
  Decoder& d = *decoder_;
  const codec::FrameLimits limits = FrameFileLimits();
  int w = 0;
  int h = 0;
  std::string message;
  const codec::Status status =
      d.module->readVideoFrame(d.video, next_, &limits, image != nullptr ? &d.rgb : nullptr,
                               image != nullptr ? &d.rgb16 : nullptr, &w, &h, &pts_, &message);
  if (status == codec::Status::kEnd) return false;
  if (status != codec::Status::kOk) ThrowCodecFailure(status, message);
  if (image != nullptr && !d.rgb16.empty()) {
    try {
      *image = FrameOf16BitRgb(d.rgb16, w, h);
    } catch (const std::bad_alloc&) {
      throw Error("out of memory reading frame " + std::to_string(next_) + " of " + path_ + " (needs about " +
                  std::to_string((static_cast<long long>(w) * h * 16 + (1 << 20) - 1) >> 20) + " MB)");
    }
  } else if (image != nullptr) {
    try {
      image->Create(w, h);
    } catch (const std::bad_alloc&) {
      throw Error("out of memory reading frame " + std::to_string(next_) + " of " + path_ + " (needs about " +
                  std::to_string((static_cast<long long>(w) * h * 4 + (1 << 20) - 1) >> 20) + " MB)");
    }
    for (int y = 0; y < h; ++y) {
      const uint8_t* in = d.rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 3;
      for (int c = 0; c < 3; ++c) {
        uint8_t* out = image->channels[static_cast<size_t>(c)].Row(y);
        for (int x = 0; x < w; ++x) out[x] = in[3 * x + c];
      }
    }
  }
  ++next_;
  return true;
}

}  // namespace lumet
