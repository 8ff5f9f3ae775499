#include "registration/feature_point.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "numeric/convolve.h"
#include "registration/derivative_kernels.h"
#include "test_images.h"

namespace lumet {
namespace {

GrayImage TwoSquares() {
  // Two identical bright squares side by side on a dark ground, far from the borders.
  return testing::MakeGray(80, 50, [](double x, double y) {
    const bool inY = y >= 15 && y < 33;
    const bool left = x >= 12 && x < 30;
    const bool right = x >= 48 && x < 66;
    return inY && (left || right) ? 200.0 : 40.0;
  });
}

TEST(DetectFeatures, FlatImageHasNoCorners) {
  const GrayImage flat = testing::MakeGray(30, 25, [](double, double) { return 90; });
  DoubleImage response;
  const auto features = DetectFeatures(flat, response, 1.5);
  EXPECT_TRUE(features.empty());
  ASSERT_EQ(response.Width(), 30);
  for (int y = 0; y < 25; ++y) {
    for (int x = 0; x < 30; ++x) EXPECT_NEAR(response.At(x, y), 0.0, 1e-12);
  }
}

TEST(DetectFeatures, ResponseMatchesThePlainHarrisMeasure) {
  const GrayImage image = TwoSquares();
  const double sigma = 1.0;
  DoubleImage response;
  DetectFeatures(image, response, sigma);

  const int n = DerivativeKernelSize(sigma);
  FloatMatrix g;
  FloatMatrix kx;
  FloatMatrix ky;
  BuildDerivativeKernels(sigma, n, g, kx, ky);
  DoubleImage ix;
  DoubleImage iy;
  ConvolveMirrorDirect(image, ix, kx, n);
  ConvolveMirrorDirect(image, iy, ky, n);
  DoubleImage pxx;
  DoubleImage pxy;
  DoubleImage pyy;
  for (DoubleImage* p : {&pxx, &pxy, &pyy}) p->Create(image.Width(), image.Height());
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      pxx.At(x, y) = ix.At(x, y) * ix.At(x, y);
      pxy.At(x, y) = ix.At(x, y) * iy.At(x, y);
      pyy.At(x, y) = iy.At(x, y) * iy.At(x, y);
    }
  }
  DoubleImage sxx;
  DoubleImage sxy;
  DoubleImage syy;
  SmoothInteriorDirect(pxx, sxx, g, n);
  SmoothInteriorDirect(pxy, sxy, g, n);
  SmoothInteriorDirect(pyy, syy, g, n);
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      const double t = sxx.At(x, y) + syy.At(x, y);
      const double expected = sxx.At(x, y) * syy.At(x, y) - sxy.At(x, y) * sxy.At(x, y) - 0.04 * (t * t);
      ASSERT_EQ(std::memcmp(&expected, &response.At(x, y), sizeof(double)), 0) << x << "," << y;
    }
  }
}

TEST(DetectFeatures, FindsSquareCornersStrongestFirstInScanOrderOnTies) {
  const GrayImage image = TwoSquares();
  DoubleImage response;
  const auto features = DetectFeatures(image, response, 1.0);
  ASSERT_GE(features.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE("point " + std::to_string(i));
    const FeaturePoint& p = features[i];
    // Every one of the eight strongest lies within two pixels of a square corner.
    bool nearCorner = false;
    for (double cx : {12.0, 29.0, 48.0, 65.0}) {
      for (double cy : {15.0, 32.0}) nearCorner = nearCorner || (std::fabs(p.x - cx) <= 2 && std::fabs(p.y - cy) <= 2);
    }
    EXPECT_TRUE(nearCorner) << p.x << "," << p.y;
    EXPECT_EQ(p.response,
              static_cast<double>(static_cast<float>(response.At(static_cast<int>(p.x), static_cast<int>(p.y)))));
  }
  for (size_t i = 1; i < features.size(); ++i) {
    ASSERT_GE(features[i - 1].response, features[i].response);
    if (features[i - 1].response == features[i].response) {
      // The two squares' matching corners tie; the one met first in the scan comes first.
      EXPECT_TRUE(features[i - 1].y < features[i].y ||
                  (features[i - 1].y == features[i].y && features[i - 1].x < features[i].x));
    }
  }
  EXPECT_EQ(features[0].response, features[1].response);
  EXPECT_LT(features[0].x, features[1].x);
}

TEST(DetectFeatures, PointsStayOutOfTheSmoothingBand) {
  const GrayImage noise = testing::NoiseImage(40, 32, 99);
  for (const double sigma : {1.5, 0.6}) {
    SCOPED_TRACE("sigma " + std::to_string(sigma));
    DoubleImage response;
    const auto features = DetectFeatures(noise, response, sigma);
    ASSERT_FALSE(features.empty());
    // h = 5 for sigma 1.5; for sigma 0.6 (h = 2) the suppression band of 3 is the stricter.
    const int band = sigma == 1.5 ? 5 : 3;
    for (const FeaturePoint& p : features) {
      EXPECT_GE(p.x, band);
      EXPECT_LE(p.x, 40 - band - 1);
      EXPECT_GE(p.y, band);
      EXPECT_LE(p.y, 32 - band - 1);
      EXPECT_GT(p.response, 0.0);
    }
  }
}

DoubleImage Plane(int w, int h, double value) {
  DoubleImage plane;
  plane.Create(w, h);
  plane.Fill(value);
  return plane;
}

TEST(SuppressNonMaxima, KeepsFirstStrictMaximumOfTheAsymmetricWindow) {
  struct Case {
    const char* name;
    int x1, y1;
    double v1;
    int x2, y2;
    double v2;
    bool keep1, keep2;
  };
  const Case cases[] = {
      {"equal side by side: left survives", 7, 7, 1.0, 8, 7, 1.0, true, false},
      {"equal stacked: upper survives", 7, 7, 1.0, 7, 8, 1.0, true, false},
      {"weaker three left of stronger survives", 4, 7, 0.5, 7, 7, 1.0, true, true},
      {"weaker three above stronger survives", 7, 4, 0.5, 7, 7, 1.0, true, true},
      {"weaker three right of stronger is suppressed", 10, 7, 0.5, 7, 7, 1.0, false, true},
      {"weaker three below stronger is suppressed", 7, 10, 0.5, 7, 7, 1.0, false, true},
      {"weaker two left of stronger is suppressed", 5, 7, 0.5, 7, 7, 1.0, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DoubleImage r = Plane(16, 16, 0.0);
    r.At(c.x1, c.y1) = c.v1;
    r.At(c.x2, c.y2) = c.v2;
    DoubleImage s;
    SuppressNonMaxima(r, s, 6);
    EXPECT_EQ(s.At(c.x1, c.y1), c.keep1 ? c.v1 : 0.0);
    EXPECT_EQ(s.At(c.x2, c.y2), c.keep2 ? c.v2 : 0.0);
  }
}

TEST(SuppressNonMaxima, NegativeAndBandPixelsNeverSurvive) {
  DoubleImage r = Plane(12, 12, -2.0);
  r.At(6, 6) = -1.0;  // a local maximum, but an edge, not a corner
  r.At(2, 6) = 5.0;   // inside the three-pixel band
  r.At(6, 9) = 4.0;   // last row of centres is H - 4 = 8
  DoubleImage s;
  SuppressNonMaxima(r, s, 6);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 12; ++x) EXPECT_EQ(s.At(x, y), 0.0) << x << "," << y;
  }
}

std::vector<FeaturePoint> Points(std::initializer_list<std::pair<float, float>> xy) {
  std::vector<FeaturePoint> points;
  double response = 100.0;
  for (const auto& [x, y] : xy) points.push_back(FeaturePoint{x, y, response--});
  return points;
}

TEST(SelectNearRoi, KeepsPointsWithinTheMarginAllComparisonsStrict) {
  const RoiRect roi{300, 300, 340, 340};
  const auto features = Points({{101, 320},       // left - 199: in
                                {100, 320},       // left - 200: out
                                {539, 320},       // right + 199: in
                                {540, 320},       // right + 200: out
                                {320, 101},       // top - 199: in
                                {320, 100},       // top - 200: out
                                {320, 539},       // bottom + 199: in
                                {320, 540},       // bottom + 200: out
                                {100.9f, 320}});  // truncated to 100: out
  const auto selected = SelectNearRoi(features, kSelectionLimit, roi);
  ASSERT_EQ(selected.size(), 4u);
  EXPECT_EQ(selected[0].x, 101);
  EXPECT_EQ(selected[1].x, 539);
  EXPECT_EQ(selected[2].y, 101);
  EXPECT_EQ(selected[3].y, 539);
}

TEST(SelectNearRoi, ExaminesOnlyTheFirstLimitEntries) {
  const RoiRect roi{10, 10, 20, 20};
  std::vector<FeaturePoint> features;
  for (int i = 0; i < 60; ++i) {
    const float x = i < 50 ? 1000.0f : 15.0f;  // only numbers 51 to 60 lie near the ROI
    features.push_back(FeaturePoint{x, 15.0f, 100.0 - i});
  }
  EXPECT_TRUE(SelectNearRoi(features, 50, roi).empty());
  for (auto& f : features) f.x = 15.0f;
  const auto all = SelectNearRoi(features, 50, roi);
  ASSERT_EQ(all.size(), 50u);
  EXPECT_EQ(all.back().response, features[49].response);
}

}  // namespace
}  // namespace lumet
