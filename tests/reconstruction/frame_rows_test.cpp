// Frames held only in the rows a reconstruction reads give every method the bits whole
// frames give.
#include "reconstruction/frame_rows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "numeric/projection.h"
#include "reconstruction/frame_warp.h"
#include "reconstruction/reconstruction_method.h"
#include "support/test_images.h"

namespace lumet {
namespace {

// A homography given on pixel coordinates (u, v, w) = P (x, y, 1), in the units the
// methods take (projection.h).
Matrix FileUnits(const double p[9]) {
  Matrix m = IdentityHomography();
  const double unit[9] = {1, 1, 1 / HomographyUnit, 1, 1, 1 / HomographyUnit, HomographyUnit, HomographyUnit, 1};
  for (int i = 0; i < 9; ++i) m.At1(i / 3 + 1, i % 3 + 1) = p[i] * unit[i];
  return m;
}

class RecordingObserver final : public ReconstructionObserver {
 public:
  void Log(const std::string& line) override { logs.push_back(line); }
  void Progress(int, int, int, int) override {}
  bool WantsPictures() const override { return false; }
  void Picture(const ColorDoubleImage&) override {}
  void Warn(int, const std::string&, const std::string&, const std::string&) override {}
  void Outcome(const ReconstructionOutcome&) override {}
  std::vector<std::string> logs;
};

void ExpectSameBits(const DoubleImage& a, const DoubleImage& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  for (int y = 0; y < a.Height(); ++y) {
    ASSERT_EQ(std::memcmp(a.Row(y), b.Row(y), sizeof(double) * static_cast<size_t>(a.Width())), 0) << "row " << y;
  }
}

// Tall frames of a smooth scene seen through a shift, a rotation, a shear and a slight
// perspective; the ROI is a band in the middle, so most rows are never read.
class FrameRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const double forms[][9] = {{1, 0, 0, 0, 1, 0, 0, 0, 1},
                               {1, 0, 0.4, 0, 1, -0.7, 0, 0, 1},
                               {0.995, -0.1, 3.2, 0.1, 0.995, -2.1, 0, 0, 1},
                               {1.02, 0.03, -1.3, -0.02, 0.98, 1.6, 0, 0, 1},
                               {1, 0.01, 0.5, 0.005, 1.01, 0.9, 0.0004, -0.0003, 1},
                               {1, 0, -0.33, 0, 1, 0.25, 0, 0, 1}};
    for (const double* p : forms) {
      const Matrix h = FileUnits(p);
      // The frame's pixel (u, v) sees the scene where the inverse map takes it.
      const Matrix back = Inverse(h);
      whole_.frames.push_back(testing::MakeColor(44, 120, [&](int c, int u, int v) {
        const ProjectedPoint q = ProjectPoint(back, u, v);
        return testing::BlobScene(q.u + 40 * c, q.v + 10 * c);
      }));
      whole_.homographies.push_back(h);
      whole_.frameErrors.push_back(0.0);
    }
  }

  ReconstructionOptions Options(Method method) const {
    ReconstructionOptions o;
    o.method = method;
    o.roi = RoiRect{12, 50, 32, 70};
    o.scale = 3.0;
    o.psfSigma = 0.6;
    if (method == Method::Enhanced) o.values["iterations"] = 6;
    return o;
  }

  // The input with every frame cut to the rows the method reads.
  ReconstructionInput Banded(const ReconstructionOptions& options) const {
    ReconstructionInput banded = whole_;
    banded.grid = options.Grid();
    const HrGeometry read = ReconstructionMethodFor(options.method).GridRead(options, banded.grid);
    for (size_t k = 0; k < banded.frames.size(); ++k) KeepRowsUnderGrid(banded.frames[k], banded.homographies[k], read);
    return banded;
  }

  ReconstructionInput whole_;
};

TEST_F(FrameRowsTest, EveryMethodAndTheFrameErrorsGiveTheBitsOfWholeFrames) {
  for (const Method method : {Method::Classic, Method::Enhanced}) {
    SCOPED_TRACE(method == Method::Classic ? "classic" : "enhanced");
    const ReconstructionOptions options = Options(method);
    ReconstructionInput whole = whole_;
    whole.grid = options.Grid();
    ReconstructionInput banded = Banded(options);
    for (const ColorGrayImage& frame : banded.frames) {
      EXPECT_LT(frame.channels[1].HeldRows(), 60);  // a band of the 120 rows
      EXPECT_EQ(frame.Height(), 120);
    }
    for (size_t k = 0; k < whole.frames.size(); ++k) {
      SCOPED_TRACE(k);
      DoubleImage a;
      DoubleImage b;
      const Matrix form = LrFormOnHrInput(whole.homographies[k], whole.grid.scale);
      WarpToHrGrid(whole.frames[k].channels[1], form, whole.grid, a);
      WarpToHrGrid(banded.frames[k].channels[1], form, whole.grid, b);
      ExpectSameBits(a, b);
    }
    const ReconstructionMethod& m = ReconstructionMethodFor(method);
    RecordingObserver wholeLog;
    RecordingObserver bandedLog;
    ColorDoubleImage fromWhole;
    ColorDoubleImage fromBanded;
    m.Reconstruct(whole, options, wholeLog, fromWhole);
    m.Reconstruct(banded, options, bandedLog, fromBanded);
    for (size_t c = 0; c < 3; ++c) ExpectSameBits(fromWhole.channels[c], fromBanded.channels[c]);
    EXPECT_EQ(wholeLog.logs, bandedLog.logs);
  }
}

TEST_F(FrameRowsTest, TheBandCoversTheOutlineWithItsMarginAndFallsBackToEveryRow) {
  HrGeometry grid = Options(Method::Classic).Grid();
  // The identity: rows 50 .. 69 under the grid, one HR pixel and four rows more each side.
  RowBand band = RowsUnderGrid(IdentityHomography(), grid, 120);
  EXPECT_EQ(band.first, 45);
  EXPECT_EQ(band.first + band.count - 1, 74);
  // Clipped to the frame.
  EXPECT_EQ(RowsUnderGrid(IdentityHomography(), grid, 60).count, 60 - 45);
  // A perspective whose horizon runs through the outline: every row.
  const double horizon[9] = {1, 0, 0, 0, 1, 0, 0, -1.0 / 60, 1};
  band = RowsUnderGrid(FileUnits(horizon), grid, 120);
  EXPECT_EQ(band.first, 0);
  EXPECT_EQ(band.count, 120);
  // Far below the frame: one row, nothing sampled there.
  const double away[9] = {1, 0, 0, 0, 1, 500, 0, 0, 1};
  EXPECT_EQ(RowsUnderGrid(FileUnits(away), grid, 120).count, 1);
  EXPECT_EQ(BytesUnderGrid(IdentityHomography(), grid, 44, 120), 3u * 44u * 30u);
}

}  // namespace
}  // namespace lumet
