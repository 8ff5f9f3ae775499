#pragma once

#include <QImage>
#include <QString>

#include "params/param_set.h"

namespace lumet {

// One reconstruction the window has seen since it opened: its result and the parameters
// that made it, kept so that any two runs can be compared and each saved by name.
struct RunResult {
  int number = 0;  // 1, 2, ... in the order the runs ended
  ParamSet values;
  QImage result;
  QImage before;  // frame 0 on the result's grid (AlignedFirstFrame), null when unreadable

  QString Method() const { return QString::fromStdString(values.method); }
  // "Run 2: enhanced ×4, ROI 160,100 40×40".
  QString Label() const;
  // The file name Save Result As… suggests: "result/hr-enhanced-2.png".
  QString SuggestedFile() const;
};

// Frame 0's region of interest resampled onto the grid of the result (frame pixel x lies
// at result pixel s·x, as in the reconstruction), so that a before/after comparison shows
// no shift. The replicated enlargement the commands write as first_lr stays as it is.
// Null when frame 0 cannot be read or the ROI is not on it.
QImage AlignedFirstFrame(const ParamSet& values);

}  // namespace lumet
