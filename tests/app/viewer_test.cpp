// The viewer window on its own: raster conversion, ROI outline, clicks, comparison hover.
#include <QMouseEvent>

#include "app_test_support.h"
#include "view/img_wnd.h"
#include "view/raster_image.h"

using namespace lumet;

namespace {
DibRaster Uniform(uint32_t color) {
  DibRaster raster(0);
  raster.Create(300, 240, 24, 1);
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 300; ++x) raster.SetPixelColor(x, y, color);
  }
  return raster;
}
void SendMouse(QWidget& widget, QEvent::Type type, QPoint at) {
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, QPointF(at), widget.mapToGlobal(QPointF(at)), button, button, Qt::NoModifier);
  QApplication::sendEvent(&widget, &event);
}
QString At(QPoint at) { return QStringLiteral("at %1,%2").arg(at.x()).arg(at.y()); }
const QRgb kGrey = qRgb(0x60, 0x60, 0x60), kOlive = qRgb(128, 128, 0), kRed = qRgb(255, 0, 0), kBlue = qRgb(0, 0, 255);
}  // namespace

class ViewerTest : public QObject {
  Q_OBJECT
 private slots:
  void RasterBecomesUprightImage() {
    // Width 5 pads each row to 16 bytes; rows are stored bottom-up, colours as 0xBBGGRR (qRgb(b, g, r)).
    DibRaster raster(0);
    raster.Create(5, 3, 24, 1);
    QCOMPARE(raster.Stride(), 16);
    for (int r = 0; r < 3; ++r) {
      for (int x = 0; x < 5; ++x) raster.SetPixelColor(x, 2 - r, qRgb(200 - 7 * x, 30 + 40 * r, 10 + 20 * x));
    }
    const QImage image = RasterToQImage(raster);
    QCOMPARE(image.size(), QSize(5, 3));
    for (int r = 0; r < 3; ++r) {
      for (int x = 0; x < 5; ++x) QCOMPARE(image.pixel(x, r), qRgb(10 + 20 * x, 30 + 40 * r, 200 - 7 * x));
    }
  }

  void RoiOutlineAndClicks() {
    CImgWnd viewer(nullptr, QStringLiteral("frame"), ScreenRect{0, 0, 300, 300});
    RoiRect roi{160, 100, 200, 140};
    viewer.AttachRoi(&roi);
    QVERIFY(viewer.Rendered().isNull());  // no picture (one that could not be made): nothing drawn
    viewer.FitTo(0, 0);
    QVERIFY(!viewer.grab().isNull());
    viewer.SetImage(Uniform(0x606060));
    viewer.FitTo(300, 240);
    // Corners drawn; right, bottom exclusive; empty brush; empty ROI: nothing; over the edge: clipped.
    const std::tuple<RoiRect, QPoint, QRgb> outline[] = {
        {roi, {160, 100}, kOlive}, {roi, {199, 139}, kOlive}, {roi, {200, 100}, kGrey}, {roi, {160, 140}, kGrey},
        {roi, {170, 120}, kGrey},  {{50, 50, 50, 90}, {50, 60}, kGrey}, {{-15, -15, 25, 25}, {0, 24}, kOlive}};
    for (const auto& [rect, at, colour] : outline) {
      roi = rect;
      QVERIFY2(viewer.Rendered().pixel(at) == colour, qPrintable(At(at)));
    }
    viewer.SetMode(kModeDisplay);
    QCOMPARE(viewer.Rendered().pixel(0, 24), kGrey);  // display mode draws no outline
    SendMouse(viewer, QEvent::MouseButtonPress, QPoint(100, 100));  // display and comparison ignore clicks
    viewer.SetMode(kModeComparison);
    SendMouse(viewer, QEvent::MouseButtonPress, QPoint(100, 100));
    QCOMPARE(roi, (RoiRect{-15, -15, 25, 25}));
    // A click keeps the size, centred with halves truncated towards zero, not clamped.
    QCOMPARE(CImgWnd::CentreRoi({0, 0, 41, 40}, 50, 5), (RoiRect{30, -15, 71, 25}));
    QCOMPARE(CImgWnd::CentreRoi({50, 0, 9, 40}, 0, 20), (RoiRect{20, 0, -21, 40}));
  }

  void ComparisonShowsWhileHoveringTheMiddleThird() {
    CImgWnd viewer(nullptr, QStringLiteral("First Frame"), ScreenRect{300, 0, 300, 300});
    viewer.SetImage(Uniform(0x0000FF));
    viewer.SetCompareImage(Uniform(0xFF0000));
    viewer.FitTo(300, 240);
    viewer.SetMode(kModeComparison);
    const std::pair<QPoint, bool> cases[] = {{{150, 120}, true}, {{100, 120}, false}, {{101, 120}, true},
                                             {{199, 120}, true}, {{200, 120}, false}, {{150, 80}, false},
                                             {{150, 81}, true},  {{150, 159}, true},  {{150, 160}, false}};
    for (const auto& [at, inside] : cases) {
      SendMouse(viewer, QEvent::MouseMove, at);
      QVERIFY2(viewer.HoverInside() == inside, qPrintable(At(at)));
      QVERIFY2(viewer.Rendered().pixel(0, 0) == (inside ? kBlue : kRed), qPrintable(At(at)));
    }
  }
};

LUMET_QTEST_MAIN(ViewerTest)
#include "viewer_test.moc"
