#include "stages/register_frames.h"

#include <algorithm>
#include <utility>

#include "registration/homography_search.h"
#include "registration/registration_strategy.h"
#include "registration/search_sizes.h"
#include "util/error.h"
#include "util/text_format.h"
#include "util/parallel.h"

namespace lumet {

namespace {

std::string SizeText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

// Why frame k got no homography search, and which options change it.
FrameWarning FallbackWarning(int k, const RegistrationOptions& o, int width, int height, size_t refPoints,
                             size_t framePoints, size_t pairs) {
  const int block = 2 * o.sadSize + 1;
  FrameWarning w;
  w.frame = k;
  w.kind = "no homography search, " + StrategyOf(o).StartWithoutSearch() + ": ";
  if (block > width || block > height) {
    w.kind += Format("the %d x %d matching block (--sad-size %d) does not fit the %d x %d frame", block, block,
                     o.sadSize, width, height);
    w.remedy = Format("a --sad-size below %d lets it fit", (std::min(width, height) + 1) / 2);
  } else if (o.ransacSecond <= static_cast<int>(pairs)) {
    w.kind += Format("the RANSAC sample of %d pairs (--ransac %d/%d) is below the %d a search needs", o.ransacFirst,
                     o.ransacFirst, o.ransacSecond, kMinSampleSize);
    w.remedy = Format("--ransac %d/%d or more runs it", kMinSampleSize, std::max(o.ransacSecond, kMinSampleSize));
  } else {
    w.kind += Format("too few corner points paired, a search needs %d pairs (the pairs of the points near the ROI "
                     "in frame 0 / in the frame)", kMinSampleSize + 5);
    w.detail = Format("%zu of %zu/%zu", pairs, refPoints, framePoints);
    w.remedy = "more pair up with a smaller --sad-size, a larger --search-area or a --roi over more texture";
  }
  return w;
}

// Work of pairing one frame's points (for ParallelFor): worth a thread of its own.
constexpr long kPairWork = 1L << 20;

// Runs one step of a frame that has not failed yet; a failure waits for the frame's turn.
template <typename Step>
void Guarded(RegisteredFrame& f, const Step& step) {
  if (f.failure) return;
  try {
    step();
  } catch (...) {
    f.failure = std::current_exception();
  }
}

struct StageSetup {
  const GrayImage& referenceGreen;
  const std::string& referenceName;
  const FrameReader& reader;
  const RegistrationOptions& options;
};

// frames[first .. first + count - 1]; a frame that cannot be read ends the batch (reported
// in its turn, after the frames before it; none after it is read).
void ReadBatch(const StageSetup& s, const std::vector<int>& frames, int first, int count,
               std::vector<RegisteredFrame>& batch) {
  const int width = s.referenceGreen.Width();
  const int height = s.referenceGreen.Height();
  batch.resize(static_cast<size_t>(count));
  for (int j = 0; j < count; ++j) {
    RegisteredFrame& f = batch[static_cast<size_t>(j)];
    f = RegisteredFrame{};
    f.frame = frames[static_cast<size_t>(first + j)];
    f.name = s.reader.name(f.frame);
    try {
      if (s.reader.readGreen) {
        s.reader.readGreen(f.frame, f.image.channels[1]);
      } else {
        s.reader.read(f.frame, f.image);
      }
      const GrayImage& green = f.image.channels[1];  // after the read, which may replace the channels
      if (green.Width() != width || green.Height() != height) {
        throw Error("frame " + f.name + " is " + SizeText(green.Width(), green.Height()) +
                    " pixels, but the reference frame " + s.referenceName + " is " + SizeText(width, height));
      }
    } catch (...) {
      f.failure = std::current_exception();
      batch.resize(static_cast<size_t>(j + 1));
      return;
    }
  }
}

// The last step of a frame, on its thread: the options' strategy, then whatever the caller
// stages.
void FinishFrame(const StageSetup& s, const RegistrationReference& reference, RegistrationEvents& events,
                 RegisteredFrame& f) {
  Guarded(f, [&] {
    f.score = StrategyOf(s.options).Finish(reference, f.image.channels[1], f.frame, s.options, f.reg, f.log);
  });
  if (f.failure) return;
  if (!f.reg.sizes.Searchable()) {
    f.warnings.push_back(FallbackWarning(f.frame, s.options, s.referenceGreen.Width(), s.referenceGreen.Height(),
                                         reference.points.size(), f.reg.points.size(), f.reg.pairs.a.size()));
  }
  try {
    events.Stage(f);
  } catch (...) {
    f.stageFailure = std::current_exception();
  }
}

// The batch's frames registered, one frame per thread (at these sizes a frame's own loops
// are too short to share well between cores). The reference's corner points are found beside
// the first batch's (`referenceReady` false until then).
void RegisterBatch(const StageSetup& s, std::vector<RegisteredFrame>& batch, RegistrationReference& reference,
                   bool& referenceReady, LcgRandom& random, RegistrationEvents& events) {
  const int ready = static_cast<int>(batch.size());
  const long frameWork = 1000L * s.referenceGreen.Width() * s.referenceGreen.Height();
  const int extra = referenceReady ? 0 : 1;  // item 0 of the first batch is the reference
  std::exception_ptr refFailure;
  ParallelFor(0, ready + extra, frameWork, [&](int lo, int hi) {
    for (int j = lo; j < hi; ++j) {
      if (j < extra) {
        try {
          reference = PrepareReference(s.referenceGreen, s.options);
          reference.prepared = StrategyOf(s.options).Prepare(s.referenceGreen, s.options);
        } catch (...) {
          refFailure = std::current_exception();
        }
      } else {
        RegisteredFrame& f = batch[static_cast<size_t>(j - extra)];
        Guarded(f, [&] { DetectFramePoints(f.image.channels[1], s.options, f.reg); });
      }
    }
  });
  if (refFailure) std::rethrow_exception(refFailure);
  referenceReady = true;
  ParallelFor(0, ready, kPairWork, [&](int lo, int hi) {
    for (int j = lo; j < hi; ++j) {
      RegisteredFrame& f = batch[static_cast<size_t>(j)];
      Guarded(f, [&] { PairFramePoints(reference, f.image.channels[1], s.options, f.reg); });
    }
  });
  for (RegisteredFrame& f : batch) {
    if (!f.failure && f.reg.sizes.Searchable()) {
      f.random = random;
      SkipSearchDraws(random, kSearchTrials);
    }
  }
  ParallelFor(0, ready, frameWork, [&](int lo, int hi) {
    for (int j = lo; j < hi; ++j) {
      RegisteredFrame& f = batch[static_cast<size_t>(j)];
      Guarded(f, [&] { FitFrame(reference, f.image.channels[1], s.options, f.random, f.reg); });
      FinishFrame(s, reference, events, f);
    }
  });
}

}  // namespace

int UnwatchedBatchSize(int frameCount, int width, int height, size_t budget) {
  const int least = std::max(1, ThreadCount()) * kFramesPerThreadInBatch;
  const size_t frameBytes = std::max<size_t>(1, static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  const size_t byMemory = budget / frameBytes;
  return static_cast<int>(
      std::max<size_t>(static_cast<size_t>(least), std::min<size_t>(byMemory, static_cast<size_t>(frameCount))));
}

std::string FormatMaeLine(int k, double e1, double e2) {
  return "MAE(" + std::to_string(k) + ") = " + FormatG6(e1) + "->" + FormatG6(e2) + "\r\n" + "\n";
}

void RegisterFrames(const GrayImage& referenceGreen, const std::string& referenceName, const std::vector<int>& frames,
                    const FrameReader& reader, const RegistrationOptions& options, LcgRandom& random,
                    RegistrationEvents& events) {
  const StageSetup setup{referenceGreen, referenceName, reader, options};
  const int count = static_cast<int>(frames.size());
  const int batchSize = std::max(1, events.BatchSize(count));
  RegistrationReference reference;
  bool referenceReady = false;
  std::vector<RegisteredFrame> batch;
  for (int first = 0; first < count; first += batchSize) {
    events.CheckCancel();
    ReadBatch(setup, frames, first, std::min(batchSize, count - first), batch);
    const bool firstBatch = !referenceReady;
    RegisterBatch(setup, batch, reference, referenceReady, random, events);
    if (firstBatch) events.ReferenceReady(reference);
    events.Report(batch, reference);
  }
}

}  // namespace lumet
