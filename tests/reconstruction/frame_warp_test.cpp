#include "reconstruction/frame_warp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "reconstruction/hr_geometry.h"
#include "test_images.h"

namespace lumet {
namespace {

using testing::MakeFrame;
using testing::ShiftHomography;

TEST(FrameWarpTest, PixelsOutsideTheFrameAreZeroAndLeftOutOfTheMae) {
  // A frame of constant 100 in every channel, moved so that the right half of the HR grid
  // falls outside it.
  const ColorGrayImage frame = MakeFrame(20, 10, [](int, int, int) { return 100; });
  const RoiRect roi{10, 2, 20, 8};
  const HrGeometry grid = MakeHrGeometry(roi, 4.0);
  ColorDoubleImage layer0;
  WarpToHrGrid(frame, LrFormOnHrInput(IdentityHomography(), 4.0), grid, layer0);
  ColorDoubleImage layerK;
  WarpToHrGrid(frame, LrFormOnHrInput(ShiftHomography(5.0, 0.0), 4.0), grid, layerK);
  for (int c = 0; c < 3; ++c) {
    SCOPED_TRACE("channel " + std::to_string(c));
    const DoubleImage& plane = layerK.channels[static_cast<size_t>(c)];
    ASSERT_EQ(plane.Width(), 40);
    ASSERT_EQ(plane.Height(), 24);
    // HR column X maps to u = X / 4 + 5 - 10 (relative to the ROI): inside while u < 20.
    for (int x = 0; x < 40; ++x) EXPECT_EQ(plane.At(x, 5), x < 20 ? 100.0 : 0.0) << "column " << x;
  }
  // Inside, both layers agree; outside pixels do not count.
  EXPECT_EQ(FrameMae(layer0, layerK), 0.0);
}

TEST(FrameWarpTest, MaeIsTheMeanAbsoluteGreenDifferenceOverPositivePixels) {
  ColorDoubleImage layer0;
  ColorDoubleImage layerK;
  layer0.Create(3, 2);
  layerK.Create(3, 2);
  const double reference[2][3] = {{10, 20, 30}, {40, 50, 60}};
  const double warped[2][3] = {{12, 0, 27}, {40, 0, 70}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      for (int c = 0; c < 3; ++c) {
        // Other channels differ wildly: only green counts.
        layer0.channels[static_cast<size_t>(c)].At(x, y) = c == 1 ? reference[y][x] : 0.0;
        layerK.channels[static_cast<size_t>(c)].At(x, y) = c == 1 ? warped[y][x] : 999.0;
      }
    }
  }
  // Four positive pixels: |10-12| + |30-27| + |40-40| + |60-70| = 15.
  EXPECT_DOUBLE_EQ(FrameMae(layer0, layerK), 15.0 / 4.0);
  EXPECT_EQ(FrameMae(layer0, layer0), 0.0);

  ColorDoubleImage black;
  black.Create(3, 2);
  for (auto& channel : black.channels) channel.Fill(0.0);
  EXPECT_TRUE(std::isnan(FrameMae(layer0, black)));
}

// n distinct MAE values in a scrambled order, frame 0 having 0.
std::vector<double> ScrambledMae(int n) {
  std::vector<double> mae(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) mae[static_cast<size_t>(k)] = k == 0 ? 0.0 : 0.5 + ((k * 37) % n);
  return mae;
}

TEST(FrameSelectionTest, ThresholdIsTheElementAtNineTenthsOfTheSortedList) {
  struct Row {
    int n;
    int index;
    int fromTop;  // 1 = the largest MAE
  };
  const Row table[] = {{1, 0, 1}, {5, 4, 1}, {10, 9, 1}, {11, 9, 2}, {20, 18, 2}, {30, 27, 3}, {64, 57, 7}};
  for (const Row& row : table) {
    SCOPED_TRACE("N = " + std::to_string(row.n));
    const std::vector<double> mae = ScrambledMae(row.n);
    std::vector<double> sorted = mae;
    std::sort(sorted.begin(), sorted.end());
    const SelectionThreshold t = ComputeSelectionThreshold(mae);
    EXPECT_EQ(t.index, row.index);
    EXPECT_EQ(t.value, sorted[sorted.size() - static_cast<size_t>(row.fromTop)]);
  }
}

TEST(FrameSelectionTest, SelectionStopsAtTheFirstFrameAboveTheThreshold) {
  {
    SCOPED_TRACE("N = 10: nothing exceeds the largest");
    const std::vector<double> mae = ScrambledMae(10);
    EXPECT_EQ(SelectedFrameCount(mae, ComputeSelectionThreshold(mae).value), 10);
  }
  {
    SCOPED_TRACE("N = 20, largest at frame 7: frames 0..6");
    std::vector<double> mae(20, 0.0);
    for (int k = 1; k < 20; ++k) mae[static_cast<size_t>(k)] = 1.0 + 0.01 * k;
    mae[7] = 9.0;
    EXPECT_EQ(SelectedFrameCount(mae, ComputeSelectionThreshold(mae).value), 7);
  }
  {
    SCOPED_TRACE("a MAE equal to the threshold takes part");
    const std::vector<double> mae = {0.0, 2.0, 2.0, 1.0};
    EXPECT_EQ(SelectedFrameCount(mae, 2.0), 4);
    EXPECT_EQ(SelectedFrameCount(mae, 1.5), 1);
  }
}

TEST(FrameSelectionTest, NotANumberSortsLargestAndStopsTheSelection) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  {
    SCOPED_TRACE("N = 11 with one NaN: the threshold is the largest number");
    std::vector<double> mae = {0.0, 1.0, 2.0, nan, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 3.0};
    const SelectionThreshold t = ComputeSelectionThreshold(mae);
    EXPECT_EQ(t.index, 9);
    EXPECT_EQ(t.value, 9.0);
    EXPECT_EQ(SelectedFrameCount(mae, t.value), 3);
  }
  {
    SCOPED_TRACE("N = 2 with a NaN: the threshold is the NaN itself, frame 1 still left out");
    std::vector<double> mae = {0.0, nan};
    const SelectionThreshold t = ComputeSelectionThreshold(mae);
    EXPECT_EQ(t.index, 1);
    EXPECT_TRUE(std::isnan(t.value));
    EXPECT_EQ(SelectedFrameCount(mae, t.value), 1);
  }
  {
    SCOPED_TRACE("the reference frame takes part even with a NaN of its own");
    std::vector<double> mae = {nan, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0};
    const SelectionThreshold t = ComputeSelectionThreshold(mae);
    EXPECT_EQ(t.value, 10.0);
    EXPECT_EQ(SelectedFrameCount(mae, t.value), 11);
    EXPECT_EQ(SelectedFrameCount(mae, 0.5), 1);
  }
}

}  // namespace
}  // namespace lumet
