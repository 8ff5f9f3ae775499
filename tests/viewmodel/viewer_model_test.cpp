// The viewer model and its one renderer, which both front ends draw with.
#include "viewmodel/viewer_model.h"

#include <gtest/gtest.h>

#include <string>

namespace lumet {
namespace {

constexpr uint32_t kGrey = 90u | (90u << 8) | (90u << 16);
constexpr uint32_t kWhite = 0xFFFFFFu;

DibRaster Filled(int width, int height, uint32_t color) {
  DibRaster raster(0);
  raster.Create(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 24, 1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) raster.SetPixelColor(x, y, color);
  }
  return raster;
}

// The colour at (x, y) with row 0 at the top, as the marks are given.
uint32_t At(const DibRaster& raster, int x, int y) { return raster.GetPixelColor(x, raster.Height() - 1 - y); }

int CountColor(const DibRaster& raster, uint32_t color) {
  int n = 0;
  for (int y = 0; y < raster.Height(); ++y) {
    for (int x = 0; x < raster.Width(); ++x) n += raster.GetPixelColor(x, y) == color ? 1 : 0;
  }
  return n;
}

TEST(ViewerModelTest, TheModeDecidesWhatIsDrawnOverThePicture) {
  ViewerModel model;
  model.ShowPicture(Filled(20, 12, kGrey));
  model.roi = RoiRect{2, 3, 8, 7};  // a 6 x 4 outline: 16 pixels
  {
    SCOPED_TRACE("ROI selection: the outline, top left corner at (2, 3), right and bottom exclusive");
    const DibRaster out = RenderViewer(model);
    EXPECT_EQ(CountColor(out, kRoiColor), 16);
    EXPECT_EQ(At(out, 2, 3), kRoiColor);
    EXPECT_EQ(At(out, 7, 6), kRoiColor);
    EXPECT_EQ(At(out, 8, 7), kGrey);
    EXPECT_EQ(At(out, 4, 5), kGrey);  // inside stays
  }
  {
    SCOPED_TRACE("display: the picture alone; another ROI given overrides the model's");
    model.mode = kModeDisplay;
    EXPECT_EQ(CountColor(RenderViewer(model), kRoiColor), 0);
    model.mode = kModeRoiSelection;
    const RoiRect other{0, 0, 2, 2};
    EXPECT_EQ(CountColor(RenderViewer(model, &other, false), kRoiColor), 4);
    EXPECT_EQ(CountColor(RenderViewer(model, nullptr, false), kRoiColor), 0);
  }
  {
    SCOPED_TRACE("comparison: the comparison picture while hovering, the picture otherwise");
    model.mode = kModeComparison;
    model.comparePicture = Filled(20, 12, kWhite);
    EXPECT_EQ(CountColor(RenderViewer(model, true), kWhite), 240);
    EXPECT_EQ(CountColor(RenderViewer(model, false), kGrey), 240);
  }
  EXPECT_TRUE(RenderViewer(ViewerModel{}).Empty());  // nothing to show
}

TEST(ViewerModelTest, MarksAreDrawnInOrderAndGoWithThePicture) {
  ViewerModel model;
  model.mode = kModeDisplay;
  model.ShowPicture(Filled(16, 16, kGrey));
  model.AddSquares({MarkPoint{5, 5}, MarkPoint{0, 0}});  // a 3 x 3 ring; the second clipped at the corner
  model.AddLines({MarkLine{5, 5, 12, 5}});              // over the square's centre row, its end left out
  const DibRaster out = RenderViewer(model);
  EXPECT_EQ(At(out, 4, 4), kSquareColor);
  EXPECT_EQ(At(out, 6, 6), kSquareColor);
  EXPECT_EQ(At(out, 1, 1), kSquareColor);
  EXPECT_EQ(At(out, 4, 5), kSquareColor);
  EXPECT_EQ(At(out, 6, 5), kLineColor);  // the lines come after the squares
  EXPECT_EQ(At(out, 11, 5), kLineColor);
  EXPECT_EQ(At(out, 12, 5), kGrey);
  EXPECT_EQ(CountColor(out, kSquareColor), 8 - 1 + 3);  // ring less the pixel the line covers, corner ring
  // A new picture starts without the old one's marks.
  model.ShowPicture(Filled(16, 16, kGrey));
  EXPECT_TRUE(model.squares.empty());
  EXPECT_TRUE(model.lines.empty());
  EXPECT_EQ(CountColor(RenderViewer(model), kGrey), 256);
}

TEST(ViewerModelTest, OutlinesAndLinesClipToTheRasterAndSwappedCornersNormalise) {
  DibRaster raster = Filled(10, 10, kGrey);
  DrawRectOutline(raster, 8, 8, 2, 2, kWhite);  // swapped
  EXPECT_EQ(CountColor(raster, kWhite), 20);
  DibRaster far = Filled(10, 10, kGrey);
  DrawRectOutline(far, -2000000000, -5, 2000000000, 5, kWhite);  // only the bottom edge and nothing else visible
  EXPECT_EQ(CountColor(far, kWhite), 10);
  DrawLine(far, MarkLine{-5, 9, 20, 9}, kWhite);
  EXPECT_EQ(CountColor(far, kWhite), 20);
  DibRaster empty = Filled(4, 4, kGrey);
  DrawRectOutline(empty, 1, 1, 1, 3, kWhite);  // no width
  EXPECT_EQ(CountColor(empty, kWhite), 0);
}

TEST(ViewerModelTest, ViewersStartSideBySide) {
  const ScreenRect reference = StartingRect(Viewer::Reference);
  const ScreenRect frame = StartingRect(Viewer::Frame);
  EXPECT_EQ(reference.left, 0);
  EXPECT_EQ(frame.left, reference.right);
  EXPECT_EQ(frame.top, reference.top);
}

}  // namespace
}  // namespace lumet
