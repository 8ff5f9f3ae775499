#include "app/viewer_titles.h"

#include <QRegularExpression>

#include "params/algorithm_options.h"
#include "reconstruction/robust_btv.h"

namespace lumet {

namespace {

QString BandName(int band) {
  switch (band) {
    case 0:
      return QStringLiteral("red");
    case 1:
      return QStringLiteral("green");
    default:
      return QStringLiteral("blue");
  }
}

// The enhanced method solves luma and two colour differences in the bands' places.
QString EnhancedBandName(int band) {
  switch (band) {
    case 0:
      return QStringLiteral("red colour difference");
    case 1:
      return QStringLiteral("luma");
    default:
      return QStringLiteral("blue colour difference");
  }
}

}  // namespace

QString PlainViewerTitle(Viewer viewer, const QString& commandTitle, const ParamSet& values, bool registering) {
  // The reconstructions report "reconst.. BAND band ---STEP steps", both counted from 0.
  static const QRegularExpression kProgress(QStringLiteral("^reconst\\.\\. (\\d+) band ---(\\d+) steps$"));
  const QRegularExpressionMatch progress = kProgress.match(commandTitle);
  if (progress.hasMatch()) {
    const int band = progress.captured(1).toInt();
    const int step = progress.captured(2).toInt();
    if (MethodOf(values) == Method::Enhanced) {
      // The enhanced method counts its iterations from 1 and may stop before the cap.
      return QStringLiteral("Reconstructing (enhanced): %1 band, iteration %2 of at most %3")
          .arg(EnhancedBandName(band))
          .arg(step)
          .arg(values.iterations);
    }
    return QStringLiteral("Reconstructing (classic): %1 band, step %2 of %3")
        .arg(BandName(band))
        .arg(step + 1)
        .arg(kBtvStepsPerBand);
  }
  if (commandTitle == QStringLiteral("frame")) return QStringLiteral("Frame 0: click or drag to place the region of interest");
  if (commandTitle == QStringLiteral("Reconstructed Image")) return QStringLiteral("Result");
  if (commandTitle == QStringLiteral("First Frame")) return QStringLiteral("Frame 0 enlarged (before)");
  if (commandTitle == QStringLiteral("LR frames")) return QStringLiteral("Frames being registered");
  if (viewer == Viewer::Frame && registering) return QStringLiteral("Registering %1 against frame 0").arg(commandTitle);
  return commandTitle;
}

}  // namespace lumet
