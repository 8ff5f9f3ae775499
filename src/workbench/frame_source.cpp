#include "workbench/frame_source.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "imageio/image_file.h"
#include "imageio/video_file.h"
#include "params/param_description.h"
#include "params/param_set.h"
#include "util/parallel.h"
#include "util/text_format.h"

namespace lumet {

namespace {

size_t PixelBytes(const ColorGrayImage& image) {
  const size_t perPixel = image.deep ? 3 + 3 * sizeof(float) : 3;
  return static_cast<size_t>(image.Width()) * static_cast<size_t>(image.Height()) * perPixel;
}

std::string SizeText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

// Work of decoding one still frame, for ParallelFor: always worth a thread of its own.
constexpr long kDecodeWork = 1L << 20;

// Engine images in memory: each read is a copy of the image given.
class ImagesInMemory final : public HeldImages {
 public:
  explicit ImagesInMemory(std::shared_ptr<const FrameImages> images) : images_(std::move(images)) {}
  int Count() const override { return static_cast<int>(images_->size()); }

 private:
  const ColorGrayImage& At(int index) const override { return (*images_)[static_cast<size_t>(index)]; }
  std::shared_ptr<const FrameImages> images_;
};

}  // namespace

void MemoryFrames::ReadChannel(int index, int c, GrayImage& plane) const {
  ColorGrayImage image;
  Read(index, image);
  plane = std::move(image.channels[static_cast<size_t>(c)]);
}

int HeldImages::Width(int index) const { return At(index).Width(); }
int HeldImages::Height(int index) const { return At(index).Height(); }
void HeldImages::Read(int index, ColorGrayImage& image) const { image = At(index); }
void HeldImages::ReadChannel(int index, int c, GrayImage& plane) const {
  plane = At(index).channels[static_cast<size_t>(c)];
}

std::shared_ptr<const MemoryFrames> FramesOfImages(std::shared_ptr<const FrameImages> images) {
  return std::make_shared<ImagesInMemory>(std::move(images));
}

FrameSource::FrameSource(std::string pattern, int startIndex, size_t budget)
    : pattern_(std::move(pattern)), start_(startIndex), isVideo_(IsVideoPattern(pattern_)), budget_(budget) {}

FrameSource::FrameSource(std::string pattern, int startIndex, std::shared_ptr<const FrameImages> images)
    : FrameSource(std::move(pattern), startIndex, images ? FramesOfImages(std::move(images)) : nullptr) {}

FrameSource::FrameSource(std::string pattern, int startIndex, std::shared_ptr<const MemoryFrames> frames)
    : FrameSource(std::move(pattern), startIndex) {
  if (frames) {
    isVideo_ = false;
    memory_ = std::move(frames);
  }
}

FrameSource::~FrameSource() = default;

bool FrameSource::IsVideoPattern(const std::string& pattern) {
  return pattern.find('%') == std::string::npos && VideoFile::HasVideoExtension(pattern);
}

std::string FrameSource::Name(int k) const {
  if (memory_) return "frames[" + std::to_string(start_ + k) + "]";
  if (isVideo_) return pattern_ + " frame " + std::to_string(start_ + k);
  return FormatFrameName(pattern_, start_ + k);
}

long FrameSource::MemoryIndex(int k) const {
  const long index = static_cast<long>(start_) + k;
  return index < 0 || index >= memory_->Count() ? -1 : index;
}

bool FrameSource::Decode(int k, ColorGrayImage& image) {
  if (memory_) {
    const long index = MemoryIndex(k);
    if (index < 0) return false;
    memory_->Read(static_cast<int>(index), image);
    return true;
  }
  if (!isVideo_) {
    const std::string path = Name(k);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return false;
    ReadImageFile(path, image);
    return true;
  }
  const int wanted = start_ + k;
  // Reading goes forward only; a frame behind the current position starts the file again.
  if (!video_ || video_->NextIndex() > wanted) {
    video_.reset();
    video_ = std::make_unique<VideoFile>(pattern_);
  }
  while (video_->NextIndex() < wanted) {
    const int index = video_->NextIndex();
    const int frame = index - start_;
    // Frames passed on the way are kept when they belong to the sequence and fit.
    if (frame >= keepFrom_ && frames_.count(frame) == 0 && kept_ < budget_) {
      ColorGrayImage passed;
      if (!video_->ReadNext(&passed)) return false;
      Keep(frame, std::move(passed));
    } else if (!video_->ReadNext(nullptr)) {
      return false;
    }
  }
  return video_->ReadNext(&image);
}

void FrameSource::Adopt(std::map<int, ColorGrayImage>&& frames) {
  for (auto& [k, image] : frames) Keep(k, std::move(image));
  frames.clear();
}

void FrameSource::Keep(int k, ColorGrayImage&& image) {
  const size_t bytes = PixelBytes(image);
  if (kept_ + bytes > budget_ || frames_.count(k) != 0) return;
  frames_.emplace(k, std::move(image));
  kept_ += bytes;
}

void FrameSource::Read(int k, ColorGrayImage& image) {
  auto kept = frames_.find(k);
  if (kept != frames_.end()) {
    kept_ -= PixelBytes(kept->second);
    image = std::move(kept->second);
    frames_.erase(kept);
    return;
  }
  ColorGrayImage decoded;
  if (!Decode(k, decoded)) ThrowMissing(k);
  image = std::move(decoded);
}

void FrameSource::ReadChannel(int k, int c, GrayImage& plane) {
  if (memory_ && frames_.count(k) == 0) {
    const long index = MemoryIndex(k);
    if (index < 0) ThrowMissing(k);
    memory_->ReadChannel(static_cast<int>(index), c, plane);
    return;
  }
  ColorGrayImage image;
  Read(k, image);
  plane = std::move(image.channels[static_cast<size_t>(c)]);
}

void FrameSource::ThrowMissing(int k) const {
  if (isVideo_) throw Error("cannot read " + Name(k) + ": the video " + pattern_ + " ends before it");
  if (k == 0 && !memory_) throw Error("cannot read " + Name(k) + ": no such file" + StartIndexHint());
  throw Error("cannot read " + Name(k) + (memory_ ? ": only " + std::to_string(memory_->Count()) + " frames were given"
                                                  : std::string(": no such file")));
}

int FrameSource::FirstNumberPresent() const {
  if (memory_ || isVideo_) return -1;
  const std::filesystem::path first(Name(0));
  std::error_code ec;
  if (std::filesystem::exists(first, ec)) return -1;
  const std::filesystem::path folder = first.has_parent_path() ? first.parent_path() : std::filesystem::path(".");
  // Far beyond any frame number; keeps the sum start + k of a frame in range.
  constexpr long kLargestNumber = 100000000;
  long best = -1;
  std::filesystem::directory_iterator entries(folder, ec);
  for (; !ec && entries != std::filesystem::directory_iterator(); entries.increment(ec)) {
    const std::string name = entries->path().filename().string();
    // Every run of digits in the name is a candidate number; the pattern decides.
    for (size_t i = 0; i < name.size();) {
      if (std::isdigit(static_cast<unsigned char>(name[i])) == 0) {
        ++i;
        continue;
      }
      size_t j = i;
      while (j < name.size() && std::isdigit(static_cast<unsigned char>(name[j])) != 0) ++j;
      const std::string digits = name.substr(i, j - i);
      i = j;
      if (digits.size() > 8) continue;
      const long n = std::stol(digits);
      if (n > kLargestNumber || (best >= 0 && n >= best)) continue;
      if (std::filesystem::path(FormatFrameName(pattern_, static_cast<int>(n))).filename() == name) best = n;
    }
  }
  return static_cast<int>(best);
}

std::string FrameSource::StartIndexHint() const {
  const int first = FirstNumberPresent();
  if (first < 0) return std::string();
  return ": " + FormatFrameName(pattern_, first) + " is there: --start-index " + std::to_string(first) +
         " starts from it";
}

int FrameSource::CountFrames(int limit) {
  if (memory_) {
    const long available = std::max(0L, static_cast<long>(memory_->Count()) - start_);
    return static_cast<int>(std::min<long>(limit, available));
  }
  if (!isVideo_) {
    int k = 0;
    std::error_code ec;
    // A name without a frame number is one frame, not the same file counted up to the limit.
    const int most = Name(0) == Name(1) ? std::min(limit, 1) : limit;
    while (k < most && std::filesystem::exists(Name(k), ec)) ++k;
    return k;
  }
  // Decoded without conversion; a stream damaged later still counts its frames up to there.
  VideoFile counter(pattern_);
  int k = 0;
  try {
    while (k < limit && counter.ReadNext(nullptr)) {
      if (counter.NextIndex() > start_) ++k;
    }
  } catch (const Error&) {
  }
  return k;
}

int FrameSource::CheckFramesUpTo(int first, int needed, int width, int height) {
  const auto check = [&](int k, ColorGrayImage&& image) {
    if (image.Width() != width || image.Height() != height) {
      throw Error(Name(k) + " is " + SizeText(image.Width(), image.Height()) + " pixels, but frame 0 (" + Name(0) +
                  ") is " + SizeText(width, height));
    }
    Keep(k, std::move(image));
  };
  if (memory_) {
    // Only the sizes are checked: the frames stay where they are until read.
    for (int k = first; k < needed; ++k) {
      const long index = MemoryIndex(k);
      if (index < 0) return k;
      const int i = static_cast<int>(index);
      if (memory_->Width(i) != width || memory_->Height(i) != height) {
        ColorGrayImage image;
        memory_->Read(i, image);
        check(k, std::move(image));
      }
    }
    return needed;
  }
  if (isVideo_) {
    for (int k = first; k < needed; ++k) {
      if (frames_.count(k) != 0) continue;
      ColorGrayImage image;
      if (!Decode(k, image)) return k;
      check(k, std::move(image));
    }
    return needed;
  }
  // Files decode independently: a few at a time on every thread, then checked and kept in
  // order, so the outcome (the first missing or faulty frame) is that of a frame-by-frame
  // check, and at most a few frames beyond the budget are ever held.
  const int batchSize = 2 * ThreadCount();
  struct Slot {
    int k = 0;
    bool present = false;
    ColorGrayImage image;
    std::exception_ptr failure;
  };
  std::vector<Slot> batch;
  for (int k = first; k < needed;) {
    batch.clear();
    for (; k < needed && static_cast<int>(batch.size()) < batchSize; ++k) {
      if (frames_.count(k) == 0) {
        batch.emplace_back();
        batch.back().k = k;
      }
    }
    ParallelFor(0, static_cast<int>(batch.size()), kDecodeWork, [&](int lo, int hi) {
      for (int j = lo; j < hi; ++j) {
        Slot& slot = batch[static_cast<size_t>(j)];
        try {
          slot.present = Decode(slot.k, slot.image);
        } catch (...) {
          slot.failure = std::current_exception();
        }
      }
    });
    for (Slot& slot : batch) {
      if (slot.failure) std::rethrow_exception(slot.failure);
      if (!slot.present) return slot.k;
      check(slot.k, std::move(slot.image));
    }
  }
  return needed;
}

namespace {

// "found 30 (./images/lr-0.bmp … ./images/lr-29.bmp; no ./images/lr-30.bmp)".
std::string FoundText(const FrameSource& source, int found) {
  const std::string end = source.IsVideo() ? "the video ends there" : "no " + source.Name(found);
  if (found == 0) return "found none (" + end + source.StartIndexHint() + ")";
  if (found == 1) return "found 1 (" + source.Name(0) + "; " + end + ")";
  const std::string last =
      source.IsVideo() ? "frame " + std::to_string(source.StartIndex() + found - 1) : source.Name(found - 1);
  return "found " + std::to_string(found) + " (" + source.Name(0) + " … " + last + "; " + end + ")";
}

}  // namespace

std::string RegistrationShortage(const FrameSource& source, int lrCount, int found) {
  std::string text = "--lr-count " + std::to_string(lrCount) + " registers frames 1 … " + std::to_string(lrCount) +
                     " against frame 0, so " + std::to_string(lrCount + 1) + " frames are needed; " +
                     FoundText(source, found);
  if (found >= 2) return text + ": use --lr-count " + std::to_string(found - 1) + " or auto";
  return text + ": registration needs frame 0 and at least one more frame";
}

std::string ReconstructionShortage(const FrameSource& source, int lrCount, int frameCount, int found) {
  // A method may read frames beyond lrCount - 1 (frame lrCount, the last registered one).
  const int beyond = frameCount - lrCount;
  std::string text = "--lr-count " + std::to_string(lrCount) + " reconstructs from frames 0 … " +
                     std::to_string(frameCount - 1) + ", so " + std::to_string(frameCount) + " frames are needed; " +
                     FoundText(source, found);
  if (found - beyond >= 1) return text + ": use --lr-count " + std::to_string(found - beyond) + " or auto";
  return text;
}

int AutoLrCount(const ParamSet& params) {
  // Far more frames than any sequence holds; it only bounds the search.
  constexpr int kCountLimit = 1000000;
  FrameSource source(params.lrPattern, params.startIndex);
  const int found = source.CountFrames(kCountLimit);
  if (found < 2) {
    const std::string where = source.IsVideo() ? params.lrPattern : source.Name(0);
    const std::string hint = found == 0 ? source.StartIndexHint() : std::string();
    throw Error("--lr-count auto found " + std::to_string(found) + " frame" + (found == 1 ? "" : "s") + " from " +
                where + (hint.empty() ? ": registration needs frame 0 and at least one more frame" : hint));
  }
  return found - 1;
}

void CheckRoiFitsFrame(const RoiRect& roi, int width, int height) {
  try {
    CheckRoiInsideFrame(roi, width, height);
  } catch (const Error& e) {
    const RoiRect standard = InitParams().roi;
    const int w = static_cast<int>(std::min<int64_t>(standard.Width(), width));
    const int h = static_cast<int>(std::min<int64_t>(standard.Height(), height));
    if (w <= 0 || h <= 0 || roi.Width() <= 0 || roi.Height() <= 0) throw;
    const int x = (width - w) / 2;
    const int y = (height - h) / 2;
    throw Error(std::string(e.what()) + Format("; --roi %d,%d,%d,%d fits (centred)", x, y, w, h));
  }
}

}  // namespace lumet
