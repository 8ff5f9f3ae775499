// The main dialog: start-up from param.txt, the fields and their formats, the ROI fields,
// Init params, the log pane, the version dialog and closing.
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <limits>

#include "app/dialog_units.h"
#include "app/field_format.h"
#include "app_test_support.h"
#include "util/text_format.h"
#include "view/img_wnd.h"

using namespace lumet;
using namespace lumet::apptest;

namespace {

QLineEdit* Field(CLumetDlg& dialog, int id) { return dialog.findChild<QLineEdit*>(QString::number(id)); }
QRadioButton* Radio(CLumetDlg& dialog, int id) { return dialog.findChild<QRadioButton*>(QString::number(id)); }
QPushButton* Button(CLumetDlg& dialog, int id) { return dialog.findChild<QPushButton*>(QString::number(id)); }

// Replaces a field's text by typing, the way a user does: select all, then type.
void TypeInto(QLineEdit* field, const QString& text) {
  field->setFocus();
  field->selectAll();
  if (text.isEmpty()) {
    QTest::keyClick(field, Qt::Key_Backspace);
  } else {
    QTest::keyClicks(field, text);
  }
}

// Line n (1-based) of ./param.txt.
QString ParamLine(int n) { return FileLines(QStringLiteral("param.txt")).value(n - 1); }

ParamSet SampleParams() {
  ParamSet p = InitParams();
  p.lrPattern = "./frames/f%03d.bmp";
  p.outputBase = "./out/sr";
  p.lrCount = 12;
  p.roi = RoiRect{10, 20, 50, 60};
  p.psfSigma = 0.75;
  p.alpha = 0.5;
  p.beta = 2.0;
  p.lambda = 0.01;
  p.filterSigma = 1.25;
  p.ransacFirst = 7;
  p.ransacSecond = 9;
  p.sadSize = 5;
  p.searchArea = 11;
  return p;
}

}  // namespace

class DialogTest : public QObject {
  Q_OBJECT

 private slots:
  void StartUpShowsTheFileAndSetsTheScale() {
    struct Case {
      double scale;
      bool x3;
    };
    for (const Case c : {Case{4.0, false}, Case{3.0, true}, Case{3.5, true}, Case{5.0, false}}) {
      QTemporaryDir dir;
      ScopedCurrentDir cwd(dir.path());
      ParamSet p = SampleParams();
      p.scale = c.scale;
      SaveParams("param.txt", p);
      CLumetDlg dialog;
      const QString label = QStringLiteral("scale %1").arg(c.scale);
      QVERIFY2(Radio(dialog, 1011)->isChecked() == c.x3, qPrintable(label));
      QVERIFY2(Radio(dialog, 1012)->isChecked() == !c.x3, qPrintable(label));
      QCOMPARE(Field(dialog, 1007)->text(), QStringLiteral("./frames/f%03d.bmp"));
      QCOMPARE(Field(dialog, 1008)->text(), QStringLiteral("./out/sr"));
      QCOMPARE(Field(dialog, 1009)->text(), QStringLiteral("12"));
      QCOMPARE(Field(dialog, 1010)->text(), QStringLiteral("0.750"));
      QCOMPARE(Field(dialog, 1013)->text(), QStringLiteral("0.500"));
      QCOMPARE(Field(dialog, 1014)->text(), QStringLiteral("2.000"));
      QCOMPARE(Field(dialog, 1015)->text(), QStringLiteral("0.010"));
      QCOMPARE(Field(dialog, 1016)->text(), QStringLiteral("10"));
      QCOMPARE(Field(dialog, 1017)->text(), QStringLiteral("20"));
      QCOMPARE(Field(dialog, 1018)->text(), QStringLiteral("40"));
      QCOMPARE(Field(dialog, 1019)->text(), QStringLiteral("40"));
      QCOMPARE(Field(dialog, 1020)->text(), QStringLiteral("1.250"));
      QCOMPARE(Field(dialog, 1021)->text(), QStringLiteral("7"));
      QCOMPARE(Field(dialog, 1022)->text(), QStringLiteral("9"));
      QCOMPARE(Field(dialog, 1023)->text(), QStringLiteral("5"));
      QCOMPARE(Field(dialog, 1024)->text(), QStringLiteral("11"));
      QCOMPARE(dialog.Params().roi, (RoiRect{10, 20, 50, 60}));
      QCOMPARE(dialog.Params().referenceFile, std::string("./frames/f000.bmp"));

      // The first command takes the scale from the radio buttons.
      QVERIFY(dialog.ReadControls());
      QCOMPARE(ParamLine(8), c.x3 ? QStringLiteral("3") : QStringLiteral("4"));
    }
  }

  void StartUpWithoutFileWritesTheInitValues() {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    CLumetDlg dialog;
    QCOMPARE(ReadText(QStringLiteral("param.txt")), QString::fromStdString(FormatParamFile(InitParams())));
    QVERIFY(Radio(dialog, 1012)->isChecked());
    QCOMPARE(Field(dialog, 1007)->text(), QStringLiteral("./images/lr-%d.bmp"));
    QCOMPARE(Field(dialog, 1009)->text(), QStringLiteral("30"));
    QCOMPARE(Field(dialog, 1015)->text(), QStringLiteral("0.003"));
    QCOMPARE(Field(dialog, 1018)->text(), QStringLiteral("40"));
    QVERIFY(dialog.LogText().isEmpty());
  }

  void ShortFileKeepsTheInitValuesFromTheFailingValueOn() {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    WriteText(QStringLiteral("param.txt"), "./a/%d.bmp\n./b\n7\n1\n2\n");
    CLumetDlg dialog;
    QCOMPARE(Field(dialog, 1007)->text(), QStringLiteral("./a/%d.bmp"));
    QCOMPARE(Field(dialog, 1009)->text(), QStringLiteral("7"));
    QCOMPARE(dialog.Params().roi, (RoiRect{1, 2, 200, 140}));
    QCOMPARE(Field(dialog, 1021)->text(), QStringLiteral("20"));
    QCOMPARE(ParamLine(6), QStringLiteral("200"));
  }

  void RoiFieldsMoveAndResizeTheRoi() {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    SaveParams("param.txt", SampleParams());  // ROI left 10, top 20, right 50, bottom 60
    CLumetDlg dialog;
    dialog.show();
    {
      TypeInto(Field(dialog, 1016), QStringLiteral("25"));
      QCOMPARE(dialog.Params().roi.left, 25);
      QCOMPARE(dialog.Params().roi.right, 65);
    }
    {
      TypeInto(Field(dialog, 1018), QStringLiteral("30"));
      QCOMPARE(dialog.Params().roi.left, 25);
      QCOMPARE(dialog.Params().roi.right, 55);
    }
    {
      TypeInto(Field(dialog, 1017), QStringLiteral("5"));
      QCOMPARE(dialog.Params().roi.top, 5);
      QCOMPARE(dialog.Params().roi.bottom, 45);  // height 40 kept
      TypeInto(Field(dialog, 1019), QStringLiteral("12"));
      QCOMPARE(dialog.Params().roi.bottom, 17);
    }
    {
      TypeInto(Field(dialog, 1018), QString());
      QCOMPARE(Field(dialog, 1018)->text(), QString());
      QCOMPARE(dialog.Params().roi.right, 25);  // empty w: right = left
    }
    // The next command stores left, top, right, bottom.
    TypeInto(Field(dialog, 1018), QStringLiteral("8abc"));
    QVERIFY(dialog.ReadControls());
    QCOMPARE(ParamLine(4), QStringLiteral("25"));
    QCOMPARE(ParamLine(5), QStringLiteral("5"));
    QCOMPARE(ParamLine(6), QStringLiteral("33"));
    QCOMPARE(ParamLine(7), QStringLiteral("17"));
    QCOMPARE(Field(dialog, 1018)->text(), QStringLiteral("8"));  // shown again canonically
  }

  void ClickInReferenceViewerWritesTheRoiFields() {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    ParamSet p = SampleParams();
    p.roi = RoiRect{160, 100, 200, 140};
    SaveParams("param.txt", p);
    CLumetDlg dialog;
    dialog.CreateViewerWindow(Viewer::Reference, QStringLiteral("frame"), ScreenRect{0, 0, 300, 300});
    CImgWnd* viewer = dialog.refViewer;
    QVERIFY(viewer != nullptr);
    DibRaster picture(0);
    picture.Create(300, 240, 24, 1);
    viewer->SetImage(picture);
    viewer->FitTo(300, 240);
    dialog.AttachRoiTo(Viewer::Reference);

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(50, 60), viewer->mapToGlobal(QPointF(50, 60)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewer, &press);
    QCOMPARE(Field(dialog, 1016)->text(), QStringLiteral("30"));
    QCOMPARE(Field(dialog, 1017)->text(), QStringLiteral("40"));
    QCOMPARE(Field(dialog, 1018)->text(), QStringLiteral("40"));
    QCOMPARE(Field(dialog, 1019)->text(), QStringLiteral("40"));
    QCOMPARE(dialog.Params().roi, (RoiRect{30, 40, 70, 80}));

    // Typing into a field moves the outline the viewer draws.
    TypeInto(Field(dialog, 1016), QStringLiteral("7"));
    QCOMPARE(viewer->Rendered().pixel(7, 40), qRgb(128, 128, 0));
  }

  void InitParamsKeepsTheRadioButtons() {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    SaveParams("param.txt", SampleParams());
    CLumetDlg dialog;
    QVERIFY(Radio(dialog, 1012)->isChecked());
    Radio(dialog, 1011)->click();
    QVERIFY(Radio(dialog, 1011)->isChecked());
    QVERIFY(!Radio(dialog, 1012)->isChecked());
    Button(dialog, 1005)->click();
    QVERIFY(Radio(dialog, 1011)->isChecked());
    QCOMPARE(ReadText(QStringLiteral("param.txt")), QString::fromStdString(FormatParamFile(InitParams())));
    QCOMPARE(ParamLine(8), QStringLiteral("4"));
    QCOMPARE(Field(dialog, 1007)->text(), QStringLiteral("./images/lr-%d.bmp"));
    QCOMPARE(Field(dialog, 1016)->text(), QStringLiteral("160"));
    QCOMPARE(dialog.Params().roi, (RoiRect{160, 100, 200, 140}));
    QVERIFY(dialog.ReadControls());
    QCOMPARE(ParamLine(8), QStringLiteral("3"));
  }

  void DoublesThatThreeDecimalsWouldChangeKeepTheirDigits() {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    ParamSet p = SampleParams();
    p.lambda = 0.0004;
    p.alpha = 0.12345;
    p.psfSigma = 1e-7;
    SaveParams("param.txt", p);
    CLumetDlg dialog;
    QCOMPARE(Field(dialog, 1015)->text(), QStringLiteral("0.0004"));
    QCOMPARE(Field(dialog, 1013)->text(), QStringLiteral("0.12345"));
    QCOMPARE(Field(dialog, 1010)->text(), QStringLiteral("0.0000001"));
    QCOMPARE(Field(dialog, 1014)->text(), QStringLiteral("2.000"));
    QVERIFY(dialog.ReadControls());
    QCOMPARE(ParamLine(12), QStringLiteral("0.0004"));
    QCOMPARE(ParamLine(10), QStringLiteral("0.12345"));
    QCOMPARE(ParamLine(9), QStringLiteral("1e-07"));
  }

  void FieldFormatsRoundTrip() {
    const double values[] = {0.0,    0.6,     0.003,   1.5,        0.0004, 0.1 + 0.2, 1234567.891,
                             -2.125, 1e-300, 123e200, 0.30000001, 4.0};
    for (const double v : values) {
      const QString text = FormatDoubleField(v);
      QVERIFY2(ParseDoubleField(text) == v, qPrintable(text));
      QVERIFY2(text.size() <= 24, qPrintable(text));
    }
    QCOMPARE(FormatDoubleField(0.6), QStringLiteral("0.600"));
    QCOMPARE(FormatDoubleField(-2.125), QStringLiteral("-2.125"));
    QCOMPARE(FormatDoubleField(0.30000001), QStringLiteral("0.30000001"));
    QCOMPARE(FormatDoubleField(1e-12), QStringLiteral("1e-12"));  // general notation when fixed gets long
    QCOMPARE(FormatDoubleField(std::numeric_limits<double>::infinity()), QStringLiteral("inf"));
    QCOMPARE(FormatIntField(-15), QStringLiteral("-15"));
    QCOMPARE(ParseIntField(QStringLiteral(" 12abc")), 12);
    QCOMPARE(ParseIntField(QString()), 0);
    QCOMPARE(ParseDoubleField(QStringLiteral("0.5x")), 0.5);
    QCOMPARE(ParseDoubleField(QStringLiteral("abc")), 0.0);
  }

  void RefusedTextValueIsLoggedAndNotSaved() {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    CLumetDlg dialog;
    const QString before = ReadText(QStringLiteral("param.txt"));
    TypeInto(Field(dialog, 1007), QStringLiteral("./images/lr-%s.bmp"));
    QVERIFY(!dialog.ReadControls());
    QCOMPARE(ReadText(QStringLiteral("param.txt")), before);
    const QStringList lines = LogLines(dialog);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].startsWith(QStringLiteral("Error: ")), qPrintable(lines[0]));
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    // No command starts on refused values.
    QVERIFY(!dialog.StartCommand(CLumetDlg::Command::ShowReference));
    QVERIFY(!dialog.CommandRunning());
  }

  void LogPaneShowsEachTextOnItsOwnLine() {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    CLumetDlg dialog;
    dialog.show();
    dialog.AppendLog("MAE(3) = 4.5->4.25\r\n\n");
    dialog.AppendLog("\n");
    dialog.AppendLog("MAE(0) = 0.000000\r\n");
    dialog.AppendLog("Cancelled");
    QCOMPARE(dialog.LogText(), QStringLiteral("MAE(3) = 4.5->4.25\nMAE(0) = 0.000000\nCancelled"));
    for (int i = 0; i < 200; ++i) dialog.AppendLog(Format("MAE(%d) = %f\r\n", i, 1.0));
    QApplication::processEvents();
    auto* log = dialog.findChild<QPlainTextEdit*>(QStringLiteral("1003"));
    QVERIFY(log != nullptr);
    QVERIFY(log->isReadOnly());
    QVERIFY(log->verticalScrollBar()->maximum() > 0);
    QCOMPARE(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
  }

  void ControlsCarryTheirIdsAndTexts() {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    CLumetDlg dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Lumet"));
    const std::pair<int, const char*> buttons[] = {
        {1001, "Show Reference"}, {1002, "Registration LR Frames"}, {1004, "Reconstruction"}, {1005, "Init params"}};
    for (const auto& [id, text] : buttons) {
      QPushButton* button = Button(dialog, id);
      QVERIFY2(button != nullptr, qPrintable(QString::number(id)));
      QCOMPARE(button->text(), QString::fromUtf8(text));
    }
    for (const int id : {1007, 1008, 1009, 1010, 1013, 1014, 1015, 1016, 1017, 1018, 1019, 1020, 1021, 1022, 1023,
                         1024}) {
      QVERIFY2(Field(dialog, id) != nullptr, qPrintable(QString::number(id)));
      QVERIFY(!Field(dialog, id)->isReadOnly());
    }
    QCOMPARE(Radio(dialog, 1011)->text(), QStringLiteral("x3"));
    QCOMPARE(Radio(dialog, 1012)->text(), QStringLiteral("x4"));
    QStringList groups;
    for (const QGroupBox* box : dialog.findChildren<QGroupBox*>()) groups << box->title();
    groups.sort();
    QCOMPARE(groups, (QStringList{QStringLiteral("Reconstruction Setting"), QStringLiteral("Registration Setting")}));
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
    for (const char* text : {"LR files", "Output", "LR num", "PSF Sigma", "Scale factor", "\u03b1", "\u03b2",
                             "\u03bb", "ROI", "x", "y", "w", "h", "Filter Sigma", "Ransac", "/", "SAD size",
                             "Search Area"}) {
      QVERIFY2(labels.contains(QString::fromUtf8(text)), text);
    }
    // The controls sit where the template puts them, in the dialog font's units.
    const DialogUnits du(dialog.font());
    QCOMPARE(Button(dialog, 1001)->geometry(), du.Rect(17, 21, 82, 14));
    QCOMPARE(dialog.findChild<QWidget*>(QStringLiteral("1003"))->geometry(), du.Rect(7, 204, 314, 87));
    QCOMPARE(dialog.font().pointSize(), 9);
  }

  void DialogUnitsFollowTheFontMetrics() {
    const DialogUnits du(7, 15);
    QCOMPARE(du.X(4), 7);
    QCOMPARE(du.Y(8), 15);
    QCOMPARE(du.X(327), 572);  // 327 * 7 / 4 = 572.25
    QCOMPARE(du.Y(298), 559);  // 298 * 15 / 8 = 558.75
    // Adjacent template rectangles stay adjacent after rounding.
    QCOMPARE(du.Rect(17, 21, 82, 14).right() + 1, du.Rect(99, 21, 10, 14).left());
  }

  void VersionDialogFromF1AndContextMenu() {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    CLumetDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QString title;
    QStringList texts;
    auto closeVersionDialog = [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || modal == &dialog) return;
      title = modal->windowTitle();
      for (const QLabel* label : modal->findChildren<QLabel*>()) texts << label->text();
      for (QPushButton* button : modal->findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("OK")) button->click();
      }
    };
    QTimer::singleShot(0, &dialog, closeVersionDialog);
    QTest::keyClick(&dialog, Qt::Key_F1);
    QCOMPARE(title, QStringLiteral("Lumetのﾊﾞｰｼﾞｮﾝ情報"));
    QVERIFY(texts.contains(QStringLiteral("Lumet Version 1.0")));

    title.clear();
    QString entry;
    QTimer::singleShot(0, &dialog, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (menu == nullptr) return;
      entry = menu->actions().value(0)->text();
      QTimer::singleShot(0, &dialog, closeVersionDialog);
      menu->actions().value(0)->trigger();
      menu->close();
    });
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5), dialog.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&dialog, &menuEvent);
    QCOMPARE(entry, QStringLiteral("Lumet のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    QCOMPARE(title, QStringLiteral("Lumetのﾊﾞｰｼﾞｮﾝ情報"));
    QVERIFY(dialog.isVisible());
  }

  void EscapeEndsTheDialog() {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    CLumetDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(Field(dialog, 1009), Qt::Key_Return);
    QVERIFY(dialog.isVisible());  // Enter in a field neither runs a command nor ends the program
    QVERIFY(!dialog.CommandRunning());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), static_cast<int>(QDialog::Rejected));
  }
};

LUMET_QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
