#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "synth/drifting_clip.h"

namespace lumet {
namespace {

// The mean absolute difference, over the ROI and the three channels, between frame and the
// truth averaged over each LR pixel's square. HR pixel X (absolute) lies at LR position X / s
// and covers [(X - 0.5) / s, (X + 0.5) / s); each counts by its overlap with the LR pixel.
double TruthToFrameError(const ColorGrayImage& truth, const ColorGrayImage& frame, const RoiRect& roi, int s) {
  const auto overlap = [&](int hr, int lr) {
    const double lo = std::max((hr - 0.5) / s, lr - 0.5);
    const double hi = std::min((hr + 0.5) / s, lr + 0.5);
    return std::max(0.0, hi - lo);
  };
  double sum = 0;
  long n = 0;
  // Pixels whose square the truth covers whole.
  for (int c = 0; c < 3; ++c) {
    for (int y = roi.top + 1; y < roi.bottom - 1; ++y) {
      for (int x = roi.left + 1; x < roi.right - 1; ++x) {
        double mean = 0;
        for (int v = s * y - s; v <= s * y + s; ++v) {
          for (int u = s * x - s; u <= s * x + s; ++u) {
            const double w = overlap(u, x) * overlap(v, y);
            if (w > 0) mean += w * truth.channels[c].Row(v - s * roi.top)[u - s * roi.left];
          }
        }
        sum += std::fabs(mean - frame.channels[c].Row(y)[x]);
        ++n;
      }
    }
  }
  return sum / static_cast<double>(n);
}

// Each truth is its own frame's ROI in finer pixels: averaged back over the LR pixels it is
// that frame (to sampling and rounding), and not the frame after it, which the drift moved.
TEST(DriftingClip, EachTruthIsItsFramesRoiOnTheHrGrid) {
  for (const int scale : {2, 3}) {
    SCOPED_TRACE("scale " + std::to_string(scale));
    DriftingClipOptions o;
    o.movingObject = scale == 3;
    o.width = 80;
    o.height = 72;
    o.frames = 3;
    o.scale = scale;
    o.roi = RoiRect{16, 24, 64, 60};
    const DriftingClip clip = MakeDriftingClip(o);
    ASSERT_EQ(clip.frames.size(), 3u);
    ASSERT_EQ(clip.truths.size(), 3u);
    for (int k = 0; k < 3; ++k) {
      SCOPED_TRACE("frame " + std::to_string(k));
      const ColorGrayImage& truth = clip.truths[static_cast<size_t>(k)];
      EXPECT_EQ(truth.Width(), 48 * scale);
      EXPECT_EQ(truth.Height(), 36 * scale);
      const double own = TruthToFrameError(truth, clip.frames[static_cast<size_t>(k)], o.roi, scale);
      EXPECT_LT(own, 1.5);
      const double next = TruthToFrameError(truth, clip.frames[static_cast<size_t>((k + 1) % 3)], o.roi, scale);
      EXPECT_GT(next, 2 * own);
    }
  }
}

// The moving object is there, inside its box, in the frames and their truths alike, and it
// moves on its own: it is not where the background's drift would carry it.
TEST(DriftingClip, AMovingObjectMovesOnItsOwn) {
  DriftingClipOptions o;
  o.width = 96;
  o.height = 80;
  o.frames = 4;
  o.roi = RoiRect{20, 30, 80, 76};
  DriftingClipOptions still = o;
  o.movingObject = true;
  still.movingObject = false;
  const DriftingClip moving = MakeDriftingClip(o);
  const DriftingClip plain = MakeDriftingClip(still);
  for (int k = 0; k < o.frames; ++k) {
    SCOPED_TRACE("frame " + std::to_string(k));
    const RoiRect box = MovingObjectBox(k);
    EXPECT_EQ(box.Width(), 23);
    const auto& a = moving.frames[static_cast<size_t>(k)].channels[1];
    const auto& b = plain.frames[static_cast<size_t>(k)].channels[1];
    int inside = 0, outside = 0;
    for (int y = 0; y < o.height; ++y) {
      for (int x = 0; x < o.width; ++x) {
        const bool in = x >= box.left - 1 && x <= box.right && y >= box.top - 1 && y <= box.bottom;
        const bool differs = a.Row(y)[x] != b.Row(y)[x];
        (in ? inside : outside) += differs ? 1 : 0;
      }
    }
    EXPECT_EQ(outside, 0);
    EXPECT_GT(inside, 23 * 23 / 2);
    EXPECT_LT(TruthToFrameError(moving.truths[static_cast<size_t>(k)], moving.frames[static_cast<size_t>(k)], o.roi, 2),
              1.5);
  }
  EXPECT_EQ(MovingObjectBox(3).left - MovingObjectBox(0).left, 5);
}

// The camera's blur smooths the frames (less fine detail, the mean kept) and
// leaves the truths sharp; the noise has the standard deviation asked for.
TEST(DriftingClip, BlursAndAddsNoiseToTheFramesOnly) {
  DriftingClipOptions o;
  o.width = 64;
  o.height = 48;
  o.frames = 2;
  o.roi = RoiRect{8, 8, 56, 40};
  const DriftingClip sharp = MakeDriftingClip(o);
  DriftingClipOptions b = o;
  b.blur = 0.8;
  const DriftingClip blurred = MakeDriftingClip(b);
  DriftingClipOptions n = o;
  n.noise = 3.0;
  const DriftingClip noisy = MakeDriftingClip(n);
  const auto& s = sharp.frames[1].channels[1];
  const auto& bl = blurred.frames[1].channels[1];
  const auto& no = noisy.frames[1].channels[1];
  double step[2] = {0, 0};
  double mean[2] = {0, 0};
  double diff = 0;
  double diff2 = 0;
  long count = 0;
  for (int y = 4; y < o.height - 4; ++y) {
    for (int x = 4; x < o.width - 4; ++x) {
      // The second difference: the finest detail.
      step[0] += std::abs(s.Row(y)[x + 1] - 2 * s.Row(y)[x] + s.Row(y)[x - 1]);
      step[1] += std::abs(bl.Row(y)[x + 1] - 2 * bl.Row(y)[x] + bl.Row(y)[x - 1]);
      mean[0] += s.Row(y)[x];
      mean[1] += bl.Row(y)[x];
      const double d = double(no.Row(y)[x]) - s.Row(y)[x];
      diff += d;
      diff2 += d * d;
      ++count;
    }
  }
  EXPECT_LT(step[1], 0.7 * step[0]);
  EXPECT_NEAR(mean[1] / count, mean[0] / count, 1.0);
  const double m = diff / count;
  EXPECT_NEAR(std::sqrt(diff2 / count - m * m), 3.0, 0.3);
  EXPECT_NEAR(m, 0.0, 0.3);
  const auto& truth = sharp.truths[1].channels[1];
  for (int y = 0; y < truth.Height(); ++y) {
    for (int x = 0; x < truth.Width(); ++x) ASSERT_EQ(blurred.truths[1].channels[1].Row(y)[x], truth.Row(y)[x]);
  }
}

}  // namespace
}  // namespace lumet
