#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <vector>

#include "params/param_set.h"
#include "raster/dib_raster.h"
#include "viewmodel/viewer_model.h"
#include "workbench/ui_port.h"

namespace lumet {

// A floating viewer window: a tool window with a caption and no close button that shows
// one display raster unscaled at its client origin, its client area sized to the picture.
// Mode 0 (ROI selection) outlines the attached ROI and moves it with a left click; mode 1
// shows the picture only; mode 2 shows the comparison picture while the pointer is inside
// the middle third of the client area.
class CImgWnd : public QWidget {
  Q_OBJECT

 public:
  // A hidden viewer owned by `owner`, at the screen rectangle's position.
  CImgWnd(QWidget* owner, const QString& title, const ScreenRect& rect);

  // Every change of picture, comparison picture, mode or title repaints the viewer.
  void SetMode(int mode);
  int Mode() const { return model_.mode; }

  // Replaces the picture (dropping the marks drawn over the old one) and repaints.
  void SetImage(const DibRaster& raster);
  // The picture shown in comparison mode while hovering.
  void SetCompareImage(const DibRaster& raster);
  const DibRaster& Image() const { return model_.picture; }
  const DibRaster& CompareImage() const { return model_.comparePicture; }

  // The viewer reads and moves the owner's rectangle itself (nullptr detaches).
  void AttachRoi(RoiRect* roi);
  bool RoiAttached() const { return roi_ != nullptr; }
  RoiRect* AttachedRoi() const { return roi_; }

  // Marks drawn over the current picture until it is replaced.
  void AddSquares(const std::vector<MarkPoint>& centres);
  void AddLines(const std::vector<MarkLine>& lines);
  size_t SquareCount() const { return model_.squares.size(); }
  size_t LineCount() const { return model_.lines.size(); }
  // Picture, mode and marks (the ROI is the attached one, read where its owner keeps it).
  const ViewerModel& Model() const { return model_; }

  // Client area width x height, raised and shown, position kept. A viewer placed inside
  // another window overrides this to show the picture without resizing itself.
  virtual void FitTo(int width, int height);

  // While a command runs the viewers ignore clicks.
  void SetInteractive(bool interactive) { interactive_ = interactive; }
  bool Interactive() const { return interactive_; }
  bool HoverInside() const { return hoverInside_; }

  // Exactly what a repaint puts on the client area, drawn by the viewer renderer the
  // command line shares (a null image when there is no picture).
  QImage Rendered() const;

  // The comparison area of a client area: strictly inside the middle third both ways.
  static bool InsideMiddleThird(int width, int height, int x, int y);
  // The ROI keeps its size and is centred on (x, y), halves truncated towards zero.
  static RoiRect CentreRoi(const RoiRect& roi, int x, int y);
  // The ROI moved the least way that puts it inside a width x height picture, keeping its
  // size; unchanged when it lies inside already, when it cannot fit, or when there is no
  // picture (a side that does not fit is left where it is).
  static RoiRect KeepInside(const RoiRect& roi, int width, int height);

 signals:
  // A click moved the ROI; emitted synchronously so the owner updates its fields at once.
  void roiChanged();
  // The ROI the user placed would have reached off the picture and was moved onto it.
  void roiKeptInside();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void SetHover(bool inside);

  ViewerModel model_;
  bool hoverInside_ = false;
  RoiRect* roi_ = nullptr;
  bool interactive_ = true;
};

}  // namespace lumet
