// PNG, JPEG and TIFF frames through the still codec module: any bytes are decoded or refused
// with a status and a message, never a crash, a hang or an allocation beyond the limits;
// what is decoded is grey or RGB samples (8 or 16 bits, or floats) that fill the picture exactly,
// and the EXIF block a TIFF file's directories make is one a TIFF result carries whole.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "imageio/codec_interface.h"
#include "imageio/codec_library.h"
#include "imageio/exif_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumet;
  static const codec::ModuleTable& module = CodecModule(codec::ModuleKind::kStill, "fuzz");
  // Smaller than a frame's limits, so that each input decodes in milliseconds; the checks
  // are the same.
  const codec::FrameLimits limits{4096, 1 << 20, 8 << 20};
  codec::StillSamples samples;
  std::string message;
  const codec::Status status = module.readStill("fuzz.img", data, size, &limits, &samples, &message);
  switch (status) {
    case codec::Status::kOk: break;
    case codec::Status::kFailed:
    case codec::Status::kUnreadable:
    case codec::Status::kUnsupported:
      if (message.empty()) fuzz::Broken("a refusal without a reason");
      return 0;
    case codec::Status::kOutOfMemory: return 0;
    case codec::Status::kEnd:
    case codec::Status::kInternal: fuzz::Broken("an unexpected status or exception in the still module");
  }
  const long long w = samples.width;
  const long long h = samples.height;
  if (w <= 0 || h <= 0 || w > limits.maxDimension || h > limits.maxDimension || w * h > limits.maxPixels) {
    fuzz::Broken("a decoded picture outside the limits");
  }
  if (samples.channels != 1 && samples.channels != 3) fuzz::Broken("neither grey nor RGB samples");
  const size_t count = static_cast<size_t>(w * h * samples.channels);
  const size_t sizes[] = {samples.samples8.size(), samples.samples16.size(), samples.samplesFloat.size()};
  int filled = 0;
  for (const size_t n : sizes) {
    if (n == 0) continue;
    ++filled;
    if (n != count) fuzz::Broken("samples do not fill the picture");
  }
  if (filled != 1) fuzz::Broken("not exactly one sample size");
  const bool tiff = size >= 4 && (data[0] == 'I' || data[0] == 'M') && data[1] == data[0];
  if (tiff && !samples.metadata.exif.empty()) {
    const auto drops = exif::TiffDrops(samples.metadata.exif);
    if (!drops || !drops->empty()) fuzz::Broken("a TIFF frame's EXIF block that a TIFF result would not carry whole");
  }
  return 0;
}
