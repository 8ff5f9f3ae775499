#include "app/run_results.h"

#include "evaluation/bicubic_baseline.h"
#include "raster/dib_raster.h"
#include "view/raster_image.h"
#include "workbench/frame_source.h"

namespace lumet {

QString RunResult::Label() const {
  const RoiRect& roi = values.roi;
  return QStringLiteral("Run %1: %2 \u00d7%3, ROI %4,%5 %6\u00d7%7")
      .arg(number)
      .arg(Method())
      .arg(values.scale)
      .arg(roi.left)
      .arg(roi.top)
      .arg(roi.Width())
      .arg(roi.Height());
}

QString RunResult::SuggestedFile() const { return QStringLiteral("result/hr-%1-%2.png").arg(Method()).arg(number); }

QImage AlignedFirstFrame(const ParamSet& values) {
  try {
    FrameSource source(values.lrPattern, values.startIndex);
    ColorGrayImage frame;
    source.Read(0, frame);
    DibRaster raster(0);
    ImageToRaster(BicubicEnlarge(frame, values.roi, values.scale), raster);
    return RasterToQImage(raster);
  } catch (const std::exception&) {
    return QImage();
  }
}

}  // namespace lumet
