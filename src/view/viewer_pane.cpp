#include "view/viewer_pane.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QDockWidget>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <functional>
#include <cmath>

#include "view/raster_image.h"

namespace lumet {

namespace {

// How close (logical pixels) the pointer must be to grab an ROI edge or the split.
constexpr double kGrabDistance = 6.0;
constexpr double kHandleSize = 7.0;
const QColor kBackground(0x30, 0x30, 0x30);
const QColor kDarkLine(0, 0, 0, 220);
const QColor kLightLine(255, 255, 255, 235);
const QColor kOlive(128, 128, 0);

QRectF Inset(const QRectF& r, double d) { return r.adjusted(d, d, -d, -d); }

// The dock holding a pane, directly or inside a container with the pane's controls.
// |a - b| per channel times the gain, cut at 255; transparent where either side has no picture.
QImage DifferenceOf(const QImage& a, const QImage& b) {
  const QImage x = a.convertToFormat(QImage::Format_ARGB32), y = b.convertToFormat(QImage::Format_ARGB32);
  QImage out(x.size(), QImage::Format_ARGB32);
  const int gain = ViewerPane::kDifferenceGain;
  for (int row = 0; row < x.height(); ++row) {
    const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
    const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
    auto* o = reinterpret_cast<QRgb*>(out.scanLine(row));
    for (int col = 0; col < x.width(); ++col) {
      if (qAlpha(p[col]) == 0 || qAlpha(q[col]) == 0) {
        o[col] = qRgba(0, 0, 0, 0);
        continue;
      }
      const auto d = [gain](int u, int v) { return std::min(255, gain * std::abs(u - v)); };
      o[col] = qRgb(d(qRed(p[col]), qRed(q[col])), d(qGreen(p[col]), qGreen(q[col])), d(qBlue(p[col]), qBlue(q[col])));
    }
  }
  return out;
}

QDockWidget* EnclosingDock(const QWidget* widget) {
  for (QWidget* up = widget->parentWidget(); up != nullptr; up = up->parentWidget()) {
    if (auto* dock = qobject_cast<QDockWidget*>(up)) return dock;
  }
  return nullptr;
}

}  // namespace

ViewerPane::ViewerPane(QWidget* parent, const QString& title)
    : CImgWnd(parent, title, ScreenRect{0, 0, 300, 300}), beforeLabel_(tr("Before")), afterLabel_(tr("After")) {
  setWindowFlags(Qt::Widget);
  setParent(parent);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setMinimumSize(120, 90);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

bool ViewerPane::RoiEditable() const {
  return Mode() == kModeRoiSelection && AttachedRoi() != nullptr && Interactive() && !roiLocked_;
}

void ViewerPane::SetRoiLocked(bool locked) {
  roiLocked_ = locked;
  if (drag_ == Drag::RoiMove || drag_ == Drag::RoiDraw || drag_ == Drag::RoiEdges || drag_ == Drag::PendingClick) {
    drag_ = Drag::None;
  }
  UpdateCursor(pointer_);
  update();
}

void ViewerPane::FitTo(int, int) {
  // The picture arrives next; its size decides whether the view is fitted again.
  if (QDockWidget* dock = EnclosingDock(this)) {
    dock->show();
    dock->raise();
  }
  show();
}

// The zoom counts logical pixels, as everything else on a scaled screen does: a picture at
// 100 % takes the same room beside the fields and the other viewer on any device-pixel ratio.
double ViewerPane::Scale() const { return zoom_; }

QRectF ViewerPane::PictureRect() const {
  return QRectF(offset_, QSizeF(picture_.width() * Scale(), picture_.height() * Scale()));
}

bool ViewerPane::Comparing() const {
  return Mode() == kModeComparison && !compare_.isNull() && compare_.size() == picture_.size();
}

double ViewerPane::ViewWidth() const { return SideBySide() ? width() / 2 : width(); }

QPointF ViewerPane::Local(QPointF at) const {
  if (SideBySide() && at.x() >= ViewWidth()) at.rx() -= ViewWidth();
  return at;
}

QPointF ViewerPane::WidgetToPicture(QPointF at) const { return (Local(at) - offset_) / Scale(); }

QPointF ViewerPane::PictureToWidget(QPointF at) const { return at * Scale() + offset_; }

void ViewerPane::ZoomAt(double factor, QPointF anchor) {
  const QPointF fixed = WidgetToPicture(anchor);
  zoom_ = std::clamp(zoom_ * factor, kMinZoom, kMaxZoom);
  offset_ = Local(anchor) - fixed * Scale();
  fit_ = false;
  ViewChanged();
}

void ViewerPane::ZoomIn() { ZoomAt(kZoomStep, pointerInside_ ? pointer_ : QPointF(rect().center())); }

void ViewerPane::ZoomOut() { ZoomAt(1.0 / kZoomStep, pointerInside_ ? pointer_ : QPointF(rect().center())); }

void ViewerPane::ShowActualSize() {
  // The picture point at the centre stays there.
  ZoomAt(1.0 / zoom_, QPointF(ViewWidth() / 2, height() / 2.0));
}

void ViewerPane::FitToPane() {
  RefreshCache();
  fit_ = true;
  viewSize_ = picture_.size();
  if (picture_.isNull()) {
    ViewChanged();
    return;
  }
  // The whole picture, as large as the pane lets it be.
  const double zoom = std::min(ViewWidth() / double(picture_.width()), height() / double(picture_.height()));
  zoom_ = std::clamp(zoom, kMinZoom, kMaxZoom);
  const QSizeF shown(picture_.width() * Scale(), picture_.height() * Scale());
  // Whole logical pixels, so picture pixels line up with the screen's.
  offset_ = QPointF(std::round((ViewWidth() - shown.width()) / 2), std::round((height() - shown.height()) / 2));
  ViewChanged();
}

void ViewerPane::SetView(double zoom, QPointF origin) {
  RefreshCache();
  viewSize_ = picture_.size();
  zoom_ = std::clamp(zoom, kMinZoom, kMaxZoom);
  offset_ = origin;
  fit_ = false;
  ViewChanged();
}

void ViewerPane::SetCompareView(CompareView view) {
  if (view == view_) return;
  ChangeLayout([&] { view_ = view; });
}

void ViewerPane::SetFlipped(bool flipped) {
  if (flipped == flipped_) return;
  ChangeLayout([&] { flipped_ = flipped; });
}

void ViewerPane::ChangeLayout(const std::function<void()>& change) {
  const bool wasSide = SideBySide();
  change();
  // Side by side halves the room of each copy: a fitted view fits again, another keeps its
  // zoom with the picture point at the centre of its copy still there.
  if (SideBySide() != wasSide) {
    if (fit_) {
      FitToPane();
    } else {
      const double before = wasSide ? width() / 2.0 : width();
      offset_.rx() += (ViewWidth() - before) / 2;
    }
  }
  ViewChanged();
  emit compareViewChanged();
}

void ViewerPane::SetSplitFraction(double fraction) {
  split_ = std::clamp(fraction, 0.0, 1.0);
  ViewChanged();
}

double ViewerPane::SplitX() const {
  const QRectF target = PictureRect();
  return target.left() + split_ * target.width();
}

void ViewerPane::ViewChanged() {
  viewOnly_ = true;
  update();
  emit viewChanged();
}

void ViewerPane::SetSplitPictures(const QImage& before, const QImage& after, const QString& beforeLabel,
                                  const QString& afterLabel) {
  splitBefore_ = before;
  splitAfter_ = after;
  beforeLabel_ = beforeLabel.isEmpty() ? tr("Before") : beforeLabel;
  afterLabel_ = afterLabel.isEmpty() ? tr("After") : afterLabel;
  ++splitGeneration_;
  update();
}

bool ViewerPane::PixelUnder(QPointF at, QPoint& pixel, QRgb& colour) const {
  if (picture_.isNull()) return false;
  const QPointF p = WidgetToPicture(at);
  pixel = QPoint(static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y())));
  if (!picture_.rect().contains(pixel)) return false;
  const QImage* shown = &picture_;
  if (Comparing() && !flipped_) {
    if (view_ == CompareView::Difference) {
      shown = &difference_;
    } else if (view_ == CompareView::SideBySide ? at.x() >= ViewWidth() : at.x() >= SplitX()) {
      shown = &compare_;
    }
  }
  colour = shown->pixel(pixel);
  return true;
}

void ViewerPane::RefreshCache() {
  CacheKey key;
  key.mode = Mode();
  if (const RoiRect* roi = AttachedRoi()) key.roi = *roi;
  key.squares = SquareCount();
  key.lines = LineCount();
  key.width = Image().Width();
  key.height = Image().Height();
  key.compareWidth = CompareImage().Width();
  key.compareHeight = CompareImage().Height();
  key.splitGeneration = splitGeneration_;
  // A repaint the engine asked for may carry a new picture of the same size.
  if (viewOnly_ && key == cacheKey_ && !picture_.isNull()) return;
  const bool comparison = Mode() == kModeComparison;
  picture_ = comparison && !splitBefore_.isNull() ? splitBefore_ : Rendered();
  if (!comparison) {
    compare_ = QImage();
  } else {
    compare_ = !splitAfter_.isNull() ? splitAfter_ : RasterToQImage(CompareImage());
  }
  difference_ = Comparing() ? DifferenceOf(picture_, compare_) : QImage();
  cacheKey_ = key;
}

void ViewerPane::paintEvent(QPaintEvent*) {
  RefreshCache();
  viewOnly_ = false;
  if (picture_.size() != viewSize_) FitToPane();  // a new picture size: show it whole
  viewOnly_ = false;

  QPainter painter(this);
  painter.fillRect(rect(), kBackground);
  if (picture_.isNull()) {
    painter.setPen(QColor(0xC0, 0xC0, 0xC0));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, tr("No picture yet"));
    return;
  }
  const QRectF target = PictureRect();
  // Enlarged pictures show their pixels as sharp squares; reduced ones are smoothed.
  painter.setRenderHint(QPainter::SmoothPixmapTransform, zoom_ < 1.0);
  if (Comparing() && flipped_) {
    painter.drawImage(target, picture_);
    DrawLabel(painter, tr("%1 (held)").arg(beforeLabel_), 6, std::max(target.top(), 0.0) + 6, false);
  } else if (Comparing() && view_ == CompareView::SideBySide) {
    // One zoom and pan: the right half shows the same part of the other picture.
    const double half = ViewWidth();
    painter.save();
    painter.setClipRect(QRectF(0, 0, half, height()));
    painter.drawImage(target, picture_);
    painter.setClipRect(QRectF(half, 0, width() - half, height()));
    painter.drawImage(target.translated(half, 0), compare_);
    painter.restore();
    painter.setPen(QPen(kDarkLine, 3.0));
    painter.drawLine(QPointF(half, 0), QPointF(half, height()));
    painter.setPen(QPen(kLightLine, 1.0));
    painter.drawLine(QPointF(half, 0), QPointF(half, height()));
    DrawLabel(painter, beforeLabel_, 6, 6, false);
    DrawLabel(painter, afterLabel_, half + 6, 6, false);
  } else if (Comparing() && view_ == CompareView::Difference) {
    painter.drawImage(target, difference_);
    DrawLabel(painter, tr("|%1 \u2212 %2| \u00d7 %3").arg(beforeLabel_, afterLabel_).arg(kDifferenceGain), 6,
              std::max(target.top(), 0.0) + 6, false);
  } else if (Comparing()) {
    const double x = SplitX();
    painter.save();
    painter.setClipRect(QRectF(QPointF(target.left(), target.top()), QPointF(x, target.bottom())));
    painter.drawImage(target, picture_);
    painter.setClipRect(QRectF(QPointF(x, target.top()), QPointF(target.right(), target.bottom())));
    painter.drawImage(target, compare_);
    painter.restore();
    DrawSplit(painter, target);
  } else {
    painter.drawImage(target, picture_);
  }
  if (Mode() == kModeRoiSelection && AttachedRoi() != nullptr) DrawRoiOverlay(painter);
}

QRectF ViewerPane::RoiWidgetRect() const {
  const RoiRect& roi = *AttachedRoi();
  return QRectF(PictureToWidget(QPointF(std::min(roi.left, roi.right), std::min(roi.top, roi.bottom))),
                PictureToWidget(QPointF(std::max(roi.left, roi.right), std::max(roi.top, roi.bottom))));
}

void ViewerPane::DrawRoiOverlay(QPainter& painter) const {
  const QRectF r = RoiWidgetRect();
  if (r.isEmpty()) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setBrush(Qt::NoBrush);
  // The olive band the engine draws is one picture pixel wide; keep it at least one screen
  // pixel wide, with a dark line outside and a light line inside, so it shows on any picture.
  const double band = std::max(1.0, Scale());
  painter.setPen(QPen(kDarkLine, 1.0));
  painter.drawRect(Inset(r, -0.5));
  painter.setPen(QPen(kOlive, band));
  painter.drawRect(Inset(r, band / 2));
  if (r.width() > 2 * band + 2 && r.height() > 2 * band + 2) {
    painter.setPen(QPen(kLightLine, 1.0));
    painter.drawRect(Inset(r, band + 0.5));
  }
  if (Interactive() && !roiLocked_) {
    painter.setPen(QPen(kDarkLine, 1.0));
    painter.setBrush(kLightLine);
    const double h = kHandleSize;
    for (const QPointF& corner : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()}) {
      painter.drawRect(QRectF(corner - QPointF(h / 2, h / 2), QSizeF(h, h)));
    }
  }
  painter.restore();
}

void ViewerPane::DrawSplit(QPainter& painter, const QRectF& target) const {
  const double x = SplitX();
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(QPen(kDarkLine, 3.0));
  painter.drawLine(QPointF(x, target.top()), QPointF(x, target.bottom()));
  painter.setPen(QPen(kLightLine, 1.0));
  painter.drawLine(QPointF(x, target.top()), QPointF(x, target.bottom()));

  // The grip in the middle of the visible part of the line.
  const double top = std::max(target.top(), 0.0);
  const double bottom = std::min(target.bottom(), double(height()));
  const QPointF grip(x, (top + bottom) / 2);
  painter.setPen(QPen(kDarkLine, 1.0));
  painter.setBrush(kLightLine);
  painter.drawEllipse(grip, 10.0, 10.0);
  painter.setBrush(kDarkLine);
  QPainterPath arrows;
  arrows.moveTo(grip + QPointF(-2, -4));
  arrows.lineTo(grip + QPointF(-7, 0));
  arrows.lineTo(grip + QPointF(-2, 4));
  arrows.closeSubpath();
  arrows.moveTo(grip + QPointF(2, -4));
  arrows.lineTo(grip + QPointF(7, 0));
  arrows.lineTo(grip + QPointF(2, 4));
  arrows.closeSubpath();
  painter.drawPath(arrows);

  // The labels sit on either side of the line at the top of the visible picture.
  const double labelTop = std::max(target.top(), 0.0) + 6;
  DrawLabel(painter, beforeLabel_, x - 6, labelTop, true);
  DrawLabel(painter, afterLabel_, x + 6, labelTop, false);
  painter.restore();
}

void ViewerPane::DrawLabel(QPainter& painter, const QString& text, double x, double top, bool leftOfX) const {
  const QFontMetrics metrics(font());
  const QRectF box(0, 0, metrics.horizontalAdvance(text) + 12, metrics.height() + 4);
  const QRectF placed = box.translated(leftOfX ? x - box.width() : x, top);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0, 0, 0, 170));
  painter.drawRoundedRect(placed, 4, 4);
  painter.setPen(Qt::white);
  painter.drawText(placed, Qt::AlignCenter, text);
  painter.restore();
}

int ViewerPane::RoiEdgesAt(QPointF at) const {
  if (!RoiEditable()) return 0;
  const QRectF r = RoiWidgetRect();
  const double g = kGrabDistance;
  int edges = 0;
  if (at.y() >= r.top() - g && at.y() <= r.bottom() + g) {
    const double dl = std::abs(at.x() - r.left()), dr = std::abs(at.x() - r.right());
    if (std::min(dl, dr) <= g) edges |= dl <= dr ? kLeft : kRight;
  }
  if (at.x() >= r.left() - g && at.x() <= r.right() + g) {
    const double dt = std::abs(at.y() - r.top()), db = std::abs(at.y() - r.bottom());
    if (std::min(dt, db) <= g) edges |= dt <= db ? kTop : kBottom;
  }
  return edges;
}

bool ViewerPane::NearSplit(QPointF at) const {
  if (!Comparing() || flipped_ || view_ != CompareView::Wipe) return false;
  const QRectF target = PictureRect();
  return std::abs(at.x() - SplitX()) <= kGrabDistance + 4 && at.y() >= target.top() && at.y() <= target.bottom();
}

void ViewerPane::ApplyRoi(const RoiRect& roi, bool edges) {
  RoiRect* attached = AttachedRoi();
  if (attached == nullptr) return;
  const int w = Image().Width(), h = Image().Height();
  RoiRect kept = KeepInside(roi, w, h);
  if (edges && w > 0 && h > 0) {
    kept.left = std::clamp(roi.left, 0, w - 1);
    kept.top = std::clamp(roi.top, 0, h - 1);
    kept.right = std::clamp(roi.right, kept.left + 1, w);
    kept.bottom = std::clamp(roi.bottom, kept.top + 1, h);
  }
  if (*attached == kept) return;
  *attached = kept;
  update();
  emit roiChanged();
  if (!(kept == roi)) emit roiKeptInside();
}

void ViewerPane::mousePressEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  pressAt_ = lastAt_ = at;
  drag_ = Drag::None;
  if (event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && spaceHeld_)) {
    // The middle button, or Space held, pans whatever lies under the pointer.
    drag_ = Drag::Pan;
  } else if (event->button() == Qt::LeftButton) {
    const bool roiMode = RoiEditable();
    if (!roiMode && roiLocked_ && Mode() == kModeRoiSelection && AttachedRoi() != nullptr && Interactive()) {
      emit roiLockedPressed();
    }
    if (NearSplit(at)) {
      drag_ = Drag::Split;
    } else if (roiMode && (dragEdges_ = RoiEdgesAt(at)) != 0) {
      drag_ = Drag::RoiEdges;
      pressRoi_ = *AttachedRoi();
    } else if (roiMode) {
      drag_ = Drag::PendingClick;
      pressRoi_ = *AttachedRoi();
    } else {
      drag_ = Drag::Pan;
    }
  }
  if (drag_ == Drag::Pan) setCursor(Qt::ClosedHandCursor);
  QWidget::mousePressEvent(event);
}

void ViewerPane::mouseMoveEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  pointer_ = at;
  pointerInside_ = rect().contains(at.toPoint());
  emit pointerMoved(at, pointerInside_);
  const QPointF step = at - lastAt_;
  lastAt_ = at;
  const QPointF picture = WidgetToPicture(at);
  switch (drag_) {
    case Drag::None:
      UpdateCursor(at);
      break;
    case Drag::Pan:
      offset_ += step;
      fit_ = false;
      ViewChanged();
      break;
    case Drag::Split: {
      const QRectF target = PictureRect();
      if (target.width() > 0) SetSplitFraction((at.x() - target.left()) / target.width());
      break;
    }
    case Drag::PendingClick: {
      if ((at - pressAt_).manhattanLength() < QApplication::startDragDistance()) break;
      // Dragging inside the ROI moves it; dragging elsewhere draws a new one.
      const RoiRect& r = pressRoi_;
      const QPointF start = WidgetToPicture(pressAt_);
      const bool inside = start.x() >= std::min(r.left, r.right) && start.x() < std::max(r.left, r.right) &&
                          start.y() >= std::min(r.top, r.bottom) && start.y() < std::max(r.top, r.bottom);
      drag_ = inside ? Drag::RoiMove : Drag::RoiDraw;
      if (drag_ == Drag::RoiDraw) {
        DrawRoiTo(picture);
        break;
      }
      [[fallthrough]];
    }
    case Drag::RoiMove: {
      const QPointF start = WidgetToPicture(pressAt_);
      const int dx = static_cast<int>(std::lround(picture.x() - start.x()));
      const int dy = static_cast<int>(std::lround(picture.y() - start.y()));
      ApplyRoi({pressRoi_.left + dx, pressRoi_.top + dy, pressRoi_.right + dx, pressRoi_.bottom + dy});
      break;
    }
    case Drag::RoiDraw:
      DrawRoiTo(picture);
      break;
    case Drag::RoiEdges: {
      // Edges lie between pixels: at whole picture coordinates. The ROI keeps one pixel.
      RoiRect r = pressRoi_;
      const int x = static_cast<int>(std::lround(picture.x()));
      const int y = static_cast<int>(std::lround(picture.y()));
      if (dragEdges_ & kLeft) r.left = std::min(x, r.right - 1);
      if (dragEdges_ & kRight) r.right = std::max(x, r.left + 1);
      if (dragEdges_ & kTop) r.top = std::min(y, r.bottom - 1);
      if (dragEdges_ & kBottom) r.bottom = std::max(y, r.top + 1);
      ApplyRoi(r, true);
      break;
    }
  }
  QWidget::mouseMoveEvent(event);
}

void ViewerPane::DrawRoiTo(QPointF picture) {
  // The rectangle between the pixel edges nearest the press and the pointer, one pixel at least.
  const QPointF start = WidgetToPicture(pressAt_);
  const auto edge = [](double v) { return static_cast<int>(std::lround(v)); };
  const int x0 = edge(start.x()), y0 = edge(start.y()), x1 = edge(picture.x()), y1 = edge(picture.y());
  RoiRect r{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)};
  if (r.right == r.left) ++r.right;
  if (r.bottom == r.top) ++r.bottom;
  ApplyRoi(r, true);
}

void ViewerPane::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F && event->modifiers() == Qt::NoModifier && Comparing()) {
    if (!event->isAutoRepeat()) SetFlipped(true);
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_Space) {
    if (!event->isAutoRepeat()) {
      spaceHeld_ = true;
      if (drag_ == Drag::None) setCursor(Qt::OpenHandCursor);
    }
    event->accept();
    return;
  }
  CImgWnd::keyPressEvent(event);
}

void ViewerPane::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F && !event->isAutoRepeat() && flipped_) {
    SetFlipped(false);
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_Space) {
    if (!event->isAutoRepeat()) {
      spaceHeld_ = false;
      if (drag_ == Drag::None) UpdateCursor(pointer_);
    }
    event->accept();
    return;
  }
  CImgWnd::keyReleaseEvent(event);
}

void ViewerPane::mouseReleaseEvent(QMouseEvent* event) {
  if (drag_ == Drag::PendingClick && event->button() == Qt::LeftButton) {
    // A click places the ROI: same size, centred on the pixel clicked.
    const QPointF picture = WidgetToPicture(event->position());
    ApplyRoi(CentreRoi(*AttachedRoi(), static_cast<int>(std::floor(picture.x())),
                       static_cast<int>(std::floor(picture.y()))));
  }
  drag_ = Drag::None;
  UpdateCursor(event->position());
  QWidget::mouseReleaseEvent(event);
}

void ViewerPane::UpdateCursor(QPointF at) {
  if (spaceHeld_) {
    setCursor(Qt::OpenHandCursor);
    return;
  }
  if (NearSplit(at)) {
    setCursor(Qt::SplitHCursor);
    return;
  }
  const int edges = RoiEdgesAt(at);
  const bool horizontal = edges & (kLeft | kRight), vertical = edges & (kTop | kBottom);
  if (horizontal && vertical) {
    const bool mainDiagonal = (edges == (kLeft | kTop)) || (edges == (kRight | kBottom));
    setCursor(mainDiagonal ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
  } else if (horizontal) {
    setCursor(Qt::SizeHorCursor);
  } else if (vertical) {
    setCursor(Qt::SizeVerCursor);
  } else if (RoiEditable()) {
    setCursor(Qt::CrossCursor);
  } else {
    setCursor(Qt::OpenHandCursor);
  }
}

void ViewerPane::wheelEvent(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / 120.0;
  if (notches != 0.0) ZoomAt(std::pow(kZoomStep, notches), event->position());
  event->accept();
}

void ViewerPane::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (fit_) FitToPane();
}

void ViewerPane::contextMenuEvent(QContextMenuEvent* event) {
  pointer_ = event->pos();
  QMenu menu(this);
  menu.addAction(tr("Zoom In"), this, &ViewerPane::ZoomIn);
  menu.addAction(tr("Zoom Out"), this, &ViewerPane::ZoomOut);
  menu.addAction(tr("Actual Size (100 %)"), this, &ViewerPane::ShowActualSize);
  menu.addAction(tr("Fit"), this, &ViewerPane::FitToPane);
  menu.addSeparator();
  if (HasResult()) menu.addAction(tr("Save Result As…"), this, [this] { emit saveRequested(true); });
  QAction* savePicture = menu.addAction(tr("Save Picture As…"), this, [this] { emit saveRequested(false); });
  savePicture->setEnabled(HasPicture());
  menu.exec(event->globalPos());
}

void ViewerPane::enterEvent(QEnterEvent* event) {
  pointerInside_ = true;
  pointer_ = event->position();
  emit activated();
  CImgWnd::enterEvent(event);
}

void ViewerPane::leaveEvent(QEvent* event) {
  pointerInside_ = false;
  spaceHeld_ = false;  // its release may go elsewhere
  emit pointerMoved(pointer_, false);
  QWidget::leaveEvent(event);
}

void ViewerPane::focusInEvent(QFocusEvent* event) {
  emit activated();
  QWidget::focusInEvent(event);
}

void ViewerPane::focusOutEvent(QFocusEvent* event) {
  // F's release goes to whatever has the focus now.
  if (event->reason() != Qt::PopupFocusReason) SetFlipped(false);
  CImgWnd::focusOutEvent(event);
}

void ViewerPane::changeEvent(QEvent* event) {
  // The commands retitle the viewer; the dock holding it shows the title.
  if (event->type() == QEvent::WindowTitleChange) {
    if (QDockWidget* dock = EnclosingDock(this)) dock->setWindowTitle(windowTitle());
  }
  CImgWnd::changeEvent(event);
}

}  // namespace lumet
