// The viewer window on its own: raster conversion, ROI outline, clicks, comparison hover,
// and the same pixels as the command line's viewers for the same state.
#include <QMouseEvent>

#include "app_test_support.h"
#include "view/img_wnd.h"
#include "view/raster_image.h"
#include "workbench/model_port.h"

using namespace lumet;

namespace {
DibRaster Uniform(uint32_t color, int width = 300, int height = 240) {
  DibRaster raster(0);
  raster.Create(width, height, 24, 1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) raster.SetPixelColor(x, y, color);
  }
  return raster;
}
void SendMouse(QWidget& widget, QEvent::Type type, QPoint at) {
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, QPointF(at), widget.mapToGlobal(QPointF(at)), button, button, Qt::NoModifier);
  QApplication::sendEvent(&widget, &event);
}
// A picture whose every pixel differs from its neighbours, so flips and shifts show.
DibRaster Gradient(int width, int height) {
  DibRaster raster(0);
  raster.Create(width, height, 24, 1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) raster.SetPixelColor(x, y, (7u * x) | ((5u * y) << 8) | ((3u * (x + y)) << 16));
  }
  return raster;
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

  void WindowShowsWhatTheCommandLineRenders() {
    // One state given to the window and to the command line's port (ModelPort); the window's
    // painted client area must equal the shared renderer's raster pixel for pixel.
    const DibRaster picture = Gradient(64, 48);
    const DibRaster compare = Uniform(0x00FF00, 64, 48);
    const std::vector<MarkPoint> squares = {{10, 10}, {0, 0}, {63, 47}, {32, 20}};
    const std::vector<MarkLine> lines = {{2, 40, 60, 3}, {-5, 5, 70, 5}, {30, 30, 30, 30}};
    struct Case {
      const char* name;
      int mode;
      RoiRect roi;
      bool hover;
    };
    const Case cases[] = {{"roi selection", kModeRoiSelection, {20, 10, 60, 50}, false},
                          {"roi over the edge", kModeRoiSelection, {-15, -15, 25, 25}, false},
                          {"display", kModeDisplay, {20, 10, 60, 50}, false},
                          {"comparison, outside", kModeComparison, {20, 10, 60, 50}, false},
                          {"comparison, hovering", kModeComparison, {20, 10, 60, 50}, true}};
    for (const Case& c : cases) {
      ModelPort port;
      port.CreateViewer(Viewer::Frame, "LR frames", ScreenRect{300, 0, 300, 300});
      port.ShowPicture(Viewer::Frame, picture);
      port.SetComparePicture(Viewer::Frame, compare);
      port.AttachRoi(Viewer::Frame, c.roi);
      port.DrawSquares(Viewer::Frame, squares);
      port.DrawLines(Viewer::Frame, lines);
      port.SetViewerMode(Viewer::Frame, c.mode);

      CImgWnd window(nullptr, QStringLiteral("LR frames"), ScreenRect{300, 0, 300, 300});
      RoiRect roi = c.roi;
      window.AttachRoi(&roi);
      window.FitTo(64, 48);
      window.SetImage(picture);
      window.SetCompareImage(compare);
      window.AddSquares(squares);
      window.AddLines(lines);
      window.SetMode(c.mode);
      if (c.hover) SendMouse(window, QEvent::MouseMove, QPoint(32, 24));
      QVERIFY2(window.HoverInside() == c.hover, c.name);

      const QImage expected = RasterToQImage(RenderViewer(port.Model(Viewer::Frame), c.hover));
      const QImage painted = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
      QVERIFY2(painted.size() == expected.size(), c.name);
      QVERIFY2(painted == expected, c.name);
      QVERIFY2(window.Rendered() == expected, c.name);
      if (!c.hover) QVERIFY2(RasterToQImage(port.Render(Viewer::Frame)) == expected, c.name);
    }
  }
};

LUMET_QTEST_MAIN(ViewerTest)
#include "viewer_test.moc"
