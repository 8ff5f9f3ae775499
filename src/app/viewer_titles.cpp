#include "app/viewer_titles.h"

#include "params/algorithm_options.h"
#include "reconstruction/robust_btv.h"

namespace lumet {

namespace {

// The band being solved: red, green, blue; the enhanced method solves luma and two colour
// differences in their places.
QString BandName(int band, bool enhanced) {
  static const char* const kNames[2][3] = {{"red", "green", "blue"},
                                           {"red colour difference", "luma", "blue colour difference"}};
  return QString::fromLatin1(kNames[enhanced ? 1 : 0][band == 0 ? 0 : band == 1 ? 1 : 2]);
}

}  // namespace

QString PlainBandProgressTitle(int band, int bandStep, const ParamSet& values) {
  if (MethodOf(values) == Method::Enhanced) {
    // The enhanced method counts its iterations from 1 and may stop before the cap.
    return QStringLiteral("Reconstructing (enhanced): %1 band, iteration %2 of at most %3")
        .arg(BandName(band, true))
        .arg(bandStep)
        .arg(values.iterations);
  }
  return QStringLiteral("Reconstructing (classic): %1 band, step %2 of %3")
      .arg(BandName(band, false))
      .arg(bandStep + 1)
      .arg(kBtvStepsPerBand);
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
