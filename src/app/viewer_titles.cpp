#include "app/viewer_titles.h"

#include <QCoreApplication>

#include "params/algorithm_options.h"
#include "reconstruction/reconstruction_method.h"

namespace lumet {

QString PlainBandProgressTitle(int band, int bandStep, const ParamSet& values) {
  const ReconstructionMethod& method = ReconstructionMethodFor(MethodOf(values));
  return QCoreApplication::translate("lumet::ViewerTitles", "Reconstructing (%1): %2")
      .arg(QString::fromStdString(method.Word()),
           QString::fromStdString(method.StepText(band, bandStep, ToReconstructionOptions(values))));
}

QString PlainViewerTitle(Viewer viewer, const QString& commandTitle, bool registering) {
  if (commandTitle == QStringLiteral("frame")) return QCoreApplication::translate("lumet::ViewerTitles", "Frame 0: click or drag to place the region of interest");
  if (commandTitle == QStringLiteral("Reconstructed Image")) return QCoreApplication::translate("lumet::ViewerTitles", "Result");
  if (commandTitle == QStringLiteral("First Frame")) return QCoreApplication::translate("lumet::ViewerTitles", "Frame 0 enlarged (before)");
  if (commandTitle == QStringLiteral("LR frames")) return QCoreApplication::translate("lumet::ViewerTitles", "Frames being registered");
  if (viewer == Viewer::Frame && registering) return QCoreApplication::translate("lumet::ViewerTitles", "Registering %1 against frame 0").arg(commandTitle);
  return commandTitle;
}

}  // namespace lumet
