#include "reconstruction/enhanced/solver.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "numeric/cubic_kernel.h"
#include "numeric/projection.h"
#include "reconstruction/enhanced/backend.h"
#include "reconstruction/enhanced/codec_blocks.h"
#include "reconstruction/enhanced/edge_psf.h"
#include "reconstruction/enhanced/linear_light.h"
#include "reconstruction/enhanced/local_motion.h"
#include "reconstruction/enhanced/minimiser.h"
#include "reconstruction/enhanced/psf_choice.h"
#include "reconstruction/enhanced/psf_steps.h"
#include "reconstruction/enhanced/weights.h"
#include "reconstruction/grid_crop.h"
#include "reconstruction/median_estimate.h"
#include "util/error.h"
#include "util/parallel.h"
#include "util/text_format.h"

namespace lumet {

namespace {

constexpr int kPictureEvery = 10;
// The largest grid (pixels) whose colour differences solve side by side, each band on one
// thread: past it a band's passes share well between the cores, and two bands at once
// would hold twice the solve's memory, which the tiles are sized for.
constexpr size_t kSideBySidePixels = 512 * 512;
// ParallelFor's work estimate for one band's solve: enough that each goes to a thread.
constexpr long kWholeBandWork = 1L << 40;
// Luma is solved in green's place (kToLumaChroma).
constexpr int kLumaBand = 1;

// Pixels the median estimate could not reach (no sample in their 5 x 5 window, or in the
// two outer rows and columns) take the mean of their known 8-neighbours, ring by ring.
void FillUnreached(Plane& x, const CountImage& count) {
  const int w = x.width;
  const int h = x.height;
  std::vector<char> known(static_cast<size_t>(w) * h, 0);
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) {
      bool reached = count.Row(i)[j] > 0;
      if (!reached && i >= 2 && i < h - 2 && j >= 2 && j < w - 2) {
        for (int r = i - 2; r <= i + 2 && !reached; ++r) {
          for (int c = j - 2; c <= j + 2; ++c) reached = reached || count.Row(r)[c] > 0;
        }
      }
      known[static_cast<size_t>(i) * w + j] = reached ? 1 : 0;
    }
  }
  bool any = false;
  for (char k : known) any = any || k != 0;
  if (!any) return;  // nothing observed: the estimate keeps its constant value
  for (bool changed = true; changed;) {
    changed = false;
    std::vector<char> next = known;
    for (int i = 0; i < h; ++i) {
      for (int j = 0; j < w; ++j) {
        if (known[static_cast<size_t>(i) * w + j]) continue;
        double sum = 0.0;
        int n = 0;
        for (int r = std::max(0, i - 1); r <= std::min(h - 1, i + 1); ++r) {
          for (int c = std::max(0, j - 1); c <= std::min(w - 1, j + 1); ++c) {
            if (known[static_cast<size_t>(r) * w + c]) {
              sum += x.At(c, r);
              ++n;
            }
          }
        }
        if (n > 0) {
          x.At(j, i) = sum / n;
          next[static_cast<size_t>(i) * w + j] = 1;
          changed = true;
        }
      }
    }
    known.swap(next);
  }
}

void TransformPlanes(const double (&m)[9], Plane (&planes)[3]) {
  for (size_t i = 0; i < planes[0].v.size(); ++i) {
    const double v[3] = {planes[0].v[i], planes[1].v[i], planes[2].v[i]};
    for (size_t c = 0; c < 3; ++c) planes[c].v[i] = m[3 * c] * v[0] + m[3 * c + 1] * v[1] + m[3 * c + 2] * v[2];
  }
}

void Crop(const Plane (&planes)[3], int margin, const HrGeometry& roiGrid, ColorDoubleImage& out) {
  out.Create(roiGrid.width, roiGrid.height);
  out.mask.Fill(0);
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < roiGrid.height; ++i) {
      double* row = out.channels[static_cast<size_t>(c)].Row(i);
      for (int j = 0; j < roiGrid.width; ++j) row[j] = planes[c].At(j + margin, i + margin);
    }
  }
}

}  // namespace

void CheckEnhancedSettings(const EnhancedSettings& s) {
  if (s.maxIterations < 1 || s.maxIterations > kEnhancedIterationLimit) {
    throw Error("iteration cap " + std::to_string(s.maxIterations) + " is outside 1 .. " +
                std::to_string(kEnhancedIterationLimit));
  }
  if (!(s.tolerance >= 0.0 && s.tolerance <= 1.0)) {
    throw Error("tolerance " + FormatG6(s.tolerance) + " is outside 0 .. 1");
  }
  if (!(s.beta > 0.0) || !std::isfinite(s.beta)) {
    throw Error("beta " + FormatG6(s.beta) + " is not a positive number (the enhanced method scales its steps by it)");
  }
  if (!(s.alpha >= 0.0) || !std::isfinite(s.alpha)) throw Error("alpha " + FormatG6(s.alpha) + " is not a number >= 0");
  if (!(s.lambda >= 0.0) || !std::isfinite(s.lambda)) {
    throw Error("lambda " + FormatG6(s.lambda) + " is not a number >= 0");
  }
  EnhancedBackendNamed(s.backend);  // refuses an unknown backend before any work
}

namespace {

ObservationModel BuildModel(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                            const HrGeometry& grid, const std::vector<double>& taps, SampleDepth depth,
                            const std::vector<LocalMotion>& motion) {
  ObservationModel model(grid, taps);
  std::vector<ObservationModel::FrameToAdd> adding;
  for (size_t k = 0; k < frames.size(); ++k) {
    adding.push_back({&frames[k], &homographies[k], k < motion.size() && !motion[k].Empty() ? &motion[k] : nullptr});
  }
  model.AddFrames(adding, depth);
  return model;
}

// The shift-and-add median of every frame on the grown grid, unreached pixels filled,
// blended towards frame 0 enlarged where the other frames disagree with frame 0.
void StartEstimate(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                   const HrGeometry& grid, const HrGeometry& roiGrid, const Plane& agreement,
                   const Plane (&bicubic)[3], Plane (&planes)[3]) {
  std::vector<Matrix> hrForms;
  for (const Matrix& h : homographies) hrForms.push_back(HrForm(h, roiGrid.scale));
  ColorDoubleImage median;
  CountImage count;
  MedianShiftAdd(frames, hrForms, static_cast<int>(frames.size()), grid, frames[0].Width(), frames[0].Height(), median,
                 count);
  FillHoles(median, count);
  for (int c = 0; c < 3; ++c) {
    planes[c] = Plane(grid.width, grid.height);
    for (int i = 0; i < grid.height; ++i) {
      for (int j = 0; j < grid.width; ++j) planes[c].At(j, i) = median.channels[static_cast<size_t>(c)].Row(i)[j];
    }
    FillUnreached(planes[c], count);
    for (size_t i = 0; i < planes[c].v.size(); ++i) {
      const double m = SupportShare(agreement.v[i]);
      planes[c].v[i] = m * planes[c].v[i] + (1.0 - m) * bicubic[c].v[i];
    }
  }
}

// The seed carried onto the grown grid through its homography, where the samples cubic
// convolution takes of it all lie on its grid (elsewhere, at the borders, the median start
// stays), blended towards frame 0 enlarged where the other frames disagree with frame 0,
// as the median is: where something moved since the seed's frame, the seed shows it where
// it was, and the data term would have to move it back.
void WarmStart(const SeedEstimate& seed, const HrGeometry& grid, const Plane& agreement, const Plane (&bicubic)[3],
               Plane (&planes)[3]) {
  const Matrix toSeed = HrForm(seed.toSeed, grid.scale);
  const ColorDoubleImage& from = *seed.estimate;
  const int w = seed.grid.width;
  const int h = seed.grid.height;
  for (int i = 0; i < grid.height; ++i) {
    for (int j = 0; j < grid.width; ++j) {
      const ProjectedPoint p = ProjectPoint(toSeed, j + grid.x0, i + grid.y0);
      const double x = p.u - seed.grid.x0;
      const double y = p.v - seed.grid.y0;
      if (!(x >= 1.0 && y >= 1.0 && x < w - 2.0 && y < h - 2.0)) continue;
      const size_t at = static_cast<size_t>(i) * grid.width + j;
      const double m = SupportShare(agreement.v[at]);
      for (int c = 0; c < 3; ++c) {
        const DoubleImage& band = from.channels[static_cast<size_t>(c)];
        const double v = CubicSample(x, y, w, h, [&](int a, int b) { return band.Row(b)[a]; });
        planes[c].v[at] = m * v + (1.0 - m) * bicubic[c].v[at];
      }
    }
  }
}

// Frames held out of the fit to measure the estimate; none when there are too few.
std::vector<char> ChooseHeldOut(const ObservationModel& model) {
  const int frames = model.FrameCount();
  std::vector<char> heldOut(static_cast<size_t>(frames), 0);
  if (frames < kHeldOutMinFrames) return heldOut;
  for (int k = kHeldOutFirst; k < frames; k += kHeldOutEvery) {
    heldOut[static_cast<size_t>(k)] = model.FrameBegin(k) != model.FrameEnd(k) ? 1 : 0;
  }
  return heldOut;
}

bool AnyHeldOut(const std::vector<char>& heldOut) {
  for (char h : heldOut) {
    if (h != 0) return true;
  }
  return false;
}

// Minimises one band from planes[band], keeping the estimate that predicted the held-out
// frames best and stopping once it has not improved for kHeldOutPatience iterations.
// Returns the iterations run; bestError receives the best held-out error.
int RunBand(const EnhancedBackend& backend, const ObservationModel& model, int band, const EnhancedWeights& weights,
            const EnhancedSettings& settings, int cap, bool last, Plane& x, double& bestError,
            const std::function<void(int)>& step) {
  const bool measured = last && AnyHeldOut(weights.heldOut);
  const int patience = settings.seed != nullptr ? kSeededPatience : kHeldOutPatience;
  ObjectiveScratch scratch;
  Plane unused;
  backend.Objective(model, band, weights, x, unused, scratch);
  bestError = scratch.heldOutError;
  Plane best = x;
  int sinceBest = 0;
  CurvatureHistory history;
  // The last iterations within the cap are kept for the held-out frames to join.
  const int fitCap = measured ? std::max(1, cap - kJoinIterations) : cap;
  const MinimiseResult r =
      MinimiseEnhanced(backend, model, band, weights, settings.beta, fitCap, settings.tolerance, x,
                       [&](int it, const ObjectiveScratch& accepted) {
                         if (step) step(it);
                         if (!measured) return false;
                         if (accepted.heldOutError < bestError) {
                           bestError = accepted.heldOutError;
                           best = x;
                           sinceBest = 0;
                           return false;
                         }
                         return ++sinceBest >= patience;
                       },
                       &history);
  if (!measured) return r.iterations;
  x = best;
  // The held-out frames join for the last few iterations, which go on from the curvature
  // learnt so far.
  EnhancedWeights all = weights;
  for (size_t k = 0; k < all.heldOut.size(); ++k) {
    if (all.heldOut[k] != 0) all.frame[k] = 1.0;
  }
  all.heldOut.clear();
  // A fit the held-out frames stopped early was turning to the noise: it is left there.
  const int join = 2 * r.iterations >= fitCap ? std::min(kJoinIterations, cap - r.iterations) : 0;
  if (join <= 0) return r.iterations;
  const MinimiseResult joined = MinimiseEnhanced(backend, model, band, all, settings.beta, join, settings.tolerance, x,
                                                 [&](int it, const ObjectiveScratch&) {
                                                   if (step) step(r.iterations + it);
                                                   return false;
                                                 },
                                                 &history);
  return r.iterations + joined.iterations;
}

// The luma band's solve: its planes, frame weights and what the outcome reports of it.
struct LumaSolve {
  Plane x;
  EnhancedWeights weights;
  std::vector<double> residuals;
  int done = 0;
  // The held-out frames' best mean error before they joined the fit.
  double heldOutError = 0.0;
};

// The weights the solve starts from: lambda scaled to the observations per HR pixel (the
// data term sums over observations, the prior over HR pixels, so that the balance does not
// move with the frame count), the held-out frames, every other frame with observations at 1.
void InitialWeights(const ObservationModel& model, const EnhancedSettings& settings, EnhancedWeights& weights) {
  const int frames = model.FrameCount();
  const double density = static_cast<double>(model.ObservationCount()) /
                         (static_cast<double>(model.GridWidth()) * model.GridHeight());
  weights.lambda = settings.lambda * kPriorGain * density;
  weights.heldOut = ChooseHeldOut(model);
  weights.frame.assign(static_cast<size_t>(frames), 1.0);
  for (int k = 0; k < frames; ++k) {
    const size_t i = static_cast<size_t>(k);
    if (model.FrameBegin(k) == model.FrameEnd(k) || weights.heldOut[i] != 0) weights.frame[i] = 0.0;
  }
}

// Runs the bands of one grid with the progress and the pictures of the work, counting the
// iterations into the outcome.
class BandSolver {
 public:
  BandSolver(const EnhancedBackend& backend, ObservationModel& model, const EnhancedSettings& settings,
             const HrGeometry& roiGrid, int margin, Plane (&planes)[3], EnhancedOutcome& outcome,
             const EnhancedProgress& progress, const EnhancedPicture& picture)
      : backend_(backend), model_(model), settings_(settings), roiGrid_(roiGrid), margin_(margin), planes_(planes),
        outcome_(outcome), progress_(progress), picture_(picture) {
    // In linear light the residuals are scaled to encoded units, and the pictures encoded.
    linear_ = dynamic_cast<const LinearLightBackend*>(&backend);
  }

  // The estimate as it stands, with luma from the solve under way if there is one (and
  // the colour differences as last taken while two solve side by side).
  void Show() const {
    if (!picture_) return;
    ColorDoubleImage estimate;
    std::unique_lock<std::mutex> lock(shownMutex_);
    const bool taken = sideBySide_;
    Plane rgb[3] = {taken ? shown_[0] : planes_[0], lumaInSolve_ != nullptr ? *lumaInSolve_ : planes_[kLumaBand],
                    taken ? shown_[1] : planes_[2]};
    lock.unlock();
    if (linear_ != nullptr) {
      for (int c = 0; c < 3; ++c) linear_->ToLinear(c, rgb[c]);
    }
    TransformPlanes(kToRgb, rgb);
    if (linear_ != nullptr) EncodePlanes(rgb);
    Crop(rgb, margin_, roiGrid_, estimate);
    picture_(estimate);
  }

  // RunBand on x; done counts the band's iterations (luma's over all its solves).
  void Run(int band, const EnhancedWeights& w, int cap, bool last, Plane& x, int& done, double& bestError) {
    const int offset = band == kLumaBand ? lumaSteps_ : done;
    const int n = RunBand(backend_, model_, band, w, settings_, cap, last, x, bestError, [&](int it) {
      if (progress_) progress_(band, offset + it);
      if ((offset + it) % kPictureEvery == 0) Show();
    });
    done += n;
    if (band == kLumaBand) lumaSteps_ += n;
    outcome_.iterations += n;
  }

  // The colour differences (bands 0 and 2) with the same weights and cap, side by side on
  // two threads where the grid is small: there one band's passes are too short to share
  // well between cores, and the two bands do not depend on each other (each gives what it
  // gives alone). Only the calling thread reports progress and shows pictures, band 0's
  // iterations until it stops, then band 2's.
  void RunColourDifferences(const EnhancedWeights& w, int cap) {
    const size_t pixels = planes_[0].v.size();
    if (pixels > kSideBySidePixels) {
      for (int band : {0, 2}) {
        Show();
        int done = 0;
        double bandError = 0.0;
        Run(band, w, cap, true, planes_[band], done, bandError);
      }
      return;
    }
    Show();
    {
      std::lock_guard<std::mutex> lock(shownMutex_);
      shown_[0] = planes_[0];
      shown_[1] = planes_[2];
      sideBySide_ = true;
    }
    const int bands[2] = {0, 2};
    std::atomic<int> steps[2] = {0, 0};
    std::atomic<bool> finished[2] = {false, false};
    std::atomic<bool> stop{false};
    std::exception_ptr failure;
    std::mutex failureMutex;
    int done[2] = {0, 0};
    const std::thread::id caller = std::this_thread::get_id();
    struct Stopped {};
    const auto report = [&] {
      const int i = finished[0].load() ? 1 : 0;
      if (progress_) progress_(bands[i], steps[i].load());
    };
    ParallelFor(0, 2, kWholeBandWork, [&](int lo, int hi) {
      for (int i = lo; i < hi; ++i) {
        const int band = bands[i];
        try {
          double bandError = 0.0;
          done[i] = RunBand(backend_, model_, band, w, settings_, cap, true, planes_[band], bandError, [&](int it) {
            if (stop.load()) throw Stopped{};
            steps[i].store(it);
            if (it % kPictureEvery == 0 && picture_) {
              std::lock_guard<std::mutex> lock(shownMutex_);
              shown_[i] = planes_[band];
            }
            if (std::this_thread::get_id() != caller) return;
            report();
            if (it % kPictureEvery == 0) Show();
          });
        } catch (const Stopped&) {
        } catch (...) {
          std::lock_guard<std::mutex> lock(failureMutex);
          if (!failure) failure = std::current_exception();
          stop.store(true);
        }
        finished[i].store(true);
      }
    });
    {
      std::lock_guard<std::mutex> lock(shownMutex_);
      sideBySide_ = false;
    }
    if (failure) std::rethrow_exception(failure);
    if (progress_) progress_(bands[1], done[1]);
    outcome_.iterations += done[0] + done[1];
  }

  // Luma from start: a few iterations with every frame, then the frames weighted by their
  // own residual, then on to the cap.
  LumaSolve SolveLuma(Plane start, const EnhancedWeights& initial) {
    LumaSolve s{std::move(start), initial, {}, 0, 0.0};
    lumaInSolve_ = &s.x;
    Run(kLumaBand, s.weights, std::min(kWeightingIterations, settings_.maxIterations), false, s.x, s.done,
        s.heldOutError);
    ObjectiveScratch scratch;
    s.residuals = FrameResiduals(backend_, model_, kLumaBand, s.x, scratch,
                                 linear_ != nullptr ? &linear_->ResidualScale() : nullptr);
    const std::vector<double> residualWeights = FrameWeightsFromResiduals(s.residuals);
    for (size_t k = 0; k < residualWeights.size(); ++k) {
      s.weights.frame[k] = std::min(s.weights.frame[k], residualWeights[k]);
      // A held-out frame that fits no better than a rejected one says nothing about the estimate.
      if (residualWeights[k] == 0.0) s.weights.heldOut[k] = 0;
    }
    if (settings_.maxIterations > s.done) {
      Run(kLumaBand, s.weights, settings_.maxIterations - s.done, true, s.x, s.done, s.heldOutError);
    } else {
      s.heldOutError = std::numeric_limits<double>::quiet_NaN();  // never measured
    }
    lumaInSolve_ = nullptr;
    return s;
  }

 private:
  const EnhancedBackend& backend_;
  ObservationModel& model_;
  const EnhancedSettings& settings_;
  const HrGeometry& roiGrid_;
  int margin_;
  Plane (&planes_)[3];
  EnhancedOutcome& outcome_;
  const EnhancedProgress& progress_;
  const EnhancedPicture& picture_;
  const Plane* lumaInSolve_ = nullptr;  // luma while a LumaSolve holds it
  const LinearLightBackend* linear_ = nullptr;  // solving in linear light
  int lumaSteps_ = 0;                   // every luma iteration, of any PSF, for the progress
  // While the colour differences solve side by side: their planes as last taken for Show.
  mutable std::mutex shownMutex_;
  bool sideBySide_ = false;
  Plane shown_[2];
};

// Runs the bands of luma and colour differences (kToLumaChroma; luma first, then the
// colour differences) and decides whether the estimate is kept (outcome.fellBack
// otherwise) with backend (GridProblem::Backend). bicubicLuma: frame 0 enlarged, its luma.
void SolveBands(ObservationModel& model, const EnhancedSettings& settings, const HrGeometry& roiGrid, int margin,
                EnhancedWeights& weights, const Plane& bicubicLuma, Plane (&planes)[3], EnhancedOutcome& outcome,
                const EnhancedProgress& progress, const EnhancedPicture& picture, const EnhancedBackend& backend) {
  InitialWeights(model, settings, weights);
  BandSolver solver(backend, model, settings, roiGrid, margin, planes, outcome, progress, picture);
  solver.Show();
  LumaSolve luma = solver.SolveLuma(std::move(planes[kLumaBand]), weights);
  outcome.psfSigma = settings.psfSigma;
  if (outcome.psfTrials.empty()) outcome.psfTrials.push_back({settings.psfSigma, luma.heldOutError, luma.done});
  planes[kLumaBand] = std::move(luma.x);
  weights = luma.weights;
  outcome.residuals = luma.residuals;
  outcome.weights = weights.frame;
  outcome.heldOut = weights.heldOut;
  for (size_t k = 0; k < weights.frame.size(); ++k) {
    outcome.framesUsed += weights.frame[k] > 0.0 || weights.heldOut[k] != 0 ? 1 : 0;
  }

  // Frame 0 enlarged, measured on the same held-out observations.
  ObjectiveScratch scratch;
  Plane unused;
  backend.Objective(model, kLumaBand, weights, bicubicLuma, unused, scratch);
  outcome.bicubicError = scratch.heldOutError;
  backend.Objective(model, kLumaBand, weights, planes[kLumaBand], unused, scratch);
  outcome.heldOutError = scratch.heldOutError;
  outcome.heldOutWeight = scratch.heldOutWeight;
  if (settings.decideFallback) {
    DecideFallback(outcome);
    if (outcome.fellBack) return;
  }
  // The colour differences: the stronger prior, and fewer iterations.
  weights.lambda *= kChromaPrior;
  solver.RunColourDifferences(weights, ChromaIterationCap(settings.maxIterations));
}

}  // namespace

void DecideFallback(EnhancedOutcome& outcome) {
  double share = 0.0;
  int others = 0;
  for (size_t k = 1; k < outcome.agreement.size(); ++k) {
    if (!std::isfinite(outcome.agreement[k])) continue;
    share += outcome.agreement[k];
    ++others;
  }
  outcome.fellBack = false;
  outcome.reason.clear();
  if (others > 0 && share / others < kMinAgreement) {
    outcome.fellBack = true;
    outcome.reason = "the other frames agree with frame 0 on only " + Format("%.0f", 100.0 * share / others) +
                     " % of their pixels";
  } else if (outcome.heldOutError >= outcome.bicubicError) {
    outcome.fellBack = true;
    outcome.reason = "it predicts the held-out frames worse (mean error " + Format("%.2f", outcome.heldOutError) +
                     ") than frame 0 enlarged does (" + Format("%.2f", outcome.bicubicError) + ")";
  }
}

namespace {

// A separable filter over a (2r + 1)^2 window, the window clipped at the plane's edge:
// the least value (erode) or the mean.
Plane WindowFilter(const Plane& in, int r, bool least) {
  Plane across(in.width, in.height);
  Plane out(in.width, in.height);
  const auto pass = [&](const Plane& from, Plane& to, int dx, int dy) {
    for (int y = 0; y < from.height; ++y) {
      for (int x = 0; x < from.width; ++x) {
        double acc = least ? 1e300 : 0.0;
        int n = 0;
        for (int t = -r; t <= r; ++t) {
          const int px = x + t * dx;
          const int py = y + t * dy;
          if (px < 0 || py < 0 || px >= from.width || py >= from.height) continue;
          acc = least ? std::min(acc, from.At(px, py)) : acc + from.At(px, py);
          ++n;
        }
        to.At(x, y) = least ? acc : acc / n;
      }
    }
  };
  pass(in, across, 1, 0);
  pass(across, out, 0, 1);
  return out;
}

// Where the other frames do not agree with frame 0, the estimate rests on frame 0 alone,
// which the model cannot enlarge without ringing, and the ringing reaches a little beyond:
// there the result is frame 0 enlarged. The share of the estimate is SupportShare, eroded
// and then smoothed over kRingReach LR pixels.
void KeepToFrameZero(const Plane& agreement, int q, const Plane (&bicubic)[3], Plane (&planes)[3]) {
  Plane share(agreement.width, agreement.height);
  for (size_t i = 0; i < agreement.v.size(); ++i) share.v[i] = SupportShare(agreement.v[i]);
  const int r = kRingReach * q;
  share = WindowFilter(WindowFilter(share, r, true), r, false);
  for (size_t i = 0; i < share.v.size(); ++i) {
    const double m = share.v[i];
    for (int c = 0; c < 3; ++c) planes[c].v[i] = m * planes[c].v[i] + (1.0 - m) * bicubic[c].v[i];
  }
}

}  // namespace

namespace {

// Per frame, whether its photometry changes its levels.
std::vector<char> ChangedFrames(const std::vector<std::array<Photometry, 3>>& photometry) {
  std::vector<char> changed(photometry.size(), 0);
  for (size_t k = 0; k < photometry.size(); ++k) {
    for (const Photometry& m : photometry[k]) changed[k] |= m.gain != 1.0 || m.offset != 0.0;
  }
  return changed;
}

// Frames whose brightness differs from frame 0's, matched to it (photometry from the
// observations of model, which is rebuilt from the matched frames): frames stays the
// frames themselves when none needed it. brightnessMatched receives which did.
const std::vector<ColorGrayImage>* MatchBrightness(const std::vector<ColorGrayImage>& frames,
                                                   const std::vector<Matrix>& homographies, const HrGeometry& grid,
                                                   const std::vector<double>& taps, SampleDepth depth,
                                                   const std::vector<LocalMotion>& motion, ObservationModel& model,
                                                   std::vector<ColorGrayImage>& matched,
                                                   std::vector<char>& brightnessMatched) {
  const double spread = EstimateNoise(frames[0], grid, depth);
  const std::vector<std::array<Photometry, 3>> photometry = MatchPhotometry(model, frames[0], spread, depth);
  brightnessMatched = ChangedFrames(photometry);
  brightnessMatched.resize(frames.size(), 0);
  if (!AnyHeldOut(brightnessMatched)) return &frames;
  matched = frames;
  ApplyPhotometry(photometry, matched);
  model = BuildModel(matched, homographies, grid, taps, depth, motion);
  return &matched;
}

// Whether the frames look compressed under the ROI's grid grown for taps: ReadNoise of frame
// 0 and at most kNoiseFrames others spread over the sequence (a median over frames needs no
// more), brightness matched, against frame 0's own (NoiseReading); or the same frames'
// smooth blocks around the ROI (SmoothBlocksLookCompressed).
inline constexpr size_t kNoiseFrames = 8;
bool LooksCompressed(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                     const HrGeometry& roiGrid, const std::vector<double>& taps) {
  std::vector<size_t> picked{0};
  const size_t others = std::min(kNoiseFrames, frames.size() - 1);
  for (size_t i = 1; i <= others; ++i) picked.push_back((i * (frames.size() - 1) + others / 2) / others);
  const HrGeometry grid = ExtendGeometry(roiGrid, EnhancedMargin(static_cast<int>(taps.size()), roiGrid.scale));
  const SampleDepth depth = EnhancedDepth(frames);
  ObservationModel model(grid, taps);
  std::vector<ObservationModel::FrameToAdd> adding;
  for (size_t k : picked) adding.push_back({&frames[k], &homographies[k]});
  model.AddFrames(adding, depth);
  const std::vector<std::array<Photometry, 3>> photometry =
      MatchPhotometry(model, frames[0], EstimateNoise(frames[0], grid, depth), depth);
  if (AnyHeldOut(ChangedFrames(photometry))) {
    // Only the picked frames are copied to be matched.
    std::vector<ColorGrayImage> matched;
    for (size_t k : picked) matched.push_back(frames[k]);
    ApplyPhotometry(photometry, matched);
    model = ObservationModel(grid, taps);
    for (size_t i = 0; i < picked.size(); ++i) model.AddFrame(matched[i], homographies[picked[i]], depth);
  }
  const NoiseReading reading = ReadNoise(model, frames[0], grid, depth);
  if (reading.Compressed()) return true;
  BlockCount blocks;
  for (size_t k : picked) CountSmoothBlocks(frames[k], BlockRegion(roiGrid, frames[k].Width(), frames[k].Height()), blocks);
  return SmoothBlocksLookCompressed(blocks, reading.frames);
}

// The problem in linear light (linear_light.h): the observations of the frames stored
// encoded and the start estimate decoded, frame 0 enlarged decoded into linearBicubic.
// Returns the observations' residual scales (DecodeObservations).
std::vector<double> ToLinearLight(const std::vector<ColorGrayImage>& frames, ObservationModel& model,
                                  const Plane (&bicubic)[3], Plane (&planes)[3], Plane (&linearBicubic)[3]) {
  std::vector<char> encoded;
  for (const ColorGrayImage& frame : frames) encoded.push_back(SrgbEncodedFrame(frame) ? 1 : 0);
  std::vector<double> scale = DecodeObservations(model, encoded);
  DecodePlanes(planes);
  for (int c = 0; c < 3; ++c) linearBicubic[c] = bicubic[c];
  DecodePlanes(linearBicubic);
  return scale;
}

// One grid's problem as the solve starts from it: the observations (brightness matched to
// frame 0, in luma and colour differences), their agreement weights, frame 0 enlarged, the
// start estimate. outcome receives the noise (noise when that is a number, the PSF check's
// crop's own measure), the agreement shares, the observations per frame and which frames
// were brightness matched.
struct GridProblem {
  GridProblem(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
              const HrGeometry& roiGrid, const EnhancedSettings& settings, const std::vector<double>& taps,
              EnhancedOutcome& outcome, double noise = std::numeric_limits<double>::quiet_NaN())
      : margin(EnhancedMargin(static_cast<int>(taps.size()), roiGrid.scale)),
        grid(ExtendGeometry(roiGrid, margin)),
        depth(EnhancedDepth(frames)),
        motion(settings.localMotion
                   ? EstimateLocalMotion(frames, homographies, grid, EstimateNoise(frames[0], grid, depth))
                   : std::vector<LocalMotion>()),
        model(BuildModel(frames, homographies, grid, taps, depth, motion)) {
    std::vector<ColorGrayImage> matched;
    const std::vector<ColorGrayImage>* used =
        MatchBrightness(frames, homographies, grid, taps, depth, motion, model, matched, outcome.brightnessMatched);
    outcome.noise = noise;
    if (!std::isfinite(noise)) {
      const NoiseReading reading = ReadNoise(model, frames[0], grid, depth);
      outcome.frame0Noise = reading.frame0;
      outcome.framesNoise = reading.frames;
      outcome.noise = reading.Sigma();
    }
    weights.alpha = settings.alpha;
    weights.observation = AgreementWeights(model, frames[0], outcome.noise, depth);
    outcome.agreement = AgreementShares(model, weights.observation);
    for (int k = 0; k < model.FrameCount(); ++k) outcome.observations.push_back(model.FrameEnd(k) - model.FrameBegin(k));
    for (const LocalMotion& m : motion) outcome.followed.push_back(m.moved);
    weights.dataSmoothing = kDataSmoothing * outcome.noise / kTypicalNoise;
    BicubicOnGrid(frames[0], grid, bicubic, depth);
    agreement = AgreementMap(model, weights.observation);
    // The median start and the seed place what moves on its own where the homographies put it,
    // so they count only where the scene does not.
    const Plane startAgreement = AnyMoved(motion) ? StillAgreement() : agreement;
    StartEstimate(*used, homographies, grid, roiGrid, startAgreement, bicubic, planes);
    // A solve without held-out frames runs to its cap, which leaves little of a seed but its
    // overfitting of the fewer frames such a window has (the ends of a clip): it starts cold.
    if (settings.seed != nullptr && AnyHeldOut(ChooseHeldOut(model))) {
      WarmStart(*settings.seed, grid, startAgreement, bicubic, planes);
    }
    // In linear light from here on, all but frame 0 enlarged (the safe result, kept encoded).
    Plane linearBicubic[3];
    const bool decoded = settings.linearLight && SrgbEncodedFrame(frames[0]);
    if (decoded) residualScale = ToLinearLight(*used, model, bicubic, planes, linearBicubic);
    const Plane(&solvedBicubic)[3] = decoded ? linearBicubic : bicubic;
    // Solved as luma and colour differences (kToLumaChroma), written back as red, green, blue.
    bicubicLuma = Plane(grid.width, grid.height);
    for (size_t i = 0; i < bicubicLuma.v.size(); ++i) {
      bicubicLuma.v[i] = kToLumaChroma[3] * solvedBicubic[0].v[i] + kToLumaChroma[4] * solvedBicubic[1].v[i] +
                         kToLumaChroma[5] * solvedBicubic[2].v[i];
    }
    TransformPlanes(kToLumaChroma, planes);
    model.TransformValues(kToLumaChroma);
    if (decoded) {
      // The solve's values (LinearLightBackend), k from the start's luma over about two LR
      // pixels: the noise of a single pixel's start would show through.
      pixelScale = EncodingSlopes(WindowFilter(planes[kLumaBand], roiGrid.q, false));
      const LinearLightBackend scaling(EnhancedBackendNamed(settings.backend), residualScale, pixelScale, kLumaBand);
      for (int c = 0; c < 3; ++c) scaling.ToSolved(c, planes[c]);
      scaling.ToSolved(kLumaBand, bicubicLuma);
    }
  }

  static bool AnyMoved(const std::vector<LocalMotion>& motion) {
    return std::any_of(motion.begin(), motion.end(), [](const LocalMotion& m) { return !m.Empty(); });
  }
  // The agreement map of the observations whose pixels the homographies place alone.
  Plane StillAgreement() const {
    std::vector<float> still = weights.observation;
    for (int k = 0; k < model.FrameCount(); ++k) {
      if (static_cast<size_t>(k) >= motion.size() || motion[static_cast<size_t>(k)].Empty()) continue;
      for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); ++o) {
        int u = 0;
        int v = 0;
        double ox = 0.0;
        double oy = 0.0;
        if (model.FramePixel(o, u, v) && motion[static_cast<size_t>(k)].Offset(u, v, ox, oy)) still[o] = 0.0f;
      }
    }
    return AgreementMap(model, still);
  }

  int margin;
  HrGeometry grid;
  SampleDepth depth;
  std::vector<LocalMotion> motion;
  ObservationModel model;
  EnhancedWeights weights;
  Plane bicubic[3];
  Plane bicubicLuma;
  Plane agreement;
  Plane planes[3];
  // Solving in linear light: per observation, the slope of the encoding at its luma
  // (DecodeObservations); empty otherwise.
  std::vector<double> residualScale;
  Plane pixelScale;
  std::unique_ptr<LinearLightBackend> linear;

  // The backend the problem is solved with: the one named, or in linear light the
  // LinearLightBackend around it (then also in `linear`).
  const EnhancedBackend& Backend(const std::string& name) {
    const EnhancedBackend& named = EnhancedBackendNamed(name);
    if (residualScale.empty()) return named;
    linear = std::make_unique<LinearLightBackend>(named, residualScale, pixelScale, kLumaBand);
    return *linear;
  }
};

// The held-out frames of the crop split in two: every other one stops the fits (left in
// initial.heldOut), the rest score them (returned). With one held-out frame only (a window of
// five or six frames, as a video's), the crop's fits leave out one more, the last that has
// observations, to score them (borrowed is then set).
std::vector<char> SplitHeldOut(const ObservationModel& model, EnhancedWeights& initial, bool& borrowed) {
  borrowed = false;
  std::vector<char> scoring(initial.heldOut.size(), 0);
  bool second = false;
  for (size_t k = 0; k < initial.heldOut.size(); ++k) {
    if (initial.heldOut[k] == 0) continue;
    if (second) {
      scoring[k] = 1;
      initial.heldOut[k] = 0;
    }
    second = !second;
  }
  if (!AnyHeldOut(initial.heldOut) || AnyHeldOut(scoring)) return scoring;
  for (size_t k = initial.heldOut.size(); k-- > 1;) {
    const int frame = static_cast<int>(k);
    if (initial.heldOut[k] == 0 && initial.frame[k] > 0.0 && model.FrameBegin(frame) != model.FrameEnd(frame)) {
      scoring[k] = 1;
      initial.frame[k] = 0.0;
      borrowed = true;
      break;
    }
  }
  return scoring;
}

// A fit of the PSF check on its crop: the sigma and prior share it was fitted with, its
// errors, its iterations.
struct CropFit {
  double sigma;
  TrialErrors errors;
  int done;
  double priorShare = 1.0;
};

// Two band solvers for fits side by side: one on the crop's model, one on a copy of it
// (a fit sets the model's taps); neither reports progress.
struct SolverPair {
  SolverPair(const EnhancedBackend& backend, ObservationModel& of, const EnhancedSettings& settings,
             const HrGeometry& crop, int margin, Plane (&planes)[3])
      : model(of),
        main(backend, of, settings, crop, margin, planes, mainOutcome, silent, none),
        other(backend, model, settings, crop, margin, planes, otherOutcome, silent, none) {}
  ObservationModel model;
  EnhancedOutcome mainOutcome;
  EnhancedOutcome otherOutcome;
  const EnhancedProgress silent;  // only the calling thread reports
  const EnhancedPicture none;
  BandSolver main;
  BandSolver other;
};

// The PSF check (kWiderPsf, kNarrowerPsf): luma solved on the crop through the stated PSF
// and through its trials, each scored by frames that neither the fit nor its stopping saw.
// Returns the sigma chosen; trials receives each sigma with its score and iterations.
double HeldOutPsf(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                  const HrGeometry& roiGrid, const EnhancedSettings& settings, const EnhancedProgress& progress,
                  bool compressed, const EdgePsfReading& edges, std::vector<EnhancedOutcome::PsfTrial>& trials) {
  const double stated = settings.psfSigma;
  // A square of kPsfCheckSide LR pixels around the ROI's centre.
  const HrGeometry crop = CentredCrop(roiGrid, kPsfCheckSide);
  EnhancedOutcome cropOutcome;
  // The trials' margins follow frame 0's second differences on the crop: the held-out
  // frames favour a smoother estimate, a narrower PSF, by more as the crop holds more
  // detail, which those differences read beside the noise.
  const std::vector<double> taps = PsfTaps(WidestPsfTrial(stated), crop.scale);
  const double noise =
      EstimateNoise(frames[0], ExtendGeometry(crop, EnhancedMargin(static_cast<int>(taps.size()), crop.scale)), EnhancedDepth(frames));
  GridProblem p(frames, homographies, crop, settings, taps, cropOutcome, noise);
  EnhancedWeights initial = p.weights;
  InitialWeights(p.model, settings, initial);
  bool borrowed = false;
  const std::vector<char> scoring = SplitHeldOut(p.model, initial, borrowed);
  if (!AnyHeldOut(scoring) || !AnyHeldOut(initial.heldOut)) return stated;
  const EnhancedBackend& backend = p.Backend(settings.backend);
  // The crop reports no iterations of its own: the bar waits at luma's first.
  const EnhancedProgress waiting = [&](int, int) {
    if (progress) progress(kLumaBand, 1);
  };
  const EnhancedPicture none;
  EnhancedSettings capped = settings;
  capped.maxIterations = std::min(settings.maxIterations, kPsfTrialIterations);
  BandSolver solver(backend, p.model, capped, crop, p.margin, p.planes, cropOutcome, waiting, none);
  const auto solve = [&](double sigma, ObservationModel& model, BandSolver& by, double priorShare = 1.0) {
    model.SetTaps(PsfTaps(sigma, crop.scale));
    EnhancedWeights at = initial;
    at.lambda *= priorShare;
    const LumaSolve luma = by.SolveLuma(p.planes[kLumaBand], at);
    EnhancedWeights scored = luma.weights;
    scored.heldOut = scoring;
    ObjectiveScratch scratch;
    Plane unused;
    backend.Objective(model, kLumaBand, scored, luma.x, unused, scratch);
    const TrialErrors errors{luma.heldOutError, scratch.heldOutError, priorShare > 1.0};
    return CropFit{sigma, errors, luma.done, priorShare};
  };
  // Two fits side by side, each on one thread (the crop's passes are too short to share well
  // between cores), on the model and a copy of it; each gives what it gives alone.
  std::unique_ptr<SolverPair> pair;
  const auto sideBySide = [&](double first, double second, double secondShare, CropFit (&both)[2]) {
    if (progress) progress(kLumaBand, 1);
    if (!pair) pair = std::make_unique<SolverPair>(backend, p.model, capped, crop, p.margin, p.planes);
    ParallelFor(0, 2, kWholeBandWork, [&](int lo, int hi) {
      for (int i = lo; i < hi; ++i) {
        both[i] = i == 0 ? solve(first, p.model, pair->main) : solve(second, pair->model, pair->other, secondShare);
      }
    });
  };
  const bool twoThreads = ThreadCount() > 1 && !InsideParallelBody();
  // Every path of the steps starts with the stated PSF and the first wider one: those two
  // are solved ahead, side by side, and taken when the steps ask for them.
  std::vector<CropFit> ahead;
  const double firstStep = std::min(kWiderPsf * stated, kMaxTrialPsf);
  if (firstStep != stated && twoThreads) {
    CropFit both[2] = {};
    sideBySide(stated, firstStep, 1.0, both);
    ahead.assign(both, both + 2);
  }
  const auto trial = [&](double sigma) {
    // A PSF narrower than the one lambda was measured at passes more of the frames' noise
    // into the estimate: the fit through it is also made with the prior strengthened as far
    // as the PSF passes more of the finest detail, and taken when it predicts the scoring
    // frames clearly better (the better of two fits would otherwise win by chance).
    const double share = NarrowerPsfPriorShare(sigma, kPriorReferencePsf);
    const bool twoFits = share >= kLeastPriorShare;
    CropFit both[2] = {};
    const auto found = std::find_if(ahead.begin(), ahead.end(), [&](const CropFit& a) { return a.sigma == sigma; });
    if (found != ahead.end()) {
      both[0] = *found;
      ahead.erase(found);
      if (twoFits) both[1] = solve(sigma, p.model, solver, share);
    } else if (twoFits && twoThreads) {
      sideBySide(sigma, sigma, share, both);
    } else {
      both[0] = solve(sigma, p.model, solver);
      if (twoFits) both[1] = solve(sigma, p.model, solver, share);
    }
    const CropFit& result =
        twoFits && both[1].errors.score < (1.0 - kPsfGainShare) * both[0].errors.score ? both[1] : both[0];
    trials.push_back({sigma, result.errors.score, result.done, result.priorShare});
    return result.errors;
  };
  return ChooseBySteps(stated, noise, compressed, borrowed, edges, trials, trial);
}

// The prior's share for the chosen width: the share of the trial nearest to it (in log
// sigma), moved as NarrowerPsfPriorShare moves it between the two widths (the edges may have
// lowered the choice below every trial: a narrower PSF is solved with a stronger prior
// whether or not the frames tried it), never below the stated prior. From few frames
// (kFewFrames), a width the check narrowed from the stated one takes at least
// FewFramesPriorShare: their fit leaves the finest detail to the prior, and on nearly
// noise-free frames the plain prior's fit predicts the held-out frames about as well, yet
// lets the aliasing into the estimate. From more frames the plain prior's fit is the better
// where the held-out frames say so (16 frames of box pixels at x2, 17 of a fine texture at x3).
double ChosenPriorShare(double chosen, double stated, size_t frames,
                        const std::vector<EnhancedOutcome::PsfTrial>& trials) {
  const EnhancedOutcome::PsfTrial* nearest = nullptr;
  for (const EnhancedOutcome::PsfTrial& t : trials) {
    if (nearest == nullptr || std::fabs(std::log(t.sigma / chosen)) < std::fabs(std::log(nearest->sigma / chosen))) {
      nearest = &t;
    }
  }
  if (nearest == nullptr) return 1.0;
  const double moved = chosen < nearest->sigma ? NarrowerPsfPriorShare(chosen, nearest->sigma)
                                               : 1.0 / NarrowerPsfPriorShare(nearest->sigma, chosen);
  const double narrowed = frames <= kFewFrames && chosen < stated ? FewFramesPriorShare(chosen) : 1.0;
  return std::max({1.0, nearest->priorShare * moved, narrowed});
}

// The held-out frames' choice, raised towards frame 0's edges' reading (RaiseToEdges; from
// few frames, RaiseToEdgesFromFewFrames) and kept below it times kEdgeAbove, where they read
// one (no edge of a scene is sharper than the camera makes it; a reading sharper than a
// pixel's own box shows sharpened or aliased edges and bounds nothing), within the sigmas a
// run with the check may solve with.
double ChoosePsf(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                 const HrGeometry& roiGrid, const EnhancedSettings& settings, const EnhancedProgress& progress,
                 bool compressed, const EdgePsfReading& edges, std::vector<EnhancedOutcome::PsfTrial>& trials) {
  const double chosen = RaiseToEdgesFromFewFrames(
      HeldOutPsf(frames, homographies, roiGrid, settings, progress, compressed, edges, trials), edges, frames.size(),
      roiGrid.scale, WidestPsfTrial(settings.psfSigma));
  if (!edges.Found() || edges.sigma < kNarrowestPsf) return chosen;
  return std::clamp(std::min(chosen, edges.sigma * kEdgeAbove), std::min(kNarrowestPsf, chosen), chosen);
}

}  // namespace

void EnhancedReconstruct(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                         const HrGeometry& roiGrid, const EnhancedSettings& settings, ColorDoubleImage& result,
                         EnhancedOutcome& outcome, const EnhancedProgress& progress, const EnhancedPicture& picture) {
  CheckEnhancedSettings(settings);
  if (frames.empty() || frames.size() != homographies.size()) throw Error("no frames to reconstruct from");
  EnhancedSettings solve = settings;
  std::vector<EnhancedOutcome::PsfTrial> trials;
  bool compressed = false;
  EdgePsfReading edges;
  double priorShare = 1.0;
  if (settings.checkPsf) {
    compressed = LooksCompressed(frames, homographies, roiGrid, PsfTaps(settings.psfSigma, roiGrid.scale));
    EnhancedSettings cold = settings;
    cold.seed = nullptr;
    edges = ReadEdgePsf(frames[0], EdgeRegion(roiGrid, frames[0].Width(), frames[0].Height()), EnhancedDepth(frames));
    solve.psfSigma = ChoosePsf(frames, homographies, roiGrid, cold, progress, compressed, AsBlurBound(edges), trials);
    priorShare = ChosenPriorShare(solve.psfSigma, settings.psfSigma, frames.size(), trials);
    solve.lambda *= priorShare;
    solve.checkPsf = false;
  }
  outcome = EnhancedOutcome{};
  outcome.lambda = solve.lambda;
  outcome.priorShare = priorShare;
  outcome.psfTrials = trials;
  outcome.edgePsf = edges;
  outcome.compressed = compressed;
  GridProblem p(frames, homographies, roiGrid, solve, PsfTaps(solve.psfSigma, roiGrid.scale), outcome);
  const EnhancedBackend& backend = p.Backend(solve.backend);
  SolveBands(p.model, solve, roiGrid, p.margin, p.weights, p.bicubicLuma, p.planes, outcome, progress, picture, backend);
  if (p.linear) {
    for (int c = 0; c < 3; ++c) p.linear->ToLinear(c, p.planes[c]);
  }
  TransformPlanes(kToRgb, p.planes);
  if (!p.residualScale.empty()) EncodePlanes(p.planes);
  if (!outcome.fellBack) KeepToFrameZero(p.agreement, roiGrid.q, p.bicubic, p.planes);
  Crop(outcome.fellBack ? p.bicubic : p.planes, p.margin, roiGrid, result);
}

}  // namespace lumet
