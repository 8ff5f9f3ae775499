#include "view/img_wnd.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "view/raster_image.h"

namespace lumet {

CImgWnd::CImgWnd(QWidget* owner, const QString& title, const ScreenRect& rect)
    : QWidget(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("CImgWnd"));
  setWindowTitle(title);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  move(rect.left, rect.top);
  // The creation size is replaced by the first fit; keep it valid meanwhile.
  resize(std::max(1, rect.right - rect.left), std::max(1, rect.bottom - rect.top));
}

void CImgWnd::SetImage(const DibRaster& raster) {
  model_.ShowPicture(raster);
  update();
}

void CImgWnd::SetMode(int mode) {
  if (model_.mode == mode) return;
  model_.mode = mode;
  update();
}

void CImgWnd::SetCompareImage(const DibRaster& raster) {
  model_.comparePicture = raster;
  update();
}

void CImgWnd::AttachRoi(RoiRect* roi) {
  roi_ = roi;
  update();
}

void CImgWnd::AddSquares(const std::vector<MarkPoint>& centres) {
  model_.AddSquares(centres);
  update();
}

void CImgWnd::AddLines(const std::vector<MarkLine>& lines) {
  model_.AddLines(lines);
  update();
}

void CImgWnd::FitTo(int width, int height) {
  // A picture that could not be made leaves only the frame; Qt needs a positive size.
  setFixedSize(std::max(1, width), std::max(1, height));
  show();
  raise();
}

QImage CImgWnd::Rendered() const { return RasterToQImage(RenderViewer(model_, roi_, hoverInside_)); }

bool CImgWnd::InsideMiddleThird(int width, int height, int x, int y) {
  const int dx = width / 3;
  const int dy = height / 3;
  return dx < x && x < width - dx && dy < y && y < height - dy;
}

RoiRect CImgWnd::CentreRoi(const RoiRect& roi, int x, int y) {
  const int32_t w = roi.right - roi.left;
  const int32_t h = roi.bottom - roi.top;
  RoiRect moved;
  moved.left = x - w / 2;
  moved.top = y - h / 2;
  moved.right = moved.left + w;
  moved.bottom = moved.top + h;
  return moved;
}

RoiRect CImgWnd::KeepInside(const RoiRect& roi, int width, int height) {
  // One axis: the start that puts [start, start + size) inside [0, limit).
  const auto place = [](int64_t start, int64_t size, int64_t limit) {
    if (size <= 0 || size > limit) return start;
    return std::clamp<int64_t>(start, 0, limit - size);
  };
  if (width <= 0 || height <= 0) return roi;
  const int64_t left = place(roi.left, roi.Width(), width);
  const int64_t top = place(roi.top, roi.Height(), height);
  RoiRect kept = roi;
  kept.left = static_cast<int32_t>(left);
  kept.top = static_cast<int32_t>(top);
  kept.right = static_cast<int32_t>(left + roi.Width());
  kept.bottom = static_cast<int32_t>(top + roi.Height());
  return kept;
}

void CImgWnd::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  const QImage picture = Rendered();
  if (!picture.isNull()) painter.drawImage(0, 0, picture);
}

void CImgWnd::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && interactive_ && model_.mode == kModeRoiSelection && roi_ != nullptr) {
    const QPoint at = event->position().toPoint();
    // The run refuses a ROI off the picture, so a click never puts it there.
    const RoiRect centred = CentreRoi(*roi_, at.x(), at.y());
    *roi_ = KeepInside(centred, model_.picture.Width(), model_.picture.Height());
    repaint();
    emit roiChanged();
    if (!(*roi_ == centred)) emit roiKeptInside();
  }
  QWidget::mousePressEvent(event);
}

void CImgWnd::mouseMoveEvent(QMouseEvent* event) {
  if (model_.mode == kModeComparison) {
    const QPoint at = event->position().toPoint();
    SetHover(InsideMiddleThird(width(), height(), at.x(), at.y()));
  }
  QWidget::mouseMoveEvent(event);
}

void CImgWnd::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  SetHover(false);
}

void CImgWnd::leaveEvent(QEvent* event) {
  // Without this the comparison picture would stay after the pointer left the window.
  QWidget::leaveEvent(event);
  SetHover(false);
}

void CImgWnd::closeEvent(QCloseEvent* event) {
  // Viewers live as long as the dialog; only the dialog's end closes them.
  if (event->spontaneous()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void CImgWnd::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowTitleChange) update();
  QWidget::changeEvent(event);
}

void CImgWnd::SetHover(bool inside) {
  if (inside == hoverInside_) return;
  hoverInside_ = inside;
  update();
}

}  // namespace lumet
