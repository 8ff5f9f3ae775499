// Video containers through the media codec module, from memory (a memfd, the same path as a
// regular file): any bytes are opened and decoded, or refused with a status and a message;
// no other file is ever opened, and every decoded frame is within the limits.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "imageio/codec_interface.h"
#include "imageio/codec_library.h"

namespace {

void ExpectRefusal(lumet::codec::Status status, const std::string& message) {
  using lumet::codec::Status;
  if (status == Status::kInternal || status == Status::kUnsupported) lumet::fuzz::Broken("an unexpected status");
  if (status == Status::kFailed && message.empty()) lumet::fuzz::Broken("a refusal without a reason");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumet;
  static const codec::ModuleTable& module = CodecModule(codec::ModuleKind::kMedia, "fuzz");
  const codec::FrameLimits limits{2048, 1 << 20, 8 << 20};
  const int fd = ::memfd_create("fuzz-video", MFD_CLOEXEC);
  if (fd < 0) return 0;
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) {
      ::close(fd);
      return 0;
    }
    done += static_cast<size_t>(n);
  }
  ::lseek(fd, 0, SEEK_SET);
  codec::Video* video = nullptr;
  std::string message;
  codec::VideoTiming timing;
  codec::Status status = module.openVideo("fuzz.mkv", fd, &limits, &video, &timing, &message);
  if (status != codec::Status::kOk) {
    ExpectRefusal(status, message);
  } else {
    std::vector<uint8_t> rgb;
    std::vector<uint16_t> rgb16;
    for (int k = 0; k < 8; ++k) {
      int w = 0;
      int h = 0;
      int64_t pts = 0;
      message.clear();
      status = module.readVideoFrame(video, k, &limits, &rgb, &rgb16, &w, &h, &pts, &message);
      if (status != codec::Status::kOk) {
        if (status != codec::Status::kEnd) ExpectRefusal(status, message);
        break;
      }
      if (w <= 0 || h <= 0 || static_cast<long long>(w) * h > limits.maxPixels) lumet::fuzz::Broken("a frame outside the limits");
      const size_t samples = static_cast<size_t>(w) * static_cast<size_t>(h) * 3;
      if (rgb.size() + rgb16.size() != samples || (!rgb.empty() && !rgb16.empty())) {
        lumet::fuzz::Broken("RGB rows do not fill the frame");
      }
    }
    module.closeVideo(video);
  }
  ::close(fd);
  return 0;
}
