#include "app/viewer_titles.h"

#include "params/algorithm_options.h"
#include "reconstruction/reconstruction_method.h"

namespace lumet {

QString PlainBandProgressTitle(int band, int bandStep, const ParamSet& values) {
  const ReconstructionMethod& method = ReconstructionMethodFor(MethodOf(values));
  return QString::fromStdString("Reconstructing (" + method.Word() +
                                "): " + method.StepText(band, bandStep, ToReconstructionOptions(values)));
}

QString PlainViewerTitle(Viewer viewer, const QString& commandTitle, bool registering) {
  if (commandTitle == QStringLiteral("frame")) return QStringLiteral("Frame 0: click or drag to place the region of interest");
  if (commandTitle == QStringLiteral("Reconstructed Image")) return QStringLiteral("Result");
  if (commandTitle == QStringLiteral("First Frame")) return QStringLiteral("Frame 0 enlarged (before)");
  if (commandTitle == QStringLiteral("LR frames")) return QStringLiteral("Frames being registered");
  if (viewer == Viewer::Frame && registering) return QStringLiteral("Registering %1 against frame 0").arg(commandTitle);
  return commandTitle;
}

}  // namespace lumet
