#include "imageio/video_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

#include "imageio/bmp_file.h"
#include "imageio/codec_library.h"
#include "imageio/codec_module.h"
#include "util/error.h"

namespace lumet {

namespace {

constexpr std::array<const char*, 18> kVideoExtensions = {".mkv", ".mp4", ".m4v", ".mov", ".avi", ".webm",
                                                          ".mpg", ".mpeg", ".ts", ".mts", ".m2ts", ".wmv",
                                                          ".flv", ".ogv", ".nut", ".y4m", ".3gp", ".mxf"};

}  // namespace

// The decoder itself lives in the codec module, loaded when the first video is opened.
struct VideoFile::Decoder {
  const codec::ModuleTable* module = nullptr;
  codec::Video* video = nullptr;
  std::vector<uint8_t> rgb;  // the last converted frame, packed RGB24 rows

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
  if (!std::filesystem::is_regular_file(path, ec)) throw Error("cannot read video " + path + ": no such file");
  Decoder& d = *decoder_;
  d.module = &CodecModule("cannot read video " + path);
  std::string message;
  const codec::Status status = d.module->openVideo(path.c_str(), &d.video, &message);
  if (status != codec::Status::kOk) ThrowCodecFailure(status, message);
}

VideoFile::~VideoFile() = default;

bool VideoFile::ReadNext(ColorGrayImage* image) {
  Decoder& d = *decoder_;
  const codec::FrameLimits limits{BmpFile::kMaxDimension, BmpFile::kMaxPixels};
  int w = 0;
  int h = 0;
  std::string message;
  const codec::Status status =
      d.module->readVideoFrame(d.video, next_, &limits, image != nullptr ? &d.rgb : nullptr, &w, &h, &message);
  if (status == codec::Status::kEnd) return false;
  if (status != codec::Status::kOk) ThrowCodecFailure(status, message);
  if (image != nullptr) {
    image->Create(w, h);
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
