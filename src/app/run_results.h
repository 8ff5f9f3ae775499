#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <vector>

#include "params/param_set.h"

namespace lumet {

// One reconstruction the window has seen in this folder: its result and the parameters
// that made it, kept so that any two runs can be compared and each saved by name.
struct RunResult {
  int number = 0;  // 1, 2, ... in the order the runs ended, counted on across openings
  ParamSet values;
  QImage result;
  QImage before;  // the reference frame on the result's grid (AlignedFrame), null when unreadable
  // The reference frame and the radius of its window of frames reference - radius ..
  // reference + radius; radius 0: a Run's reconstruction, frame 0 the reference of the frames
  // registered against it.
  int reference = 0;
  int radius = 0;

  QString Method() const { return QString::fromStdString(values.method); }
  // "Run 2: enhanced ×4, ROI 160,100 40×40"; a frame's "Run 3: enhanced ×4, frame 5 ±2, ROI …".
  QString Label() const;
  // "frame 0", or "frame 5 ±2".
  QString FrameText() const;
  // The file name Save Result As… suggests, which is also where the window keeps it:
  // "result/hr-enhanced-2.png" beside the output base's result.
  QString SuggestedFile() const;
  // The parameters kept beside it: "result/hr-enhanced-2.txt".
  QString ParamFile() const;
  // That file's text: the parameter file of the values, then for a frame's run
  // "referenceFrame K" and "windowRadius R" (read back by LoadKeptRuns; param.txt never
  // holds them).
  QByteArray ParamFileText() const;
};

// Frame 0's region of interest resampled onto the grid of the result (frame pixel x lies
// at result pixel s·x, as in the reconstruction), so that a before/after comparison shows
// no shift. The replicated enlargement the commands write as first_lr stays as it is.
// Null when frame 0 cannot be read or the ROI is not on it.
QImage AlignedFirstFrame(const ParamSet& values);
// The same for frame k (the ROI in its pixels).
QImage AlignedFrame(const ParamSet& values, int k);

// A picture on the grid of (roi, scale) — frame point x at picture point scale·(x − roi.left)
// — resampled bilinearly onto the grid of (area, commonScale), area.Width()·commonScale
// wide. Where the picture does not reach, the result is transparent.
QImage ResampleOnto(const QImage& picture, const RoiRect& roi, double scale, const RoiRect& area, double commonScale);

// Two pictures made ready to be laid over each other.
struct ComparisonPair {
  QImage before, after;
  double scale = 0.0;  // the grid both are on
  RoiRect area;        // in frame pixels
  bool resampled = false;  // either side was resampled (their scales or ROIs differ)
};
// Run a's and run b's results on one grid: as they are when their grids agree, else on
// the finer scale over the union of their ROIs.
ComparisonPair CommonGrid(const RunResult& a, const RunResult& b);

// The parameters two runs differ in, one "label: a → b" each, in the rows' order.
QStringList ParamDifferences(const ParamSet& a, const ParamSet& b);

// The runs kept beside the output base (SuggestedFile and ParamFile of each), oldest
// first; a result without its parameters, or unreadable, is left out. A kept run that does
// not name its reference frame is frame 0's.
std::vector<RunResult> LoadKeptRuns(const ParamSet& values);
// The number the next run gets: one more than the largest kept beside the output base
// (of any method), whether or not its parameters were kept.
int NextRunNumber(const ParamSet& values);

}  // namespace lumet
