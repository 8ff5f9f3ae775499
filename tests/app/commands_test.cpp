// The commands run from their buttons on a small synthetic sequence: viewers, titles, modes,
// log lines and files compared with those of lumet-cli; failures, cancelling and closing.
#include <QProcess>

#include "app_test_support.h"
#include "view/img_wnd.h"
#include "view/raster_image.h"

using namespace lumet;
using namespace lumet::apptest;

namespace {
// Clicks a command button and waits for the command to end.
bool RunButton(CLumetDlg& dialog, int id) {
  QSignalSpy finished(&dialog, &CLumetDlg::commandFinished);
  Button(dialog, id)->click();
  return dialog.CommandRunning() && finished.wait(120000);
}
}  // namespace

class CommandsTest : public QObject {
  Q_OBJECT
 private slots:
  void CommandsShowTheirResultsAndWriteWhatTheCommandLineWrites() {
    QTemporaryDir cliDir;
    WriteSmallSequence(cliDir.path());
    QProcess cli;
    cli.start(QStringLiteral(LUMET_CLI_PATH), {QStringLiteral("-C"), cliDir.path(), QStringLiteral("run")});
    QVERIFY(cli.waitForFinished(300000));
    QCOMPARE(cli.exitCode(), 0);
    QStringList cliLines = QString::fromUtf8(cli.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    // MAE per frame, twice, the threshold, then the files written (a command-line line only).
    QCOMPARE(cliLines.size(), 2 * kFrames + 2);
    QVERIFY(cliLines.takeLast().startsWith(QStringLiteral("Wrote ./param.txt, ")));

    TempCwd cwd;
    WriteSmallSequence(cwd.dir.path());
    CLumetDlg dialog;
    dialog.show();
    QVERIFY(RunButton(dialog, 1001));
    CImgWnd* ref = dialog.refViewer;
    QVERIFY(ref != nullptr && dialog.frameViewer == nullptr && dialog.LogText().isEmpty());
    // The commands' titles in plain words.
    QCOMPARE(ref->windowTitle(), QStringLiteral("Frame 0: click or drag to place the region of interest"));
    QCOMPARE(ref->Mode(), kModeRoiSelection);
    QCOMPARE(ref->size(), QSize(kWidth, kHeight));
    QVERIFY(RunButton(dialog, 1001));  // a second press reuses the window
    QVERIFY(RunButton(dialog, 1002));
    QCOMPARE(LogLines(dialog), cliLines.mid(0, kFrames));
    CImgWnd* frame = dialog.frameViewer;
    QVERIFY(dialog.refViewer == ref && frame != nullptr && frame->RoiAttached());
    const QString lastFrameTitle = QStringLiteral("Registering ./images/lr-%1.bmp against frame 0").arg(kFrames);
    QCOMPARE(frame->windowTitle(), lastFrameTitle);
    QCOMPARE(frame->Mode(), kModeRoiSelection);
    QVERIFY(ref->SquareCount() > 0 && ref->LineCount() > 0 && frame->SquareCount() > 0);

    QVERIFY(RunButton(dialog, 1004));
    QCOMPARE(LogLines(dialog), cliLines);  // every line, in order, as the command line prints them
    QCOMPARE(ref->windowTitle(), QStringLiteral("Reconstructing (classic): blue band, step 100 of 100"));
    QCOMPARE(frame->windowTitle(), lastFrameTitle);
    QCOMPARE(ref->Mode(), kModeDisplay);
    QCOMPARE(frame->Mode(), kModeComparison);
    QCOMPARE(frame->size(), QSize(120, 120));
    QVERIFY(!ref->Rendered().isNull() && RasterToQImage(frame->CompareImage()) == ref->Rendered());  // the result
    QStringList files{"param.txt", "steet_rms.txt", "result/hr.bmp", "result/first_lr.bmp"};
    for (int k = 1; k <= kFrames; ++k) files << QStringLiteral("result/hr_hom-%1.txt").arg(k);
    for (const QString& file : files) {
      const QByteArray gui = ReadBytes(file);
      QVERIFY2(!gui.isEmpty() && gui == ReadBytes(cliDir.filePath(file)), qPrintable(file));
    }
    QVERIFY(RunButton(dialog, 1001) && ref->Mode() == kModeRoiSelection);  // Show Reference again: title kept
    QCOMPARE(ref->windowTitle(), QStringLiteral("Reconstructing (classic): blue band, step 100 of 100"));
  }

  void MissingReferenceFrameIsLogged() {
    TempCwd cwd;
    CLumetDlg dialog;
    QSignalSpy finished(&dialog, &CLumetDlg::commandFinished);
    QVERIFY(RunButton(dialog, 1001));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    const QStringList lines = LogLines(dialog);
    QVERIFY2(lines.size() == 1 && lines[0].startsWith(QStringLiteral("Error: ")) && lines[0].contains("lr-0.bmp"),
             qPrintable(dialog.LogText()));
    QVERIFY(QApplication::activeModalWidget() == nullptr && Button(dialog, 1001)->isEnabled());
  }

  // The Cancel button, or closing the dialog, stops a long reconstruction (hundreds of
  // steps on a 240 x 192 grid); closing waits for the command, then ends the dialog.
  void CancelOrCloseStopsTheReconstruction() {
    for (const bool close : {false, true}) {
      TempCwd cwd;
      WriteSmallSequence(cwd.dir.path(), {8, 8, 88, 72});
      CLumetDlg dialog;
      dialog.show();
      QVERIFY(RunButton(dialog, 1002));
      QSignalSpy finished(&dialog, &CLumetDlg::commandFinished);
      Button(dialog, 1004)->click();
      QVERIFY(dialog.CommandRunning());
      close ? static_cast<void>(dialog.close()) : Button(dialog, QStringLiteral("cancel"))->click();
      QVERIFY(dialog.isVisible() && finished.wait(120000));
      QCOMPARE(finished.at(0).at(0).toBool(), false);
      QCOMPARE(LogLines(dialog).last(), QStringLiteral("Cancelled"));
      QVERIFY(!QFile::exists(QStringLiteral("result/hr.bmp")));
      QVERIFY2(dialog.isVisible() == !close, close ? "close" : "cancel");
      QVERIFY(close || (Button(dialog, 1004)->isEnabled() && Field(dialog, 1016)->isEnabled()));
    }
  }
};

LUMET_QTEST_MAIN(CommandsTest)
#include "commands_test.moc"
