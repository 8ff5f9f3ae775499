#include "reconstruction/median_estimate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reconstruction/hr_geometry.h"
#include "test_images.h"

namespace lumet {
namespace {

using testing::MakeFrame;
using testing::ShiftHomography;

struct MedianRun {
  ColorDoubleImage x;
  CountImage count;
};

// MedianShiftAdd over all the given frames, each with its LR homography.
MedianRun RunMedian(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                    const RoiRect& roi, double scale) {
  const HrGeometry grid = MakeHrGeometry(roi, scale);
  std::vector<Matrix> hrForms;
  for (const Matrix& h : homographies) hrForms.push_back(HrForm(h, scale));
  std::vector<ColorDoubleImage> layers(frames.size());
  for (auto& layer : layers) layer.Create(grid.width, grid.height);
  MedianRun run;
  MedianShiftAdd(frames, hrForms, static_cast<int>(frames.size()), grid, frames[0].Width(), frames[0].Height(), layers,
                 run.x, run.count);
  return run;
}

TEST(MedianShiftAddTest, TheReferenceAloneFillsEveryQthRowAndColumn) {
  // Distinct values per pixel and channel.
  // Large enough for the threaded path at both scales (96 x 96 and 128 x 128 HR pixels).
  const ColorGrayImage frame =
      MakeFrame(40, 38, [](int c, int x, int y) { return (3 + x * 11 + y * 7 + c * 40) % 256; });
  for (double s : {3.0, 4.0}) {
    SCOPED_TRACE("scale " + std::to_string(s));
    const RoiRect roi{2, 3, 34, 35};
    const int q = static_cast<int>(s);
    const MedianRun run = RunMedian({frame}, {IdentityHomography()}, roi, s);
    ASSERT_EQ(run.x.Width(), 32 * q);
    ASSERT_EQ(run.x.Height(), 32 * q);
    for (int r = 0; r < 32 * q; ++r) {
      for (int c = 0; c < 32 * q; ++c) {
        const bool sampled = r % q == 0 && c % q == 0;
        ASSERT_EQ(run.count[r][c], sampled ? 1 : 0) << "HR pixel " << c << "," << r;
        for (int ch = 0; ch < 3; ++ch) {
          const double expected =
              sampled ? frame.channels[static_cast<size_t>(ch)][roi.top + r / q][roi.left + c / q] : 128.0;
          ASSERT_EQ(run.x.channels[static_cast<size_t>(ch)].At(c, r), expected) << "HR pixel " << c << "," << r;
        }
      }
    }
  }
}

TEST(MedianShiftAddTest, MedianOfAnEvenCountIsTheUpperMiddleValue) {
  const RoiRect roi{1, 1, 4, 4};
  auto constant = [](int red, int green, int blue) {
    return MakeFrame(6, 6, [=](int c, int, int) { return c == 0 ? red : c == 1 ? green : blue; });
  };
  {
    SCOPED_TRACE("10 and 30 give 30");
    const MedianRun run =
        RunMedian({constant(10, 30, 5), constant(30, 10, 5)}, {IdentityHomography(), IdentityHomography()}, roi, 3.0);
    EXPECT_EQ(run.count[3][3], 2);
    EXPECT_EQ(run.x.channels[0].At(3, 3), 30.0);
    EXPECT_EQ(run.x.channels[1].At(3, 3), 30.0);
    EXPECT_EQ(run.x.channels[2].At(3, 3), 5.0);
  }
  {
    SCOPED_TRACE("10, 30, 20 give 20");
    const MedianRun run = RunMedian({constant(10, 0, 0), constant(30, 0, 0), constant(20, 0, 0)},
                                    {IdentityHomography(), IdentityHomography(), IdentityHomography()}, roi, 3.0);
    EXPECT_EQ(run.count[3][3], 3);
    EXPECT_EQ(run.x.channels[0].At(3, 3), 20.0);
  }
  {
    SCOPED_TRACE("four samples give the third smallest");
    const MedianRun run =
        RunMedian({constant(40, 0, 0), constant(10, 0, 0), constant(30, 0, 0), constant(20, 0, 0)},
                  {IdentityHomography(), IdentityHomography(), IdentityHomography(), IdentityHomography()}, roi, 3.0);
    EXPECT_EQ(run.x.channels[0].At(3, 3), 30.0);
  }
}

TEST(MedianShiftAddTest, HalfPixelShiftLandsOnColumnsTwoModThreeInterpolatedOneSixth) {
  // The scene is a green ramp 12 x + 6 along reference columns; the shifted frame's pixel u
  // shows the scene at u - 0.5.
  const ColorGrayImage reference = MakeFrame(10, 6, [](int c, int x, int) { return c == 1 ? 12 * x + 6 : 50; });
  const ColorGrayImage shifted = MakeFrame(10, 6, [](int c, int x, int) { return c == 1 ? 12 * x : 50; });
  const RoiRect roi{2, 1, 6, 4};
  const MedianRun run = RunMedian({reference, shifted}, {IdentityHomography(), ShiftHomography(0.5, 0.0)}, roi, 3.0);
  // Row 0 (absolute HR row 3): the reference on columns X = 0 mod 3, the shifted frame on
  // X = 2 mod 3 (absolute), i.e. relative columns with (c + 6) mod 3 = 2.
  for (int c = 0; c < 12; ++c) {
    SCOPED_TRACE("HR column " + std::to_string(c));
    const int absolute = c + 6;
    if (absolute % 3 == 0) {
      EXPECT_EQ(run.count[0][c], 1);
      EXPECT_EQ(run.x.channels[1].At(c, 0), 12.0 * (absolute / 3) + 6.0);
    } else if (absolute % 3 == 2) {
      EXPECT_EQ(run.count[0][c], 1);
      // x' = X + 1.5, sampled at x' / 3: one sixth past LR column (X + 1) / 3.
      const double lrColumn = (absolute + 1) / 3;
      const double expected = (5.0 / 6.0) * (12.0 * lrColumn) + (1.0 / 6.0) * (12.0 * (lrColumn + 1));
      EXPECT_NEAR(run.x.channels[1].At(c, 0), expected, 1e-9);
      EXPECT_NEAR(run.x.channels[1].At(c, 0), 12.0 * (absolute / 3.0) + 6.0, 1e-9);  // the scene at X / 3
    } else {
      EXPECT_EQ(run.count[0][c], 0);
      EXPECT_EQ(run.x.channels[1].At(c, 0), 128.0);
    }
  }
}

TEST(MedianShiftAddTest, OnlyPositionsInsideTheReferenceExtentAreSampled) {
  // A frame moved two LR pixels left: HR positions near the right edge map beyond it.
  const ColorGrayImage frame = MakeFrame(8, 8, [](int, int, int) { return 77; });
  const RoiRect roi{0, 0, 8, 8};
  const MedianRun run = RunMedian({frame}, {ShiftHomography(2.0, 0.0)}, roi, 4.0);
  for (int c = 0; c < 32; c += 4) {
    SCOPED_TRACE("HR column " + std::to_string(c));
    EXPECT_EQ(run.count[0][c], c / 4 + 2 < 8 ? 1 : 0);
  }
}

TEST(FillHolesTest, EmptyPixelsTakeTheCountWeightedMeanOfTheirWindow) {
  ColorDoubleImage x;
  x.Create(9, 7);
  for (auto& channel : x.channels) channel.Fill(128.0);
  CountImage count;
  count.Create(9, 7);
  count.Fill(0);
  // Two observed pixels: (3, 1) with count 2, (5, 4) with count 1.
  count[1][3] = 2;
  count[4][5] = 1;
  for (int c = 0; c < 3; ++c) {
    x.channels[static_cast<size_t>(c)].At(3, 1) = 10.0 + c;
    x.channels[static_cast<size_t>(c)].At(5, 4) = 40.0 + c;
  }
  FillHoles(x, count);
  for (int c = 0; c < 3; ++c) {
    SCOPED_TRACE("channel " + std::to_string(c));
    const DoubleImage& plane = x.channels[static_cast<size_t>(c)];
    // (3, 3): both in its window.
    EXPECT_DOUBLE_EQ(plane.At(3, 3), (2.0 * (10.0 + c) + 1.0 * (40.0 + c)) / 3.0);
    // (2, 2): only (3, 1).
    EXPECT_DOUBLE_EQ(plane.At(2, 2), 10.0 + c);
    // (6, 4): only (5, 4).
    EXPECT_DOUBLE_EQ(plane.At(6, 4), 40.0 + c);
    // Observed pixels keep their value.
    EXPECT_EQ(plane.At(3, 1), 10.0 + c);
    EXPECT_EQ(plane.At(5, 4), 40.0 + c);
    // The two outermost rows and columns are not filled.
    for (int i = 0; i < 7; ++i) {
      for (int j = 0; j < 9; ++j) {
        const bool border = i < 2 || j < 2 || i > 4 || j > 6;
        if (border && count[i][j] == 0) {
          EXPECT_EQ(plane.At(j, i), 128.0) << j << "," << i;
        }
      }
    }
  }
}

TEST(FillHolesTest, LargeGridMatchesThePlainWeightedMean) {
  // Sparse random observations on a grid large enough for the threaded path.
  const int w = 101;
  const int h = 97;
  uint32_t state = 12345;
  auto next = [&]() {
    state = state * 1103515245u + 12345u;
    return static_cast<int>((state >> 16) & 0x7FFF);
  };
  ColorDoubleImage x;
  x.Create(w, h);
  CountImage count;
  count.Create(w, h);
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) {
      count[i][j] = next() % 7 == 0 ? 1 + next() % 3 : 0;
      for (auto& channel : x.channels) channel.At(j, i) = count[i][j] > 0 ? next() % 256 : 128.0;
    }
  }
  const ColorDoubleImage before = x;
  FillHoles(x, count);
  for (size_t c = 0; c < 3; ++c) {
    for (int i = 0; i < h; ++i) {
      for (int j = 0; j < w; ++j) {
        double expected = before.channels[c].At(j, i);
        if (count[i][j] == 0 && i >= 2 && j >= 2 && i < h - 2 && j < w - 2) {
          long double sum = 0.0L;
          long weight = 0;
          for (int r = i - 2; r <= i + 2; ++r) {
            for (int q = j - 2; q <= j + 2; ++q) {
              sum += static_cast<long double>(count[r][q]) * before.channels[c].At(q, r);
              weight += count[r][q];
            }
          }
          if (weight > 0) expected = static_cast<double>(sum / weight);
        }
        ASSERT_EQ(x.channels[c].At(j, i), expected) << "channel " << c << " pixel " << j << "," << i;
      }
    }
  }
}

TEST(FillHolesTest, AWindowWithoutSamplesKeepsTheEmptyValue) {
  ColorDoubleImage x;
  x.Create(12, 12);
  for (auto& channel : x.channels) channel.Fill(128.0);
  CountImage count;
  count.Create(12, 12);
  count.Fill(0);
  count[2][2] = 1;
  x.channels[0].At(2, 2) = 0.0;
  FillHoles(x, count);
  EXPECT_EQ(x.channels[0].At(4, 4), 0.0);    // reaches (2, 2)
  EXPECT_EQ(x.channels[0].At(5, 5), 128.0);  // empty window: no 0 / 0
  EXPECT_EQ(x.channels[0].At(9, 9), 128.0);
}

TEST(FillHolesTest, GridsOfHeightFourOrLessAreNotFilled) {
  ColorDoubleImage x;
  x.Create(9, 4);
  for (auto& channel : x.channels) channel.Fill(128.0);
  CountImage count;
  count.Create(9, 4);
  count.Fill(0);
  count[1][4] = 1;
  x.channels[0].At(4, 1) = 10.0;
  FillHoles(x, count);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 9; ++j) {
      if (i != 1 || j != 4) {
        EXPECT_EQ(x.channels[0].At(j, i), 128.0);
      }
    }
  }
}

}  // namespace
}  // namespace lumet
