#include "reconstruction/hr_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

#include "numeric/projection.h"
#include "reconstruction/frame_warp.h"
#include "reconstruction/homography_reader.h"
#include "test_images.h"
#include "util/error.h"

namespace lumet {
namespace {

using testing::MakeFrame;
using testing::ScratchFolder;

TEST(HrGeometryTest, GridIsTheRoiTimesTheScaleWithTheOriginAtItsCorner) {
  {
    SCOPED_TRACE("init params ROI at x4");
    const HrGeometry g = MakeHrGeometry(RoiRect{160, 100, 200, 140}, 4.0);
    EXPECT_EQ(g.width, 160);
    EXPECT_EQ(g.height, 160);
    EXPECT_EQ(g.x0, 640);
    EXPECT_EQ(g.y0, 400);
    EXPECT_EQ(g.q, 4);
  }
  {
    SCOPED_TRACE("non-square ROI at x3");
    const HrGeometry g = MakeHrGeometry(RoiRect{1, 2, 8, 7}, 3.0);
    EXPECT_EQ(g.width, 21);
    EXPECT_EQ(g.height, 15);
    EXPECT_EQ(g.x0, 3);
    EXPECT_EQ(g.y0, 6);
    EXPECT_EQ(g.q, 3);
  }
}

// A homography with every entry in use, projective row included.
Matrix GeneralHomography() {
  Matrix h(3, 3, 0.0);
  h.At1(1, 1) = 1.01;
  h.At1(1, 2) = 0.02;
  h.At1(1, 3) = 0.004;
  h.At1(2, 1) = -0.015;
  h.At1(2, 2) = 0.99;
  h.At1(2, 3) = -0.003;
  h.At1(3, 1) = 1e-5;
  h.At1(3, 2) = -2e-5;
  h.At1(3, 3) = 1.0;
  return h;
}

TEST(HrGeometryTest, LrAndHrFormsProjectHrPositionsThroughTheReferenceGrid) {
  const Matrix h = GeneralHomography();
  for (double s : {3.0, 4.0}) {
    const Matrix a = LrFormOnHrInput(h, s);
    const Matrix b = HrForm(h, s);
    SCOPED_TRACE("scale " + std::to_string(s));
    EXPECT_EQ(a.At1(1, 3), h.At1(1, 3));
    EXPECT_EQ(a.At1(2, 3), h.At1(2, 3));
    EXPECT_EQ(a.At1(3, 3), 1.0);
    for (double x : {0.0, 17.0, 640.0, 1203.0}) {
      for (double y : {0.0, 9.0, 400.0, 955.0}) {
        const ProjectedPoint lr = ProjectPoint(h, x / s, y / s);
        const ProjectedPoint pa = ProjectPoint(a, x, y);
        const ProjectedPoint pb = ProjectPoint(b, x, y);
        EXPECT_NEAR(pa.u, lr.u, 1e-9 * (1.0 + std::fabs(lr.u)));
        EXPECT_NEAR(pa.v, lr.v, 1e-9 * (1.0 + std::fabs(lr.v)));
        EXPECT_NEAR(pb.u, s * lr.u, 1e-9 * (1.0 + std::fabs(s * lr.u)));
        EXPECT_NEAR(pb.v, s * lr.v, 1e-9 * (1.0 + std::fabs(s * lr.v)));
      }
    }
  }
}

TEST(HrGeometryTest, HrPixelZeroOfFrameZeroSamplesTheRoiCornerExactly) {
  // Distinct values everywhere, so a position off by a fraction would show.
  const ColorGrayImage frame = MakeFrame(420, 300, [](int c, int x, int y) { return (x * 7 + y * 13 + c * 50) % 251; });
  for (double s : {3.0, 4.0}) {
    for (const RoiRect roi :
         {RoiRect{0, 0, 2, 2}, RoiRect{7, 5, 9, 7}, RoiRect{160, 100, 162, 102}, RoiRect{401, 283, 403, 285}}) {
      SCOPED_TRACE("scale " + std::to_string(s) + " roi at " + std::to_string(roi.left) + "," +
                   std::to_string(roi.top));
      const HrGeometry grid = MakeHrGeometry(roi, s);
      const Matrix a = LrFormOnHrInput(IdentityHomography(), s);
      const ProjectedPoint p = ProjectPoint(a, grid.x0, grid.y0);
      EXPECT_EQ(p.u, roi.left);
      EXPECT_EQ(p.v, roi.top);
      ColorDoubleImage layer;
      WarpToHrGrid(frame, a, grid, layer);
      for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(layer.channels[static_cast<size_t>(c)].At(0, 0),
                  frame.channels[static_cast<size_t>(c)][roi.top][roi.left]);
        // One LR pixel further along both axes is s HR pixels further.
        EXPECT_EQ(layer.channels[static_cast<size_t>(c)].At(static_cast<int>(s), static_cast<int>(s)),
                  frame.channels[static_cast<size_t>(c)][roi.top + 1][roi.left + 1]);
      }
    }
  }
}

TEST(HomographyReaderTest, ReadsEightWhitespaceSeparatedNumbersAndSetsH33) {
  ScratchFolder folder("homreader");
  struct Case {
    const char* name;
    const char* text;
  };
  const Case cases[] = {
      {"as registration writes it", "1 0 0.005 0 1 -0.00333333 0 0\n"},
      {"tabs and carriage returns", "1\t0\t0.005\r\n0 1 -0.00333333\r\n0\t0\r\n"},
      {"a ninth value is ignored", "1 0 0.005 0 1 -0.00333333 0 0 7\n"},
      {"no final line end", "  1 0 5e-3 0 1 -3.33333e-3 0 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder.File("hom.txt");
    std::ofstream(path, std::ios::binary) << c.text;
    const Matrix h = ReadHomographyFile(path);
    ASSERT_EQ(h.Rows(), 3);
    ASSERT_EQ(h.Cols(), 3);
    EXPECT_EQ(h.At1(1, 1), 1.0);
    EXPECT_EQ(h.At1(1, 2), 0.0);
    EXPECT_EQ(h.At1(1, 3), 0.005);
    EXPECT_EQ(h.At1(2, 1), 0.0);
    EXPECT_EQ(h.At1(2, 2), 1.0);
    EXPECT_EQ(h.At1(2, 3), -0.00333333);
    EXPECT_EQ(h.At1(3, 1), 0.0);
    EXPECT_EQ(h.At1(3, 2), 0.0);
    EXPECT_EQ(h.At1(3, 3), 1.0);
  }
}

TEST(HomographyReaderTest, MissingOrShortFilesAreErrorsNamingTheFile) {
  ScratchFolder folder("homreader_bad");
  const std::string missing = folder.File("hr_hom-4.txt");
  try {
    ReadHomographyFile(missing);
    FAIL() << "a missing file was accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }
  const char* bad[] = {"", "1 0 0 0 1 0 0\n", "1 0 0 0 1 0 zero 0\n"};
  for (const char* text : bad) {
    SCOPED_TRACE(std::string("content \"") + text + "\"");
    const std::string path = folder.File("short.txt");
    std::ofstream(path, std::ios::binary) << text;
    try {
      ReadHomographyFile(path);
      FAIL() << "accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace lumet
