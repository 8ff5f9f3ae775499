#pragma once

#include <functional>

#include <QImage>
#include <QPointF>
#include <QRectF>

#include "view/img_wnd.h"

namespace lumet {

// A viewer that lives inside the main window (a dock) instead of floating over it. It shows
// the same picture as CImgWnd, with the same marks and modes, but the user zooms (wheel,
// keys) around the pointer, pans by dragging, fits the picture to the pane or shows it at
// one picture pixel per logical pixel. The middle button, or the left one with Space held,
// pans. On screen only, it adds:
// - in ROI selection mode, a dark and a light line around the olive outline and corner
//   handles; a click places the ROI as before, dragging an edge or corner resizes it,
//   dragging its inside moves it and dragging elsewhere draws a new one (the owner hears
//   roiChanged after every change);
// - in comparison mode, the two pictures with one zoom and pan: a labelled wipe ("Before",
//   this viewer's picture, left of a handle the user drags, "After", the comparison
//   picture, right of it), the two side by side, or their difference; holding F (or
//   SetFlipped) shows the Before picture whole, in place, until it is let go.
// What the engine draws (CImgWnd::Rendered) stays as it is.
class ViewerPane : public CImgWnd {
  Q_OBJECT

 public:
  ViewerPane(QWidget* parent, const QString& title);

  // Shows the pane (and the dock holding it); the pane keeps its size.
  void FitTo(int width, int height) override;

  // Logical pixels per picture pixel (device-independent, as the window's other sizes).
  double Zoom() const { return zoom_; }
  bool FitsPane() const { return fit_; }
  // Picture coordinates (pixel x spans [x, x + 1)) of a widget point, and back.
  QPointF WidgetToPicture(QPointF at) const;
  QPointF PictureToWidget(QPointF at) const;

  // Zooms by factor keeping the picture point under `anchor` (widget coordinates) in place.
  void ZoomAt(double factor, QPointF anchor);
  // One step in or out around the pointer when it is over the pane, the centre otherwise.
  void ZoomIn();
  void ZoomOut();
  void ShowActualSize();
  void FitToPane();
  // Sets the zoom and the widget position of the picture's top-left corner.
  void SetView(double zoom, QPointF origin);

  // How comparison mode shows its two pictures.
  enum class CompareView { Wipe, SideBySide, Difference };
  CompareView View() const { return view_; }
  void SetCompareView(CompareView view);
  // While flipped, comparison mode shows the Before picture whole (F held).
  bool Flipped() const { return flipped_; }
  void SetFlipped(bool flipped);
  // The difference view shows |before - after| per channel times this.
  static constexpr int kDifferenceGain = 4;
  // The picture the difference view shows (null unless both sides have one size).
  const QImage& DifferencePicture() const { return difference_; }

  // The comparison split as a fraction of the picture width (0.5 at first).
  double SplitFraction() const { return split_; }
  void SetSplitFraction(double fraction);
  // The widget x of the split line.
  double SplitX() const;

  // The two sides of the comparison split when they are not this viewer's own pictures:
  // the aligned first frame, or two results of the runs kept. Null images go back to the
  // viewer's own. The labels name the sides.
  void SetSplitPictures(const QImage& before, const QImage& after, const QString& beforeLabel,
                        const QString& afterLabel);
  QString BeforeLabel() const { return beforeLabel_; }
  QString AfterLabel() const { return afterLabel_; }

  // The picture pixel under a widget point and its colour as shown there (the side of the
  // split it lies on); false off the picture.
  bool PixelUnder(QPointF at, QPoint& pixel, QRgb& colour) const;

  // A locked ROI is shown but stays where it is: a press pans instead (roiLockedPressed).
  // The frame viewer locks it on frames other than frame 0, the frame the ROI is placed on.
  void SetRoiLocked(bool locked);
  bool RoiLocked() const { return roiLocked_; }
  // The ROI follows clicks and drags: ROI selection mode, a ROI attached, not locked.
  bool RoiEditable() const;

  bool HasPicture() const { return !Image().Empty(); }
  bool HasResult() const { return Mode() == kModeComparison && (!CompareImage().Empty() || !splitAfter_.isNull()); }

  static constexpr double kZoomStep = 1.25;
  static constexpr double kMinZoom = 1.0 / 32;
  static constexpr double kMaxZoom = 64.0;

 signals:
  // The user asked to save a picture: the result (comparison mode) or this picture.
  void saveRequested(bool result);
  // The pointer entered the pane or it took the focus: the View menu acts on it.
  void activated();
  // The pointer moved over the pane (at in widget coordinates) or left it (inside false).
  void pointerMoved(QPointF at, bool inside);
  // Zoom or pan changed.
  void viewChanged();
  // A press that would have placed the ROI, had it not been locked.
  void roiLockedPressed();
  // The comparison's view or its flip changed.
  void compareViewChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // What a drag does, chosen when the button goes down.
  enum class Drag { None, Pan, PendingClick, RoiMove, RoiDraw, RoiEdges, Split };
  // Edges of the ROI a press caught.
  enum Edge { kLeft = 1, kRight = 2, kTop = 4, kBottom = 8 };

  double Scale() const;  // logical pixels per picture pixel
  // Two pictures of one size are being compared.
  bool Comparing() const;
  // Applies a change of view or flip, then keeps the view where side by side came or went.
  void ChangeLayout(const std::function<void()>& change);
  bool SideBySide() const { return Comparing() && view_ == CompareView::SideBySide && !flipped_; }
  // The width one copy of the picture is laid out in: half the pane side by side.
  double ViewWidth() const;
  // A widget point in the left copy's coordinates (side by side, the right half maps onto the left).
  QPointF Local(QPointF at) const;
  void DrawLabel(QPainter& painter, const QString& text, double x, double top, bool leftOfX) const;
  QRectF PictureRect() const;
  QRectF RoiWidgetRect() const;
  int RoiEdgesAt(QPointF at) const;
  bool NearSplit(QPointF at) const;
  void RefreshCache();
  void ViewChanged();
  void UpdateCursor(QPointF at);
  void DrawRoiOverlay(QPainter& painter) const;
  void DrawSplit(QPainter& painter, const QRectF& target) const;
  // Sets the attached ROI kept on the picture: moved as a whole (a click, a drag of its
  // inside) or, when edges were dragged, those edges stopped at the picture's border.
  void ApplyRoi(const RoiRect& roi, bool edges = false);
  // A new ROI from the press to picture point `to`.
  void DrawRoiTo(QPointF to);

  double zoom_ = 1.0;
  QPointF offset_;  // widget position of the picture's top-left corner
  bool fit_ = true;
  QSize viewSize_;  // the picture size the view was set up for
  double split_ = 0.5;

  // The engine's picture and the comparison picture, converted when they change.
  QImage picture_;
  QImage compare_;
  QImage splitBefore_, splitAfter_;
  QImage difference_;
  CompareView view_ = CompareView::Wipe;
  bool flipped_ = false;
  QString beforeLabel_, afterLabel_;
  struct CacheKey {
    int mode = -1;
    int splitGeneration = 0;
    RoiRect roi;
    size_t squares = 0, lines = 0;
    int width = 0, height = 0, compareWidth = 0, compareHeight = 0;
    bool operator==(const CacheKey&) const = default;
  };
  CacheKey cacheKey_;
  bool viewOnly_ = false;  // the pending repaint is for zoom, pan or split only
  int splitGeneration_ = 0;

  Drag drag_ = Drag::None;
  int dragEdges_ = 0;
  QPointF pressAt_;
  QPointF lastAt_;
  RoiRect pressRoi_;
  QPointF pointer_;
  bool pointerInside_ = false;
  bool spaceHeld_ = false;
  bool roiLocked_ = false;
};

}  // namespace lumet
