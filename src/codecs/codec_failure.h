#pragma once

#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "imageio/codec_interface.h"

namespace lumet::codec {

// How the module's own code reports a failure; it never leaves the module: Guard turns it
// into a status and a message at each entry.
struct Failure {
  Status status;
  std::string message;
};

// message is the whole user-facing message.
[[noreturn]] inline void Fail(std::string message) { throw Failure{Status::kFailed, std::move(message)}; }

// A still frame that cannot be decoded: reason is what the library said.
[[noreturn]] inline void FailUnreadable(std::string reason) { throw Failure{Status::kUnreadable, std::move(reason)}; }

// The work has met a variant of a format that the still module leaves to the media module.
[[noreturn]] inline void FailUnsupported(std::string reason) { throw Failure{Status::kUnsupported, std::move(reason)}; }

// Refuses, before anything is allocated for it, a frame whose size or decoded samples
// (width x height x the channels decoded x bytes per sample) exceed the limits.
inline void CheckFrameSize(const std::string& name, long long width, long long height, int channels,
                           int bytesPerSample, const FrameLimits& limits) {
  if (width <= 0 || height <= 0 || width > limits.maxDimension || height > limits.maxDimension ||
      width * height > limits.maxPixels) {
    Fail("cannot read " + name + ": " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels is not a size a frame may have");
  }
  const long long bytes = width * height * channels * bytesPerSample;
  if (bytes > limits.maxSampleBytes) {
    constexpr long long kMiB = 1 << 20;
    Fail("cannot read " + name + ": its " + std::to_string(width) + " x " + std::to_string(height) + " pixels of " +
         std::to_string(channels) + " channels at " + std::to_string(8 * bytesPerSample) + " bits take " +
         std::to_string((bytes + kMiB - 1) / kMiB) + " MiB decoded, more than the " +
         std::to_string(limits.maxSampleBytes / kMiB) + " MiB a frame may take");
  }
}

// Sizes samples to count elements; out of memory becomes a whole message naming the file
// and the amount.
template <typename T>
void AllocateSamples(std::vector<T>& samples, size_t count, const std::string& name) {
  try {
    samples.resize(count);
  } catch (const std::bad_alloc&) {
    const unsigned long long mib = (count * sizeof(T) + (1u << 20) - 1) >> 20;
    throw Failure{Status::kOutOfMemory, "out of memory reading " + name + " (needs about " + std::to_string(mib) + " MB)"};
  }
}

// Runs body (which returns a Status) and catches everything it throws.
template <typename Body>
Status Guard(std::string* message, Body&& body) noexcept {
  try {
    return body();
  } catch (Failure& failure) {
    message->swap(failure.message);
    return failure.status;
  } catch (const std::bad_alloc&) {
    message->clear();
    return Status::kOutOfMemory;
  } catch (const std::exception& e) {
    try {
      *message = e.what();
    } catch (...) {
      return Status::kOutOfMemory;
    }
    return Status::kInternal;
  } catch (...) {
    try {
      *message = "unknown exception in the codec module";
    } catch (...) {
      return Status::kOutOfMemory;
    }
    return Status::kInternal;
  }
}

}  // namespace lumet::codec
