// The commands run from their buttons on a small sequence made here: pictures, titles,
// modes and log lines, the files compared with those of lumet-cli, failures, cancelling
// and closing during a command.
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "app_test_support.h"
#include "view/img_wnd.h"
#include "view/raster_image.h"

using namespace lumet;
using namespace lumet::apptest;

namespace {

QPushButton* Button(CLumetDlg& dialog, int id) { return dialog.findChild<QPushButton*>(QString::number(id)); }
QLineEdit* Field(CLumetDlg& dialog, int id) { return dialog.findChild<QLineEdit*>(QString::number(id)); }

// Clicks a command button and waits for the command to end.
bool RunButton(CLumetDlg& dialog, int id) {
  QSignalSpy finished(&dialog, &CLumetDlg::commandFinished);
  Button(dialog, id)->click();
  if (!dialog.CommandRunning()) return false;
  return finished.wait(120000);
}

void SetField(CLumetDlg& dialog, int id, const QString& text) { Field(dialog, id)->setText(text); }

// Registers the sequence, then starts a reconstruction on a ROI large enough that the
// iteration runs for a good while (hundreds of steps on a 240 x 192 grid).
bool StartLongReconstruction(CLumetDlg& dialog) {
  if (!RunButton(dialog, 1002)) return false;
  SetField(dialog, 1016, QStringLiteral("8"));
  SetField(dialog, 1017, QStringLiteral("8"));
  SetField(dialog, 1018, QStringLiteral("80"));
  SetField(dialog, 1019, QStringLiteral("64"));
  Button(dialog, 1004)->click();
  return dialog.CommandRunning();
}

// The files a registration and reconstruction write, relative to the working folder.
QStringList OutputFiles(int lrCount) {
  QStringList files{QStringLiteral("param.txt"), QStringLiteral("steet_rms.txt"), QStringLiteral("result/hr.bmp"),
                    QStringLiteral("result/first_lr.bmp")};
  for (int k = 1; k <= lrCount; ++k) files << QStringLiteral("result/hr_hom-%1.txt").arg(k);
  return files;
}

}  // namespace

class CommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowReferenceShowsFrameZeroWithTheRoi() {
    QTemporaryDir dir;
    WriteSmallSequence(dir.path());
    ScopedCurrentDir cwd(dir.path());
    CLumetDlg dialog;
    dialog.show();
    SetField(dialog, 1016, QStringLiteral("160"));
    SetField(dialog, 1017, QStringLiteral("100"));
    SetField(dialog, 1018, QStringLiteral("40"));
    SetField(dialog, 1019, QStringLiteral("40"));

    QSignalSpy finished(&dialog, &CLumetDlg::commandFinished);
    Button(dialog, 1001)->click();
    QVERIFY(dialog.CommandRunning());
    {
      // Locked while the command runs.
      QVERIFY(!Field(dialog, 1016)->isEnabled());
      QVERIFY(!Button(dialog, 1002)->isEnabled());
      QVERIFY(!Button(dialog, 1005)->isEnabled());
      QVERIFY(dialog.findChild<QPushButton*>(QStringLiteral("cancel"))->isEnabled());
    }
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QVERIFY(Field(dialog, 1016)->isEnabled());
    QVERIFY(Button(dialog, 1002)->isEnabled());
    QVERIFY(!dialog.findChild<QPushButton*>(QStringLiteral("cancel"))->isEnabled());

    CImgWnd* viewer = dialog.refViewer;
    QVERIFY(viewer != nullptr);
    QVERIFY(dialog.frameViewer == nullptr);
    QCOMPARE(viewer->windowTitle(), QStringLiteral("frame"));
    QCOMPARE(viewer->Mode(), kModeRoiSelection);
    QVERIFY(viewer->isVisible());
    QCOMPARE(viewer->size(), QSize(96, 80));
    QCOMPARE(viewer->pos(), QPoint(0, 0));
    QVERIFY(dialog.LogText().isEmpty());
    QCOMPARE(dialog.Bench().refWidth, 96);

    // The picture is frame 0, upright, with the olive outline where the ROI lies.
    ColorGrayImage frame;
    BmpFile::ReadFrame("images/lr-0.bmp", frame);
    const QImage shown = viewer->Rendered();
    for (const QPoint at : {QPoint(3, 2), QPoint(90, 75), QPoint(40, 11)}) {
      const QRgb expected = qRgb(frame.channels[0][at.y()][at.x()], frame.channels[1][at.y()][at.x()],
                                 frame.channels[2][at.y()][at.x()]);
      QCOMPARE(shown.pixel(at), expected);
    }
    SetField(dialog, 1016, QStringLiteral("30"));
    SetField(dialog, 1017, QStringLiteral("20"));
    QCOMPARE(viewer->Rendered().pixel(30, 20), qRgb(128, 128, 0));
    QCOMPARE(viewer->Rendered().pixel(69, 59), qRgb(128, 128, 0));

    // A click centres the ROI and writes the fields at once.
    SetField(dialog, 1016, QStringLiteral("160"));
    SetField(dialog, 1017, QStringLiteral("100"));
    QTest::mouseClick(viewer, Qt::LeftButton, Qt::NoModifier, QPoint(50, 60));
    QCOMPARE(Field(dialog, 1016)->text(), QStringLiteral("30"));
    QCOMPARE(Field(dialog, 1017)->text(), QStringLiteral("40"));
    QCOMPARE(Field(dialog, 1018)->text(), QStringLiteral("40"));
    QCOMPARE(Field(dialog, 1019)->text(), QStringLiteral("40"));

    // Pressing the button again reuses the window.
    QVERIFY(RunButton(dialog, 1001));
    QCOMPARE(dialog.refViewer, viewer);
    QCOMPARE(viewer->windowTitle(), QStringLiteral("frame"));
    QCOMPARE(ReadText(QStringLiteral("param.txt")).split(QLatin1Char('\n')).value(3), QStringLiteral("30"));
  }

  void MissingReferenceFrameIsLogged() {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    CLumetDlg dialog;
    QSignalSpy finished(&dialog, &CLumetDlg::commandFinished);
    QVERIFY(RunButton(dialog, 1001));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    const QStringList lines = LogLines(dialog);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].startsWith(QStringLiteral("Error: ")) && lines[0].contains(QStringLiteral("lr-0.bmp")),
             qPrintable(lines[0]));
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(Button(dialog, 1001)->isEnabled());
  }

  void RegistrationAndReconstructionMatchTheCommandLine() {
    QTemporaryDir guiDir;
    QTemporaryDir cliDir;
    const SmallSequence seq;
    WriteSmallSequence(guiDir.path(), seq);
    WriteSmallSequence(cliDir.path(), seq);

    QProcess cli;
    cli.start(QStringLiteral(LUMET_CLI_PATH), {QStringLiteral("-C"), cliDir.path(), QStringLiteral("run")});
    QVERIFY(cli.waitForFinished(300000));
    QCOMPARE(cli.exitCode(), 0);
    const QStringList cliLines = QString::fromUtf8(cli.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);

    ScopedCurrentDir cwd(guiDir.path());
    CLumetDlg dialog;
    dialog.show();

    QVERIFY(RunButton(dialog, 1002));
    {
      const QStringList lines = LogLines(dialog);
      QCOMPARE(lines.size(), seq.lrCount);
      const QRegularExpression mae(QStringLiteral("^MAE\\((\\d+)\\) = [0-9.e+-]+->[0-9.e+-]+$"));
      for (int k = 1; k <= seq.lrCount; ++k) {
        const auto match = mae.match(lines[k - 1]);
        QVERIFY2(match.hasMatch() && match.captured(1).toInt() == k, qPrintable(lines[k - 1]));
      }
      QVERIFY(dialog.refViewer != nullptr && dialog.frameViewer != nullptr);
      QCOMPARE(dialog.refViewer->windowTitle(), QStringLiteral("frame"));
      QCOMPARE(dialog.refViewer->Mode(), kModeRoiSelection);
      QCOMPARE(dialog.frameViewer->windowTitle(), QStringLiteral("./images/lr-%1.bmp").arg(seq.lrCount));
      QCOMPARE(dialog.frameViewer->Mode(), kModeRoiSelection);
      QVERIFY(dialog.frameViewer->RoiAttached());
      QCOMPARE(dialog.frameViewer->pos(), QPoint(300, 0));
      QCOMPARE(dialog.frameViewer->size(), QSize(seq.width, seq.height));
      QVERIFY(dialog.refViewer->SquareCount() > 0);  // feature points of frame 0
      QVERIFY(dialog.refViewer->LineCount() > 0);    // matches of every frame
      QVERIFY(dialog.frameViewer->SquareCount() > 0);
    }

    QVERIFY(RunButton(dialog, 1004));
    const QStringList lines = LogLines(dialog);
    QCOMPARE(lines, cliLines);  // every log line, in order, as the command line prints them
    QCOMPARE(lines.size(), 2 * seq.lrCount + 1);
    QVERIFY2(lines[seq.lrCount].startsWith(QStringLiteral("MAE(0) = ")), qPrintable(lines[seq.lrCount]));
    QVERIFY2(lines.last().startsWith(QStringLiteral("Threshold(2/3) = ")), qPrintable(lines.last()));

    CImgWnd* ref = dialog.refViewer;
    CImgWnd* frame = dialog.frameViewer;
    const QSize hr(seq.roi.Width() * 3, seq.roi.Height() * 3);
    QCOMPARE(ref->windowTitle(), QStringLiteral("reconst.. 2 band ---99 steps"));
    QCOMPARE(frame->windowTitle(), QStringLiteral("./images/lr-%1.bmp").arg(seq.lrCount));  // kept from registration
    QCOMPARE(ref->Mode(), kModeDisplay);
    QCOMPARE(frame->Mode(), kModeComparison);
    QCOMPARE(ref->size(), hr);
    QCOMPARE(frame->size(), hr);
    {
      // The result is shown, compared against the enlarged first frame.
      ColorGrayImage result;
      BmpFile::ReadFrame("result/hr.bmp", result);
      ColorGrayImage firstFrame;
      BmpFile::ReadFrame("result/first_lr.bmp", firstFrame);
      DibRaster resultRaster(0);
      ImageToRaster(result, resultRaster);
      DibRaster firstRaster(0);
      ImageToRaster(firstFrame, firstRaster);
      QCOMPARE(ref->Rendered(), RasterToQImage(resultRaster));
      QCOMPARE(frame->Rendered(), RasterToQImage(firstRaster));
      QCOMPARE(RasterToQImage(frame->CompareImage()), RasterToQImage(resultRaster));
    }

    for (const QString& file : OutputFiles(seq.lrCount)) {
      const QByteArray gui = ReadBytes(guiDir.filePath(file));
      QVERIFY2(!gui.isEmpty(), qPrintable(file));
      QVERIFY2(gui == ReadBytes(cliDir.filePath(file)), qPrintable(file + QStringLiteral(" differs")));
    }

    // Show Reference afterwards takes the reference viewer back to ROI selection and
    // keeps the title the reconstruction left.
    QVERIFY(RunButton(dialog, 1001));
    QCOMPARE(ref->Mode(), kModeRoiSelection);
    QCOMPARE(ref->windowTitle(), QStringLiteral("reconst.. 2 band ---99 steps"));
    QCOMPARE(ref->size(), QSize(seq.width, seq.height));
  }

  void CancelStopsTheReconstruction() {
    QTemporaryDir dir;
    const SmallSequence seq;
    WriteSmallSequence(dir.path(), seq);
    ScopedCurrentDir cwd(dir.path());
    CLumetDlg dialog;
    QSignalSpy finished(&dialog, &CLumetDlg::commandFinished);
    QVERIFY(StartLongReconstruction(dialog));
    const int registrationLines = seq.lrCount;
    dialog.findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    QVERIFY(finished.wait(120000));
    QCOMPARE(finished.size(), 2);  // registration, then the cancelled reconstruction
    QCOMPARE(finished.at(1).at(0).toBool(), false);
    const QStringList lines = LogLines(dialog);
    QCOMPARE(lines.last(), QStringLiteral("Cancelled"));
    QVERIFY(lines.size() > registrationLines);
    QVERIFY(!QFile::exists(QStringLiteral("result/hr.bmp")));
    QVERIFY(Button(dialog, 1004)->isEnabled());
    QVERIFY(Field(dialog, 1016)->isEnabled());
  }

  void ClosingDuringACommandCancelsItThenEnds() {
    QTemporaryDir dir;
    const SmallSequence seq;
    WriteSmallSequence(dir.path(), seq);
    ScopedCurrentDir cwd(dir.path());
    CLumetDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(StartLongReconstruction(dialog));
    QSignalSpy finished(&dialog, &CLumetDlg::commandFinished);
    dialog.close();
    QVERIFY(dialog.isVisible());  // waits for the command first
    QVERIFY(finished.wait(120000));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), static_cast<int>(QDialog::Rejected));
    QCOMPARE(LogLines(dialog).last(), QStringLiteral("Cancelled"));
    QVERIFY(!QFile::exists(QStringLiteral("result/hr.bmp")));
  }
};

LUMET_QTEST_MAIN(CommandsTest)
#include "commands_test.moc"
