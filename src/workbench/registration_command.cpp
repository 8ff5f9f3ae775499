#include <cmath>
#include <string>
#include <vector>

#include "imageio/bmp_file.h"
#include "imageio/homography_file.h"
#include "numeric/projection.h"
#include "raster/dib_raster.h"
#include "registration/block_matching.h"
#include "registration/feature_point.h"
#include "registration/homography_refinement.h"
#include "registration/homography_search.h"
#include "registration/search_sizes.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "util/text_format.h"
#include "workbench/workbench.h"

namespace lumet {

namespace {

std::string RoiText(const RoiRect& roi) {
  return "(" + std::to_string(roi.left) + ", " + std::to_string(roi.top) + ", " + std::to_string(roi.right) + ", " +
         std::to_string(roi.bottom) + ")";
}

std::string SizeText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

// Everything the frame loop relies on, refused before the first frame is read.
void CheckRegistrationParams(const ParamSet& p, int refWidth, int refHeight) {
  const RoiRect& roi = p.roi;
  if (roi.Width() <= 0 || roi.Height() <= 0) {
    throw Error("the ROI " + RoiText(roi) + " has no pixels (width " + std::to_string(roi.Width()) + ", height " +
                std::to_string(roi.Height()) + ")");
  }
  if (roi.left < 0 || roi.top < 0 || roi.right > refWidth || roi.bottom > refHeight) {
    throw Error("the ROI " + RoiText(roi) + " does not lie inside the reference frame " + p.referenceFile + " of " +
                SizeText(refWidth, refHeight) + " pixels");
  }
  if (!(p.filterSigma > 0.0) || !std::isfinite(p.filterSigma)) {
    throw Error("filter sigma " + FormatG6(p.filterSigma) + " is not a positive number");
  }
  // The kernel size is worked out in double so that a huge sigma cannot overflow it. The
  // reference frame's filters use sigma rounded to single precision (checked second, once
  // sigma is known to be small), the LR frames' sigma itself.
  const auto checkKernel = [&](double sigma) {
    double n = std::ceil(6.0 * sigma) + 1.0;
    if (std::fmod(n, 2.0) == 0.0) n += 1.0;
    if (n > refWidth || n > refHeight) {
      throw Error("the reference frame " + p.referenceFile + " of " + SizeText(refWidth, refHeight) +
                  " pixels is smaller than the " + FormatG6(n) + " x " + FormatG6(n) +
                  " derivative filter of filter sigma " + FormatG6(p.filterSigma));
    }
  };
  checkKernel(p.filterSigma);
  checkKernel(static_cast<float>(p.filterSigma));
  // Above 30 pairs the pool always falls back to the pairs found; at or below, a sample
  // larger than its pool cannot be drawn.
  if (p.ransacSecond <= kMaxPairs && p.ransacFirst > p.ransacSecond) {
    throw Error("RANSAC sample size " + std::to_string(p.ransacFirst) + " is greater than the pool size " +
                std::to_string(p.ransacSecond));
  }
}

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

}  // namespace

void Workbench::Registration(UiPort& ui) {
  ShowReference(ui);
  // A copy: nothing the viewers do while the command runs may change its parameters.
  const ParamSet p = params;
  CheckRegistrationParams(p, refWidth, refHeight);

  if (!ui.ViewerExists(Viewer::Frame)) ui.CreateViewer(Viewer::Frame, "LR frames", ScreenRect{300, 0, 300, 300});
  ui.FitViewer(Viewer::Frame, refWidth, refHeight);

  const GrayImage& refGreen = referenceImage.channels[1];
  DoubleImage response;
  // The reference frame's filters are built from sigma rounded to single precision, the
  // LR frames' from sigma itself; the two kernels can differ in their last bit.
  const std::vector<FeaturePoint> refFeatures =
      DetectFeatures(refGreen, response, static_cast<float>(p.filterSigma), kHarrisConstant, kSuppressionWindow);
  const std::vector<FeaturePoint> refPoints = SelectNearRoi(refFeatures, kSelectionLimit, p.roi);
  ui.DrawSquares(Viewer::Reference, Squares(refPoints));

  ColorGrayImage frameImage;
  for (int i = 0; i < p.lrCount; ++i) {
    const int k = p.firstFrame + i;
    CheckCancel(ui);
    ui.ReportProgress("Registration", i + 1, p.lrCount);

    const std::string name = FormatFrameName(p.lrPattern, k);
    BmpFile::ReadFrame(name, frameImage);
    if (frameImage.Width() != refWidth || frameImage.Height() != refHeight) {
      throw Error("frame " + name + " is " + SizeText(frameImage.Width(), frameImage.Height()) +
                  " pixels, but the reference frame " + p.referenceFile + " is " + SizeText(refWidth, refHeight));
    }
    DibRaster picture(0);
    ImageToRaster(frameImage, picture);
    ui.ShowPicture(Viewer::Frame, picture);
    ui.SetViewerTitle(Viewer::Frame, name);
    ui.AttachRoi(Viewer::Frame, p.roi);

    const GrayImage& frameGreen = frameImage.channels[1];
    const std::vector<FeaturePoint> features =
        DetectFeatures(frameGreen, response, p.filterSigma, kHarrisConstant, kSuppressionWindow);
    const std::vector<FeaturePoint> points = SelectNearRoi(features, kSelectionLimit, p.roi);
    ui.DrawSquares(Viewer::Frame, Squares(points));

    const MatchedPairs pairs = MatchBlocks(refGreen, frameGreen, refPoints, points, p.sadSize, p.searchArea);
    ui.DrawLines(Viewer::Reference, Lines(pairs));

    // A skipped search, or one that accepts no trial, leaves the identity to refine.
    const SearchSizes sizes = ChooseSearchSizes(p.ransacFirst, p.ransacSecond, static_cast<int>(pairs.a.size()));
    Matrix h = IdentityHomography();
    double e1 = kTooFewPairs;
    if (sizes.Searchable()) {
      e1 = EstimateHomography(refGreen, frameGreen, pairs.a, pairs.b, h, sizes.sampleSize, kSearchTrials,
                              sizes.poolSize, p.roi, random);
    }
    std::string refinementLog;
    const double e2 = RefineHomography(refGreen, frameGreen, h, p.roi, kRefinementIterations, refinementLog);
    WriteFileAtomically(kRefinementLogPath, refinementLog);

    ui.AppendLog(FormatMaeLine(k, e1, e2));
    WriteHomographyFile(FormatFrameName(p.homographyPattern, k), h);
  }
}

std::string FormatMaeLine(int k, double e1, double e2) {
  return "MAE(" + std::to_string(k) + ") = " + FormatG6(e1) + "->" + FormatG6(e2) + "\r\n" + "\n";
}

}  // namespace lumet
