#include <algorithm>
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "imageio/homography_file.h"
#include "params/param_description.h"
#include "params/algorithm_options.h"
#include "raster/dib_raster.h"
#include "registration/frame_registration.h"
#include "registration/homography_search.h"
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
FrameWarning FallbackWarning(int k, const RegistrationOptions& o, int width, int height, size_t refPoints,
                             size_t framePoints, size_t pairs) {
  const int block = 2 * o.sadSize + 1;
  FrameWarning w;
  w.frame = k;
  w.kind = o.directRefinement ? "no homography search, the direct refinement starts from the better of the "
                                "refined identity and a direct translation search: "
                              : "no homography search, the refinement starts from the identity: ";
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

// One frame of a batch: registered off the command's thread, reported on it in frame order.
struct FrameWork {
  int k = 0;
  std::string name;
  ColorGrayImage image;
  FrameRegistration reg;
  LcgRandom random;  // where this frame's search starts drawing
  // The homography file, written and flushed off the command's thread and put in place in
  // frame order; a failure to write it is reported in its place, after the frame's log.
  StagedFile homographyFile;
  std::exception_ptr writeFailure;
  std::exception_ptr failure;  // reported when the frame's turn comes
};

// Runs one step of a frame that has not failed yet; a failure waits for the frame's turn.
template <typename Step>
void Guarded(FrameWork& f, const Step& step) {
  if (f.failure) return;
  try {
    step();
  } catch (...) {
    f.failure = std::current_exception();
  }
}

// What every step of the command reads: the parameters, the registration's options and
// the frame geometry, fixed when the command starts.
struct RegistrationSetup {
  const ParamSet& p;
  RegistrationOptions options;
  int width = 0;
  int height = 0;
  bool writeFiles = true;  // false: the homographies stay in memory (Workbench::writeFiles)
};

// Frames first .. first + count - 1 of the loop; a frame that cannot be read ends the batch
// (reported in its turn, after the frames before it; none after it is read).
void ReadBatch(FrameSource& source, const RegistrationSetup& s, int first, int count, std::vector<FrameWork>& batch) {
  batch.resize(static_cast<size_t>(count));
  for (int j = 0; j < count; ++j) {
    FrameWork& f = batch[static_cast<size_t>(j)];
    f = FrameWork{};
    f.k = s.p.firstFrame + first + j;
    f.name = source.Name(f.k);
    try {
      source.Read(f.k, f.image);
      if (f.image.Width() != s.width || f.image.Height() != s.height) {
        throw Error("frame " + f.name + " is " + SizeText(f.image.Width(), f.image.Height()) +
                    " pixels, but the reference frame " + s.p.referenceFile + " is " + SizeText(s.width, s.height));
      }
    } catch (...) {
      f.failure = std::current_exception();
      batch.resize(static_cast<size_t>(j + 1));
      return;
    }
  }
}

// The batch's frames registered, one frame per thread (at these sizes a frame's own loops
// are too short to share well between cores). Frame 0's corner points are found beside the
// first batch's (`reference.points` empty and `referenceReady` false until then). Each
// search draws from the generator where the previous frame's search left it.
void RegisterBatch(std::vector<FrameWork>& batch, const RegistrationSetup& s, const GrayImage& refGreen,
                   RegistrationReference& reference, bool& referenceReady, LcgRandom& random) {
  const int ready = static_cast<int>(batch.size());
  const long frameWork = 1000L * s.width * s.height;
  const int extra = referenceReady ? 0 : 1;  // item 0 of the first batch is frame 0
  std::exception_ptr refFailure;
  ParallelFor(0, ready + extra, frameWork, [&](int lo, int hi) {
    for (int j = lo; j < hi; ++j) {
      if (j < extra) {
        try {
          reference = PrepareReference(refGreen, s.options);
        } catch (...) {
          refFailure = std::current_exception();
        }
      } else {
        FrameWork& f = batch[static_cast<size_t>(j - extra)];
        Guarded(f, [&] { DetectFramePoints(f.image.channels[1], s.options, f.reg); });
      }
    }
  });
  if (refFailure) std::rethrow_exception(refFailure);
  referenceReady = true;
  ParallelFor(0, ready, kPairWork, [&](int lo, int hi) {
    for (int j = lo; j < hi; ++j) {
      FrameWork& f = batch[static_cast<size_t>(j)];
      Guarded(f, [&] { PairFramePoints(reference, f.image.channels[1], s.options, f.reg); });
    }
  });
  for (FrameWork& f : batch) {
    if (!f.failure && f.reg.sizes.Searchable()) {
      f.random = random;
      SkipSearchDraws(random, kSearchTrials);
    }
  }
  ParallelFor(0, ready, frameWork, [&](int lo, int hi) {
    for (int j = lo; j < hi; ++j) {
      FrameWork& f = batch[static_cast<size_t>(j)];
      Guarded(f, [&] { FitFrame(reference, f.image.channels[1], s.options, f.random, f.reg); });
      // The direct refinement changes h further when the frame's turn comes.
      if (f.failure || s.options.directRefinement || !s.writeFiles) continue;
      try {
        f.homographyFile = StagedFile(FormatFrameName(s.p.homographyPattern, f.k), FormatHomographyFile(f.reg.h));
      } catch (...) {
        f.writeFailure = std::current_exception();
      }
    }
  });
}

// One frame's turn: the viewers, its log lines and scores, and its homography (its file, or
// kept in `homographies` when no files are written). Returns the path of a file put in place
// whose folder is still to be flushed, or "".
std::string ReportFrame(FrameWork& f, const RegistrationSetup& s, const RegistrationReference& reference, UiPort& ui,
                        std::vector<FrameScores>& scores, std::map<int, Matrix>& homographies) {
  const ParamSet& p = s.p;
  ui.ReportProgress("Registration", f.k - p.firstFrame + 1, p.lrCount);
  if (f.failure) std::rethrow_exception(f.failure);
  // Unwatched, the frame viewer needs only the last frame, which it ends with.
  if (ui.ShowsWorkInProgress() || f.k == p.firstFrame + p.lrCount - 1) {
    DibRaster picture(0);
    ImageToRaster(f.image, picture);
    ui.ShowPicture(Viewer::Frame, picture);
    ui.SetViewerTitle(Viewer::Frame, f.name);
    ui.AttachRoi(Viewer::Frame, p.roi);
    ui.DrawSquares(Viewer::Frame, Squares(f.reg.points));
  }
  ui.DrawLines(Viewer::Reference, Lines(f.reg.pairs));
  if (!f.reg.sizes.Searchable()) {
    ui.Warn(FallbackWarning(f.k, s.options, s.width, s.height, reference.points.size(), f.reg.points.size(),
                            f.reg.pairs.a.size()));
  }
  const double e2 = s.options.directRefinement
                        ? RefineDirectly(*reference.green, f.image.channels[1], f.reg.h, f.reg.e1, f.reg.e2, f.k,
                                         s.options, ui)
                        : f.reg.e2;
  ui.AppendLog(FormatMaeLine(f.k, f.reg.e1, e2));
  scores.push_back(FrameScores{f.k, f.reg.e1, e2});
  if (!s.writeFiles) {
    homographies[f.k] = StoredHomography(f.reg.h);
    return {};
  }
  const std::string homographyPath = FormatFrameName(p.homographyPattern, f.k);
  if (f.writeFailure) std::rethrow_exception(f.writeFailure);
  if (f.homographyFile.Staged()) {
    f.homographyFile.Publish(false);
    return homographyPath;
  }
  WriteHomographyFile(homographyPath, f.reg.h);
  return {};
}

// The batch's frames in frame order, as in a sequential run. The refinement log of the last
// frame that got that far is on disk, and so are the files put in place, also when one
// fails; what went wrong first is what the user hears about.
void ReportBatch(std::vector<FrameWork>& batch, const RegistrationSetup& s, const RegistrationReference& reference,
                 UiPort& ui, Workbench& bench, const std::function<void(int, ColorGrayImage&&)>& carry) {
  const std::string* lastLog = nullptr;
  std::string unflushed;  // a homography file whose folder is flushed once for the batch
  try {
    for (FrameWork& f : batch) {
      if (!f.failure) lastLog = &f.reg.refinementLog;
      const std::string published =
          ReportFrame(f, s, reference, ui, bench.registrationScores, bench.homographies);
      if (!published.empty()) unflushed = published;
      if (s.writeFiles) bench.filesWritten.push_back(FormatFrameName(s.p.homographyPattern, f.k));
      carry(f.k, std::move(f.image));
    }
  } catch (...) {
    try {
      if (lastLog != nullptr && s.writeFiles) WriteFileAtomically(kRefinementLogPath, *lastLog);
      if (!unflushed.empty()) FlushFolderOf(unflushed);
    } catch (const Error&) {
    }
    throw;
  }
  if (s.writeFiles) WriteFileAtomically(kRefinementLogPath, *lastLog);
  if (!unflushed.empty()) FlushFolderOf(unflushed);
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
  const RegistrationSetup setup{p, ToRegistrationOptions(p), refWidth, refHeight, writeFiles};
  CheckRoiFitsFrame(p.roi, refWidth, refHeight);  // proposes a ROI that fits
  setup.options.CheckReference(p.referenceFile, refWidth, refHeight);
  // Frames 1 .. N, and with them everything the reconstruction will read, are checked
  // before any work starts; each is decoded once and kept for the loop.
  if (p.lrCount > 0) {
    source.CheckFrames(1, p.lrCount + 1, refWidth, refHeight,
                       [&](int found) { return RegistrationShortage(source, p.lrCount, found); });
  }

  if (!ui.ViewerExists(Viewer::Frame)) ui.CreateViewer(Viewer::Frame, "LR frames", StartingRect(Viewer::Frame));
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

  // Frames are registered a batch at a time; everything that reaches the viewers, the log
  // and the files is then done in frame order, as in a sequential run.
  const int batchSize = BatchSize(ui, p.lrCount, refWidth, refHeight);
  RegistrationReference reference;
  bool referenceReady = false;
  std::vector<FrameWork> batch;
  for (int first = 0; first < p.lrCount; first += batchSize) {
    CheckCancel(ui);
    ReadBatch(source, setup, first, std::min(batchSize, p.lrCount - first), batch);
    const bool firstBatch = !referenceReady;
    RegisterBatch(batch, setup, referenceImage.channels[1], reference, referenceReady, random);
    if (firstBatch) ui.DrawSquares(Viewer::Reference, Squares(reference.points));
    ReportBatch(batch, setup, reference, ui, *this, carry);
  }
  if (p.lrCount > 0 && writeFiles) filesWritten.push_back(kRefinementLogPath);
}

std::string FormatMaeLine(int k, double e1, double e2) {
  return "MAE(" + std::to_string(k) + ") = " + FormatG6(e1) + "->" + FormatG6(e2) + "\r\n" + "\n";
}

}  // namespace lumet
