#pragma once

#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// Resamples a frame onto the HR grid: HR pixel (c, r) of every channel is the bilinear
// sample of the frame's channel at ProjectPoint(lrForm, c + x0, r + y0) when that lies in
// 0 <= u < width, 0 <= v < height, and 0.0 otherwise. lrForm is A_k (LrFormOnHrInput).
// Every channel of layer is re-created at G x H and fully written.
void WarpToHrGrid(const ColorGrayImage& frame, const Matrix& lrForm, const HrGeometry& grid, ColorDoubleImage& layer);
// The same for one channel: plane is re-created at G x H and holds exactly what
// WarpToHrGrid writes for that channel.
void WarpToHrGrid(const GrayImage& channel, const Matrix& lrForm, const HrGeometry& grid, DoubleImage& plane);
// The same in one plain loop on the calling thread: the oracle of the one above, which runs
// the widest instruction set the processor has.
void WarpToHrGridScalar(const GrayImage& channel, const Matrix& lrForm, const HrGeometry& grid, DoubleImage& plane);

// Mean absolute green difference between layer 0 and layer k over the HR pixels whose
// green value in layer k is positive. Not a number when there is no such pixel.
double FrameMae(const ColorDoubleImage& layer0, const ColorDoubleImage& layerK);
// The same from the two green planes alone.
double FrameMae(const DoubleImage& green0, const DoubleImage& greenK);

struct SelectionThreshold {
  int index = 0;       // floor(N * 0.9)
  double value = 0.0;  // element `index` of the MAE list sorted ascending
};

// The frame-selection threshold of an MAE list (at least one element). A MAE that is not
// a number sorts above every number.
SelectionThreshold ComputeSelectionThreshold(const std::vector<double>& mae);

// How many frames take part: frames are taken in order up to (not including) the first
// whose MAE is above the threshold or not a number. Frame 0, the reference, always takes
// part.
int SelectedFrameCount(const std::vector<double>& mae, double threshold);

}  // namespace lumet
