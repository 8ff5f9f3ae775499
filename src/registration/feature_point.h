#pragma once

#include <vector>

#include "numeric/image_plane.h"
#include "numeric/roi_rect.h"

namespace lumet {

// One detected corner: integer-valued position and its response after suppression,
// rounded to single precision and widened back.
struct FeaturePoint {
  float x = 0.0f, y = 0.0f;
  double response = 0.0;
};

// Constants of the corner detector and of the selection near the ROI.
inline constexpr double kHarrisConstant = 0.04;
inline constexpr int kSuppressionWindow = 6;
inline constexpr int kSelectionLimit = 50;
inline constexpr int kRoiMargin = 200;

// Harris corners of one 8-bit channel. response is re-created at the channel's size and
// keeps the corner response Sxx Syy - Sxy^2 - k (Sxx + Syy)^2 of the Gaussian-smoothed
// structure tensor (0 in the band of radius h where the smoothing is undefined). The
// result lists the pixels of rows and columns 1 .. size - 2 that survive SuppressNonMaxima
// with a positive response, strongest first; points of equal response keep their
// row-by-row scan order. The channel must be at least DerivativeKernelSize(sigma) / 2 + 1
// pixels each way (lumet::Error otherwise). Beside the response it holds a strip of rows of
// its filters at a time, not whole planes (a frame is registered on every thread at once).
std::vector<FeaturePoint> DetectFeatures(const GrayImage& image, DoubleImage& response, double sigma,
                                         double k = kHarrisConstant, int window = kSuppressionWindow);
// Every step done the plain way (direct filters, whole-frame planes, the full window scan):
// the oracle of DetectFeatures.
std::vector<FeaturePoint> DetectFeaturesDirect(const GrayImage& image, DoubleImage& response, double sigma,
                                               double k = kHarrisConstant, int window = kSuppressionWindow);

// target re-created at the response's size, 0.0 except at centres (x, y), x in e..W-e-1,
// y in e..H-e-1 with e = window / 2, that hold the first strict maximum above 0 of their
// window of offsets -e..e-1 scanned row by row: there target = response. An equal value
// above, or to the left in the same row, suppresses the centre.
void SuppressNonMaxima(const DoubleImage& response, DoubleImage& target, int window);
// The plain scan of every window: the oracle of SuppressNonMaxima.
void SuppressNonMaximaDirect(const DoubleImage& response, DoubleImage& target, int window);

// The entries among the first `limit` of the list whose truncated position lies within
// kRoiMargin pixels of the ROI (roi.left < x + 200, x - 200 < roi.right, likewise for y,
// all strict), in list order.
std::vector<FeaturePoint> SelectNearRoi(const std::vector<FeaturePoint>& features, int limit, const RoiRect& roi);

}  // namespace lumet
