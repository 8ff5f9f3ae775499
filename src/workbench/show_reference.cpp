#include "params/algorithm_options.h"
#include "params/param_description.h"
#include "raster/dib_raster.h"
#include "workbench/frame_source.h"
#include "workbench/workbench.h"

namespace lumet {

void Workbench::ShowReference(UiPort& ui) {
  FrameSource source(params.lrPattern, params.startIndex);
  ShowReferenceFrom(source, ui);
}

void Workbench::ShowReferenceFrom(FrameSource& source, UiPort& ui) {
  CheckParams(params);
  // An unreadable reference frame is an error: every later step needs its pixels.
  source.Read(0, referenceImage);
  refWidth = referenceImage.channels[0].Width();
  refHeight = referenceImage.channels[0].Height();

  if (!ui.ViewerExists(Viewer::Reference)) {
    ui.CreateViewer(Viewer::Reference, "frame", StartingRect(Viewer::Reference));
  }
  ui.FitViewer(Viewer::Reference, refWidth, refHeight);
  ui.SetViewerMode(Viewer::Reference, kModeRoiSelection);
  DibRaster picture(0);
  picture.Create(static_cast<uint32_t>(refWidth), static_cast<uint32_t>(refHeight), 24, 1);
  CopyToRaster(picture, referenceImage, refWidth, refHeight);
  ui.AttachRoi(Viewer::Reference, params.roi);
  ui.ShowPicture(Viewer::Reference, picture);
}

}  // namespace lumet
