#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "imageio/homography_file.h"
#include "numeric/projection.h"
#include "raster/dib_raster.h"
#include "params/param_description.h"
#include "registration/block_matching.h"
#include "registration/derivative_kernels.h"
#include "registration/feature_point.h"
#include "registration/homography_refinement.h"
#include "registration/homography_search.h"
#include "registration/search_sizes.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "util/parallel.h"
#include "util/text_format.h"
#include "workbench/enhanced_registration.h"
#include "workbench/frame_source.h"
#include "workbench/workbench.h"

namespace lumet {

namespace {

std::string SizeText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

// What the frame loop needs of frame 0, refused before the first frame is read (the values
// alone passed CheckParams already).
void CheckRegistrationParams(const ParamSet& p, int refWidth, int refHeight) {
  CheckRoiFitsFrame(p.roi, refWidth, refHeight);
  // The reference frame's filters use sigma rounded to single precision, the LR frames'
  // sigma itself; the two kernels can differ in size.
  for (const double sigma : {p.filterSigma, static_cast<double>(static_cast<float>(p.filterSigma))}) {
    const int n = DerivativeKernelSize(sigma);
    if (n > refWidth || n > refHeight) {
      throw Error("the reference frame " + p.referenceFile + " of " + SizeText(refWidth, refHeight) +
                  " pixels is smaller than the " + SizeText(n, n) + " derivative filter of filter sigma " +
                  FormatG6(p.filterSigma));
    }
  }
}

std::vector<MarkPoint> Squares(const std::vector<FeaturePoint>& points) {
  std::vector<MarkPoint> marks;
  marks.reserve(points.size());
  for (const FeaturePoint& p : points) marks.push_back(MarkPoint{static_cast<int>(p.x), static_cast<int>(p.y)});
  return marks;
}

std::vector<MarkLine> Lines(const MatchedPairs& pairs) {
  std::vector<MarkLine> lines;
  lines.reserve(pairs.a.size());
  for (size_t j = 0; j < pairs.a.size(); ++j) {
    lines.push_back(MarkLine{static_cast<int>(pairs.a[j].x), static_cast<int>(pairs.a[j].y),
                             static_cast<int>(pairs.b[j].x), static_cast<int>(pairs.b[j].y)});
  }
  return lines;
}

// Why frame k got no homography search, and which options change it.
FrameWarning FallbackWarning(int k, const ParamSet& p, int width, int height, size_t refPoints, size_t framePoints,
                             size_t pairs) {
  const int block = 2 * p.sadSize + 1;
  FrameWarning w;
  w.frame = k;
  w.kind = p.method == kEnhancedMethod ? "no homography search, the direct refinement starts from the better of the "
                                         "refined identity and a direct translation search: "
                                       : "no homography search, the refinement starts from the identity: ";
  if (block > width || block > height) {
    w.kind += Format("the %d x %d matching block (--sad-size %d) does not fit the %d x %d frame", block, block,
                     p.sadSize, width, height);
    w.remedy = Format("a --sad-size below %d lets it fit", (std::min(width, height) + 1) / 2);
  } else if (p.ransacSecond <= static_cast<int>(pairs)) {
    w.kind += Format("the RANSAC sample of %d pairs (--ransac %d/%d) is below the %d a search needs", p.ransacFirst,
                     p.ransacFirst, p.ransacSecond, kMinSampleSize);
    w.remedy = Format("--ransac %d/%d or more runs it", kMinSampleSize, std::max(p.ransacSecond, kMinSampleSize));
  } else {
    w.kind += Format("too few corner points paired, a search needs %d pairs (the pairs of the points near the ROI "
                     "in frame 0 / in the frame)", kMinSampleSize + 5);
    w.detail = Format("%zu of %zu/%zu", pairs, refPoints, framePoints);
    w.remedy = "more pair up with a smaller --sad-size, a larger --search-area or a --roi over more texture";
  }
  return w;
}

// Frames a thread takes per batch: enough to even out frames of different cost, few enough
// that the viewers follow the work closely and Cancel takes effect soon.
constexpr int kFramesPerThreadInBatch = 2;
// Unwatched, a batch is as large as this many bytes of frames allow: fewer waits for the
// slowest frame of a batch (a refinement may take ten times the steps of another).
constexpr size_t kUnwatchedBatchBytes = size_t{256} << 20;

int BatchSize(const UiPort& ui, int frameCount, int width, int height) {
  const int watched = std::max(1, ThreadCount()) * kFramesPerThreadInBatch;
  if (ui.ShowsWorkInProgress()) return watched;
  const size_t frameBytes = std::max<size_t>(1, static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  const size_t byMemory = kUnwatchedBatchBytes / frameBytes;
  return static_cast<int>(std::max<size_t>(static_cast<size_t>(watched), std::min<size_t>(byMemory, static_cast<size_t>(frameCount))));
}

// Work of pairing one frame's points (for ParallelFor): worth a thread of its own.
constexpr long kPairWork = 1L << 20;

// Decoded frames handed on to the reconstruction, at most (more are decoded again).
constexpr size_t kCarriedBytes = size_t{256} << 20;

// One frame's registration, computed off the command's thread.
struct FrameWork {
  int k = 0;
  std::string name;
  ColorGrayImage image;
  std::vector<FeaturePoint> points;
  MatchedPairs pairs;
  SearchSizes sizes;
  LcgRandom random;  // where this frame's search starts drawing
  Matrix h;
  double e1 = kTooFewPairs;
  double e2 = 0.0;
  std::string refinementLog;
  // The homography file, written and flushed off the command's thread and put in place in
  // frame order; a failure to write it is reported in its place, after the frame's log.
  StagedFile homographyFile;
  std::exception_ptr writeFailure;
  std::exception_ptr failure;  // reported when the frame's turn comes
};

// Corner points of the frame and their pairs with frame 0's.
// Corner points of the frame near the ROI.
void DetectFrame(FrameWork& f, const ParamSet& p) {
  if (f.failure) return;
  try {
    DoubleImage response;
    f.points = SelectNearRoi(DetectFeatures(f.image.channels[1], response, p.filterSigma, kHarrisConstant,
                                            kSuppressionWindow),
                             kSelectionLimit, p.roi);
  } catch (...) {
    f.failure = std::current_exception();
  }
}

// The frame's corner points paired with frame 0's, and the search sizes they allow.
void PairFrame(FrameWork& f, const GrayImage& refGreen, const std::vector<FeaturePoint>& refPoints,
               const ParamSet& p) {
  if (f.failure) return;
  try {
    f.pairs = MatchBlocks(refGreen, f.image.channels[1], refPoints, f.points, p.sadSize, p.searchArea);
    f.sizes = ChooseSearchSizes(p.ransacFirst, p.ransacSecond, static_cast<int>(f.pairs.a.size()));
  } catch (...) {
    f.failure = std::current_exception();
  }
}

// The homography search (skipped, or accepting no trial, leaves the identity) and its
// refinement; its file is staged when files are written.
void FitFrame(FrameWork& f, const GrayImage& refGreen, const ParamSet& p, bool writeFiles) {
  if (f.failure) return;
  try {
    const GrayImage& frameGreen = f.image.channels[1];
    f.h = IdentityHomography();
    if (f.sizes.Searchable()) {
      f.e1 = EstimateHomography(refGreen, frameGreen, f.pairs.a, f.pairs.b, f.h, f.sizes.sampleSize, kSearchTrials,
                                f.sizes.poolSize, p.roi, f.random);
    }
    f.e2 = RefineHomography(refGreen, frameGreen, f.h, p.roi, kRefinementIterations, f.refinementLog);
  } catch (...) {
    f.failure = std::current_exception();
    return;
  }
  // The enhanced method refines h further when the frame's turn comes.
  if (p.method == kEnhancedMethod || !writeFiles) return;
  try {
    f.homographyFile = StagedFile(FormatFrameName(p.homographyPattern, f.k), FormatHomographyFile(f.h));
  } catch (...) {
    f.writeFailure = std::current_exception();
  }
}

}  // namespace

void Workbench::Registration(UiPort& ui) {
  CheckParams(params);
  // One source for frame 0 and the frames after it, so that each is decoded once.
  FrameSource source(params.lrPattern, params.startIndex, frameImages);
  carried_ = CarriedFrames{};
  registrationScores.clear();
  ShowReferenceFrom(source, ui);
  // A copy: nothing the viewers do while the command runs may change its parameters.
  const ParamSet p = params;
  CheckRegistrationParams(p, refWidth, refHeight);
  // Frames 1 .. N, and with them everything the reconstruction will read, are checked
  // before any work starts; each is decoded once and kept for the loop.
  if (p.lrCount > 0) {
    source.CheckFrames(1, p.lrCount + 1, refWidth, refHeight,
                       [&](int found) { return RegistrationShortage(source, p.lrCount, found); });
  }

  if (!ui.ViewerExists(Viewer::Frame)) ui.CreateViewer(Viewer::Frame, "LR frames", ScreenRect{300, 0, 300, 300});
  ui.FitViewer(Viewer::Frame, refWidth, refHeight);

  size_t carriedBytes = 0;
  const auto carry = [&](int k, ColorGrayImage&& image) {
    const size_t bytes = static_cast<size_t>(image.Width()) * static_cast<size_t>(image.Height()) * 3;
    if (!carryFrames || carriedBytes + bytes > kCarriedBytes) return;
    carriedBytes += bytes;
    carried_.frames.emplace(k, std::move(image));
  };
  if (carryFrames) {
    carried_.pattern = p.lrPattern;
    carried_.startIndex = p.startIndex;
    carry(0, ColorGrayImage(referenceImage));
  }

  const GrayImage& refGreen = referenceImage.channels[1];
  // Frame 0's corner points are found beside the first batch's.
  std::vector<FeaturePoint> refPoints;
  bool refDetected = false;
  const auto detectReference = [&] {
    DoubleImage response;
    // The reference frame's filters are built from sigma rounded to single precision, the
    // LR frames' from sigma itself; the two kernels can differ in their last bit.
    refPoints = SelectNearRoi(
        DetectFeatures(refGreen, response, static_cast<float>(p.filterSigma), kHarrisConstant, kSuppressionWindow),
        kSelectionLimit, p.roi);
  };

  // Frames are registered a batch at a time, one frame per thread: at these sizes a frame's
  // own loops are too short to share well between cores. Everything that reaches the
  // viewers, the log and the files is then done in frame order, as in a sequential run.
  const int batchSize = BatchSize(ui, p.lrCount, refWidth, refHeight);
  std::vector<FrameWork> batch;
  for (int first = 0; first < p.lrCount; first += batchSize) {
    CheckCancel(ui);
    const int count = std::min(batchSize, p.lrCount - first);
    batch.resize(static_cast<size_t>(count));
    for (int j = 0; j < count; ++j) {
      FrameWork& f = batch[static_cast<size_t>(j)];
      f = FrameWork{};
      f.k = p.firstFrame + first + j;
      f.name = source.Name(f.k);
      try {
        source.Read(f.k, f.image);
        if (f.image.Width() != refWidth || f.image.Height() != refHeight) {
          throw Error("frame " + f.name + " is " + SizeText(f.image.Width(), f.image.Height()) +
                      " pixels, but the reference frame " + p.referenceFile + " is " + SizeText(refWidth, refHeight));
        }
      } catch (...) {
        // Reported in its turn, after the frames before it are done; none after it is read.
        f.failure = std::current_exception();
        batch.resize(static_cast<size_t>(j + 1));
        break;
      }
    }
    const int ready = static_cast<int>(batch.size());
    const long frameWork = 1000L * refWidth * refHeight;
    const int extra = refDetected ? 0 : 1;  // item 0 of the first batch is frame 0
    std::exception_ptr refFailure;
    ParallelFor(0, ready + extra, frameWork, [&](int lo, int hi) {
      for (int j = lo; j < hi; ++j) {
        if (j < extra) {
          try {
            detectReference();
          } catch (...) {
            refFailure = std::current_exception();
          }
        } else {
          DetectFrame(batch[static_cast<size_t>(j - extra)], p);
        }
      }
    });
    if (!refDetected) {
      if (refFailure) std::rethrow_exception(refFailure);
      ui.DrawSquares(Viewer::Reference, Squares(refPoints));
      refDetected = true;
    }
    ParallelFor(0, ready, kPairWork, [&](int lo, int hi) {
      for (int j = lo; j < hi; ++j) PairFrame(batch[static_cast<size_t>(j)], refGreen, refPoints, p);
    });
    // Each search draws from the generator where the previous frame's search left it.
    for (FrameWork& f : batch) {
      if (!f.failure && f.sizes.Searchable()) {
        f.random = random;
        SkipSearchDraws(random, kSearchTrials);
      }
    }
    ParallelFor(0, ready, frameWork, [&](int lo, int hi) {
      for (int j = lo; j < hi; ++j) FitFrame(batch[static_cast<size_t>(j)], refGreen, p, writeFiles);
    });

    const std::string* lastLog = nullptr;
    std::string unflushed;  // a homography file whose folder is flushed once for the batch
    try {
      for (FrameWork& f : batch) {
        ui.ReportProgress("Registration", f.k - p.firstFrame + 1, p.lrCount);
        if (f.failure) std::rethrow_exception(f.failure);
        // Unwatched, the frame viewer needs only the last frame, which it ends with.
        if (ui.ShowsWorkInProgress() || f.k == p.firstFrame + p.lrCount - 1) {
          DibRaster picture(0);
          ImageToRaster(f.image, picture);
          ui.ShowPicture(Viewer::Frame, picture);
          ui.SetViewerTitle(Viewer::Frame, f.name);
          ui.AttachRoi(Viewer::Frame, p.roi);
          ui.DrawSquares(Viewer::Frame, Squares(f.points));
        }
        ui.DrawLines(Viewer::Reference, Lines(f.pairs));
        if (!f.sizes.Searchable()) {
          ui.Warn(FallbackWarning(f.k, p, refWidth, refHeight, refPoints.size(), f.points.size(), f.pairs.a.size()));
        }
        lastLog = &f.refinementLog;
        const double e2Final = p.method == kEnhancedMethod
                                   ? RefineDirectly(refGreen, f.image.channels[1], f.h, f.e1, f.e2, f.k, p, ui)
                                   : f.e2;
        ui.AppendLog(FormatMaeLine(f.k, f.e1, e2Final));
        registrationScores.push_back(FrameScores{f.k, f.e1, e2Final});
        if (!writeFiles) {
          homographies[f.k] = StoredHomography(f.h);
          carry(f.k, std::move(f.image));
          continue;
        }
        const std::string homographyPath = FormatFrameName(p.homographyPattern, f.k);
        if (f.writeFailure) std::rethrow_exception(f.writeFailure);
        if (f.homographyFile.Staged()) {
          f.homographyFile.Publish(false);
          unflushed = homographyPath;
        } else {
          WriteHomographyFile(homographyPath, f.h);
        }
        filesWritten.push_back(homographyPath);
        carry(f.k, std::move(f.image));
      }
    } catch (...) {
      // The refinement log of the last frame that got that far is on disk, as it would be
      // had the frames run one after another, and so are the files put in place.
      // What went wrong first is what the user hears about.
      try {
        if (lastLog != nullptr && writeFiles) WriteFileAtomically(kRefinementLogPath, *lastLog);
        if (!unflushed.empty()) FlushFolderOf(unflushed);
      } catch (const Error&) {
      }
      throw;
    }
    if (writeFiles) WriteFileAtomically(kRefinementLogPath, *lastLog);
    if (!unflushed.empty()) FlushFolderOf(unflushed);
  }
  if (p.lrCount > 0 && writeFiles) filesWritten.push_back(kRefinementLogPath);
}

std::string FormatMaeLine(int k, double e1, double e2) {
  return "MAE(" + std::to_string(k) + ") = " + FormatG6(e1) + "->" + FormatG6(e2) + "\r\n" + "\n";
}

}  // namespace lumet
