#include <algorithm>
#include <string>
#include <vector>

#include "numeric/projection.h"
#include "raster/dib_raster.h"
#include "params/param_description.h"
#include "registration/block_matching.h"
#include "registration/derivative_kernels.h"
#include "registration/feature_point.h"
#include "registration/homography_refinement.h"
#include "registration/homography_search.h"
#include "registration/search_sizes.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "util/text_format.h"
#include "workbench/enhanced_registration.h"
#include "workbench/frame_source.h"
#include "workbench/workbench.h"

namespace lumet {

namespace {

std::string SizeText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

// What the frame loop needs of frame 0, refused before the first frame is read (the values
// alone passed CheckParams already).
void CheckRegistrationParams(const ParamSet& p, int refWidth, int refHeight) {
  CheckRoiInsideFrame(p.roi, refWidth, refHeight);
  // The reference frame's filters use sigma rounded to single precision, the LR frames'
  // sigma itself; the two kernels can differ in size.
  for (const double sigma : {p.filterSigma, static_cast<double>(static_cast<float>(p.filterSigma))}) {
    const int n = DerivativeKernelSize(sigma);
    if (n > refWidth || n > refHeight) {
      throw Error("the reference frame " + p.referenceFile + " of " + SizeText(refWidth, refHeight) +
                  " pixels is smaller than the " + SizeText(n, n) + " derivative filter of filter sigma " +
                  FormatG6(p.filterSigma));
    }
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

// Why frame k got no homography search, and which options change it: one log line.
std::string FallbackWarning(int k, const ParamSet& p, int width, int height, size_t refPoints, size_t framePoints,
                            size_t pairs) {
  const int block = 2 * p.sadSize + 1;
  std::string why;
  std::string remedy;
  if (block > width || block > height) {
    why = Format("the %d x %d matching block (--sad-size %d) does not fit the %d x %d frame", block, block, p.sadSize,
                 width, height);
    remedy = Format("a --sad-size below %d lets it fit", (std::min(width, height) + 1) / 2);
  } else if (p.ransacSecond <= static_cast<int>(pairs)) {
    why = Format("the RANSAC sample of %d pairs (--ransac %d/%d) is below the %d a search needs", p.ransacFirst,
                 p.ransacFirst, p.ransacSecond, kMinSampleSize);
    remedy = Format("--ransac %d/%d or more runs it", kMinSampleSize, std::max(p.ransacSecond, kMinSampleSize));
  } else {
    why = Format("only %zu corner points paired (%zu near the ROI in frame 0, %zu in frame %d; a search needs %d)", pairs,
                 refPoints, framePoints, k, kMinSampleSize + 5);
    remedy = "more pair up with a smaller --sad-size, a larger --search-area or a --roi over more texture";
  }
  return Format("Warning: frame %d: no homography search, the refinement starts from the identity: %s; %s\r\n", k,
                why.c_str(), remedy.c_str());
}

}  // namespace

void Workbench::Registration(UiPort& ui) {
  CheckParams(params);
  // One source for frame 0 and the frames after it, so that each is decoded once.
  FrameSource source(params.lrPattern, params.startIndex);
  ShowReferenceFrom(source, ui);
  // A copy: nothing the viewers do while the command runs may change its parameters.
  const ParamSet p = params;
  CheckRegistrationParams(p, refWidth, refHeight);
  // Frames 1 .. N, and with them everything the reconstruction will read, are checked
  // before any work starts; each is decoded once and kept for the loop.
  if (p.lrCount > 0) {
    source.CheckFrames(1, p.lrCount + 1, refWidth, refHeight,
                       [&](int found) { return RegistrationShortage(source, p.lrCount, found); });
  }

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

    const std::string name = source.Name(k);
    source.Read(k, frameImage);
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
    } else {
      ui.AppendLog(FallbackWarning(k, p, refWidth, refHeight, refPoints.size(), points.size(), pairs.a.size()));
    }
    std::string refinementLog;
    const double e2 = RefineHomography(refGreen, frameGreen, h, p.roi, kRefinementIterations, refinementLog);
    WriteFileAtomically(kRefinementLogPath, refinementLog);
    const double e2Final =
        p.method == kEnhancedMethod ? RefineDirectly(refGreen, frameGreen, h, e1, e2, k, p, ui) : e2;

    ui.AppendLog(FormatMaeLine(k, e1, e2Final));
    const std::string homographyPath = FormatFrameName(p.homographyPattern, k);
    WriteHomographyFile(homographyPath, h);
    filesWritten.push_back(homographyPath);
  }
  if (p.lrCount > 0) filesWritten.push_back(kRefinementLogPath);
}

}  // namespace lumet
