#include "registration/homography_refinement.h"

#include <cmath>
#include <string>

#include "registration/homography_search.h"
#include "util/error.h"
#include "util/text_format.h"

namespace lumet {

namespace {

// The four adjusted entries in gradient order: column 1 then 2, row 1 then 2 inside.
constexpr int kRows[4] = {1, 2, 1, 2};
constexpr int kCols[4] = {1, 1, 2, 2};

// The descent's steps: the first step length, the factor a failed step shrinks it by, the
// smallest step, and the smallest improvement that goes on.
constexpr double kInitialStep = 0.08;
constexpr double kStepShrink = 0.6;
constexpr double kSmallestStep = 0.00001;
constexpr double kSmallestImprovement = 0.00005;

void CheckShape(const Matrix& h) {
  if (h.Rows() != 3 || h.Cols() != 3) {
    throw Error("a homography must be 3 x 3, not " + std::to_string(h.Rows()) + " x " + std::to_string(h.Cols()));
  }
}

}  // namespace

double RefineHomography(const GrayImage& reference, const GrayImage& frame, Matrix& h, const RoiRect& roi, int maxIter,
                        std::string& log) {
  log.clear();
  CheckShape(h);
  double step = kInitialStep;
  int i = 0;
  double result = 0.0;
  if (maxIter < 1) return 0.0;

  // The score of h carries over from one iteration to the next: after a kept step it is
  // E2, after an undone one the E0 of the restored h.
  const RoiScorer scorer(reference, frame, roi);
  double e0 = scorer.Score(h);
  for (;;) {
    const Matrix saved = h;
    log += std::to_string(i) + " " + FormatG6(e0) + "\n";
    if (std::isnan(e0)) return e0;  // nothing of the ROI maps into the frame

    Matrix probes[4] = {h, h, h, h};
    const Matrix* probePointers[4];
    for (int t = 0; t < 4; ++t) {
      probes[t].At1(kRows[t], kCols[t]) = h.At1(kRows[t], kCols[t]) + step;
      probePointers[t] = &probes[t];
    }
    double probeScores[4];
    scorer.ScoreMany(probePointers, 4, probeScores);
    double gradient[4];
    for (int t = 0; t < 4; ++t) gradient[t] = (probeScores[t] - e0) / step;
    const double length = std::sqrt(gradient[0] * gradient[0] + gradient[1] * gradient[1] + gradient[2] * gradient[2] +
                                    gradient[3] * gradient[3]);
    if (length == 0.0) return e0;  // flat score: no direction to go

    for (int t = 0; t < 4; ++t) h.At1(kRows[t], kCols[t]) = h.At1(kRows[t], kCols[t]) - (step / length) * gradient[t];
    const double e2 = scorer.Score(h);
    result = e2;
    if (std::isnan(e2) || e2 > e0) {
      h = saved;
      if (std::isnan(e2)) result = e0;
      step = step * kStepShrink;
      if (step < kSmallestStep) return e0;
    } else {
      if (e0 - e2 < kSmallestImprovement) return e2;
      e0 = e2;
    }
    ++i;
    if (i >= maxIter) return result;
  }
}

}  // namespace lumet
