// The viewer window on its own: raster conversion, ROI outline, marks, clicks and the
// comparison hover.
#include <QFocusEvent>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include "app_test_support.h"
#include "view/img_wnd.h"
#include "view/raster_image.h"

using namespace lumet;

namespace {

// Picture colour at (x, row r from the top) of the test pattern.
uint32_t PatternColor(int x, int r) {
  const uint32_t red = static_cast<uint32_t>(10 + 20 * x);
  const uint32_t green = static_cast<uint32_t>(30 + 40 * r);
  const uint32_t blue = static_cast<uint32_t>(200 - 7 * x - 11 * r);
  return red | green << 8 | blue << 16;
}

QRgb AsQRgb(uint32_t color) { return qRgb(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF); }

DibRaster Uniform(int width, int height, uint32_t color) {
  DibRaster raster(0);
  raster.Create(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 24, 1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) raster.SetPixelColor(x, y, color);
  }
  return raster;
}

void SendMove(QWidget& widget, QPoint at) {
  QMouseEvent move(QEvent::MouseMove, QPointF(at), widget.mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(&widget, &move);
}

void SendClick(QWidget& widget, QPoint at) {
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), widget.mapToGlobal(QPointF(at)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&widget, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), widget.mapToGlobal(QPointF(at)), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&widget, &release);
}

constexpr uint32_t kGrey = 0x606060;
constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kBlue = 0xFF0000;

}  // namespace

class ViewerTest : public QObject {
  Q_OBJECT

 private slots:
  void RasterBecomesUprightImage() {
    // Width 5 pads each raster row to 16 bytes; rows are stored bottom-up as BGR.
    const int width = 5;
    const int height = 3;
    DibRaster raster(0);
    raster.Create(width, height, 24, 1);
    QCOMPARE(raster.Stride(), 16);
    for (int r = 0; r < height; ++r) {
      for (int x = 0; x < width; ++x) raster.SetPixelColor(x, height - 1 - r, PatternColor(x, r));
    }
    const QImage image = RasterToQImage(raster);
    QCOMPARE(image.size(), QSize(width, height));
    for (int r = 0; r < height; ++r) {
      for (int x = 0; x < width; ++x) {
        QCOMPARE(image.pixel(x, r), AsQRgb(PatternColor(x, r)));
      }
    }
    QVERIFY(RasterToQImage(DibRaster(0)).isNull());
  }

  void RoiOutlineCoversLeftToRightMinusOne() {
    CImgWnd viewer(nullptr, QStringLiteral("frame"), ScreenRect{0, 0, 300, 300});
    viewer.SetImage(Uniform(300, 240, kGrey));
    RoiRect roi{160, 100, 200, 140};
    viewer.AttachRoi(&roi);
    viewer.SetMode(kModeRoiSelection);
    const QImage shown = viewer.Rendered();
    const QRgb olive = qRgb(128, 128, 0);
    for (int x = 160; x < 200; ++x) {
      QCOMPARE(shown.pixel(x, 100), olive);
      QCOMPARE(shown.pixel(x, 139), olive);
    }
    for (int y = 100; y < 140; ++y) {
      QCOMPARE(shown.pixel(160, y), olive);
      QCOMPARE(shown.pixel(199, y), olive);
    }
    const QRgb grey = AsQRgb(kGrey);
    QCOMPARE(shown.pixel(200, 100), grey);  // right edge is exclusive
    QCOMPARE(shown.pixel(160, 140), grey);  // bottom edge is exclusive
    QCOMPARE(shown.pixel(159, 100), grey);
    QCOMPARE(shown.pixel(170, 120), grey);  // empty brush

    viewer.SetMode(kModeDisplay);
    QCOMPARE(viewer.Rendered().pixel(160, 100), grey);

    // The outline follows the owner's rectangle, not a copy.
    viewer.SetMode(kModeRoiSelection);
    roi = RoiRect{10, 20, 30, 40};
    QCOMPARE(viewer.Rendered().pixel(10, 20), olive);
    QCOMPARE(viewer.Rendered().pixel(160, 100), grey);

    // An empty ROI draws nothing; one hanging over the picture's edge is clipped.
    roi = RoiRect{50, 50, 50, 90};
    QCOMPARE(viewer.Rendered(), RasterToQImage(Uniform(300, 240, kGrey)));
    roi = RoiRect{-15, -15, 25, 25};
    QCOMPARE(viewer.Rendered().pixel(0, 24), olive);
    QCOMPARE(viewer.Rendered().pixel(24, 0), olive);
  }

  void MarksStayUntilThePictureIsReplaced() {
    CImgWnd viewer(nullptr, QStringLiteral("LR frames"), ScreenRect{300, 0, 300, 300});
    viewer.SetImage(Uniform(20, 20, kGrey));
    viewer.SetMode(kModeDisplay);
    viewer.AddSquares({MarkPoint{10, 10}});
    viewer.AddLines({MarkLine{0, 0, 4, 0}, MarkLine{0, 5, 3, 8}});
    const QImage shown = viewer.Rendered();
    const QRgb red = qRgb(255, 0, 0);
    const QRgb black = qRgb(0, 0, 0);
    const QRgb grey = AsQRgb(kGrey);
    {
      // The ring around the centre, centre untouched.
      for (int y = 9; y <= 11; ++y) {
        for (int x = 9; x <= 11; ++x) QCOMPARE(shown.pixel(x, y), (x == 10 && y == 10) ? grey : red);
      }
      QCOMPARE(shown.pixel(12, 10), grey);
    }
    {
      // Lines leave out their end pixel.
      for (int x = 0; x < 4; ++x) QCOMPARE(shown.pixel(x, 0), black);
      QCOMPARE(shown.pixel(4, 0), grey);
      QCOMPARE(shown.pixel(1, 6), black);
      QCOMPARE(shown.pixel(2, 7), black);
      QCOMPARE(shown.pixel(3, 8), grey);
    }
    viewer.SetImage(Uniform(20, 20, kGrey));
    QCOMPARE(viewer.SquareCount(), size_t{0});
    QCOMPARE(viewer.LineCount(), size_t{0});
    QCOMPARE(viewer.Rendered().pixel(9, 9), grey);
  }

  void ClickCentresTheRoi() {
    CImgWnd viewer(nullptr, QStringLiteral("frame"), ScreenRect{0, 0, 300, 300});
    viewer.SetImage(Uniform(300, 240, kGrey));
    viewer.FitTo(300, 240);
    RoiRect roi{160, 100, 200, 140};
    viewer.AttachRoi(&roi);
    QSignalSpy changed(&viewer, &CImgWnd::roiChanged);

    SendClick(viewer, QPoint(50, 60));
    QCOMPARE(roi, (RoiRect{30, 40, 70, 80}));
    QCOMPARE(changed.count(), 1);
    {
      roi = RoiRect{0, 0, 41, 40};  // odd width
      SendClick(viewer, QPoint(50, 5));
      QCOMPARE(roi, (RoiRect{30, -15, 71, 25}));  // not clamped to the picture
    }
    {
      // Halves truncate towards zero: a width of -41 gives -20, not -21.
      roi = RoiRect{50, 0, 9, 40};
      SendClick(viewer, QPoint(0, 20));
      QCOMPARE(roi, (RoiRect{20, 0, -21, 40}));
    }
    const int clicksSoFar = static_cast<int>(changed.count());
    const RoiRect before = roi;
    for (const int mode : {kModeDisplay, kModeComparison}) {
      viewer.SetMode(mode);
      SendClick(viewer, QPoint(100, 100));
      QCOMPARE(roi, before);
    }
    viewer.SetMode(kModeRoiSelection);
    viewer.SetInteractive(false);  // a command is running
    SendClick(viewer, QPoint(100, 100));
    QCOMPARE(roi, before);
    viewer.SetInteractive(true);
    viewer.AttachRoi(nullptr);
    SendClick(viewer, QPoint(100, 100));
    QCOMPARE(roi, before);
    QCOMPARE(static_cast<int>(changed.count()), clicksSoFar);
  }

  void ComparisonShowsWhileHoveringTheMiddleThird() {
    CImgWnd viewer(nullptr, QStringLiteral("First Frame"), ScreenRect{300, 0, 300, 300});
    viewer.SetImage(Uniform(300, 240, kRed));
    viewer.SetCompareImage(Uniform(300, 240, kBlue));
    viewer.FitTo(300, 240);
    QCOMPARE(viewer.size(), QSize(300, 240));
    viewer.SetMode(kModeComparison);
    const QRgb main = AsQRgb(kRed);
    const QRgb compare = AsQRgb(kBlue);

    struct Case {
      QPoint at;
      bool inside;
    };
    const Case cases[] = {{{150, 120}, true}, {{100, 120}, false}, {{101, 120}, true}, {{199, 120}, true},
                          {{200, 120}, false}, {{150, 80}, false},  {{150, 81}, true},  {{150, 159}, true},
                          {{150, 160}, false}, {{5, 5}, false}};
    for (const Case& c : cases) {
      SendMove(viewer, c.at);
      QVERIFY2(viewer.HoverInside() == c.inside, qPrintable(QStringLiteral("at %1,%2").arg(c.at.x()).arg(c.at.y())));
      QCOMPARE(viewer.Rendered().pixel(0, 0), c.inside ? compare : main);
    }

    SendMove(viewer, QPoint(150, 120));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&viewer, &leave);
    QVERIFY(!viewer.HoverInside());

    SendMove(viewer, QPoint(150, 120));
    QVERIFY(viewer.HoverInside());
    QFocusEvent focusOut(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(&viewer, &focusOut);
    QVERIFY(!viewer.HoverInside());
    QCOMPARE(viewer.Rendered().pixel(0, 0), main);

    // Other modes never switch to the comparison picture.
    viewer.SetMode(kModeDisplay);
    SendMove(viewer, QPoint(150, 120));
    QCOMPARE(viewer.Rendered().pixel(0, 0), main);
  }

  void ViewerWithoutPictureDrawsNothing() {
    CImgWnd viewer(nullptr, QStringLiteral("frame"), ScreenRect{0, 0, 300, 300});
    RoiRect roi{1, 1, 5, 5};
    viewer.AttachRoi(&roi);
    QVERIFY(viewer.Rendered().isNull());
    viewer.FitTo(0, 0);  // a picture that could not be made
    QVERIFY(!viewer.grab().isNull());
  }

  void WindowIsAFloatingToolWithoutCloseButton() {
    QWidget owner;
    CImgWnd viewer(&owner, QStringLiteral("LR frames"), ScreenRect{300, 0, 300, 300});
    QCOMPARE(viewer.windowTitle(), QStringLiteral("LR frames"));
    QVERIFY(viewer.isWindow());
    QCOMPARE(viewer.windowType(), Qt::Tool);
    QVERIFY(!(viewer.windowFlags() & Qt::WindowCloseButtonHint));
    QCOMPARE(viewer.pos(), QPoint(300, 0));
    QVERIFY(!viewer.isVisible());  // shown by the first fit only
    viewer.FitTo(64, 48);
    QVERIFY(viewer.isVisible());
    QCOMPARE(viewer.size(), QSize(64, 48));
    QCOMPARE(viewer.pos(), QPoint(300, 0));
  }
};

LUMET_QTEST_MAIN(ViewerTest)
#include "viewer_test.moc"
