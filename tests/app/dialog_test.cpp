// The main dialog: start-up from param.txt, the ROI fields, field formats, Init params,
// refused values, the log pane and the keys.
#include <QComboBox>
#include <QProcess>

#include "app/dialog_controls.h"
#include "app/field_format.h"
#include "app/field_marker.h"
#include "params/param_description.h"
#include "params/param_file.h"
#include "app_test_support.h"
#include "view/img_wnd.h"

using namespace lumet;
using namespace lumet::apptest;

namespace {
void TypeInto(QLineEdit* field, const QString& text) {
  field->selectAll();  // then types over it, as a user does
  text.isEmpty() ? QTest::keyClick(field, Qt::Key_Backspace) : QTest::keyClicks(field, text);
}
QString ParamFile() { return QString::fromUtf8(ReadBytes(QStringLiteral("param.txt"))); }
QString ParamLine(int n) { return ParamFile().split(u'\n').value(n - 1); }  // 1-based
QString InitFile() { return QString::fromStdString(FormatParamFile(InitParams())); }
QComboBox* Choice(QWidget& w, int id) { return w.findChild<QComboBox*>(QString::number(id)); }
void Choose(QComboBox* list, const QString& word) {
  list->setCurrentIndex(list->findText(word));
  QVERIFY2(list->currentText() == word, qPrintable(word));
}
// Writes ./param.txt: the Init values with a few changed.
void SaveSample(double scale = 4.0, RoiRect roi = {10, 20, 50, 60}, double lambda = 0.003) {
  ParamSet p = InitParams();
  std::tie(p.lrPattern, p.lrCount, p.roi, p.scale, p.lambda) = std::tuple("./f%03d.bmp", 12, roi, scale, lambda);
  SaveParams("param.txt", p);
}
}  // namespace

class DialogTest : public QObject {
  Q_OBJECT
 private slots:
  void StartUpShowsTheFileAndSetsTheScale() {
    for (const double scale : {4.0, 3.0, 3.5, 5.0, 2.0, 2.5}) {
      TempCwd cwd;
      SaveSample(scale);
      CLumetDlg dialog;
      const int chosen = scale < 3.0 ? 2 : scale < 4.0 ? 3 : 4;
      QVERIFY2(Radio(dialog, 1027)->isChecked() == (chosen == 2) && Radio(dialog, 1011)->isChecked() == (chosen == 3) &&
                   Radio(dialog, 1012)->isChecked() == (chosen == 4),
               qPrintable(QString::number(scale)));
      for (const auto& [id, text] : {std::pair{1007, "./f%03d.bmp"}, {1009, "12"}, {1010, "0.600"}, {1015, "0.003"},
                                     {1016, "10"}, {1017, "20"}, {1018, "40"}, {1019, "40"}, {1021, "20"}}) {
        QCOMPARE(Field(dialog, id)->text(), QString::fromUtf8(text));
      }
      QVERIFY(dialog.ReadControls());  // the first command takes the scale from the radio buttons
      QCOMPARE(ParamLine(8), QString::number(chosen));
    }
  }

  void RoiFieldsMoveAndResizeTheRoi() {
    TempCwd cwd;
    SaveSample();  // ROI left 10, top 20, right 50, bottom 60
    CLumetDlg dialog;
    // x and y move the ROI keeping its size; w and h resize it; an empty w makes right = left.
    const std::tuple<int, const char*, RoiRect> steps[] = {
        {1016, "25", {25, 20, 65, 60}}, {1018, "30", {25, 20, 55, 60}}, {1017, "5", {25, 5, 55, 45}},
        {1019, "12", {25, 5, 55, 17}},  {1018, "", {25, 5, 25, 17}},    {1018, "8abc", {25, 5, 33, 17}},  // letters refused
        // Edges saturate instead of overflowing; the adoption refuses such a ROI.
        {1018, "2147483647", {25, 5, 2147483647, 17}}, {1016, "-2147483648", {-2147483647 - 1, 5, -26, 17}}};
    for (const auto& [id, text, roi] : steps) {
      TypeInto(Field(dialog, id), QString::fromUtf8(text));
      QVERIFY2(dialog.Params().roi == roi, text);
    }
    QVERIFY(!dialog.ReadControls());
    QVERIFY2(LogLines(dialog).last().startsWith(QStringLiteral("Error: ROI -2147483648,5,2147483622,12: x -2147483648")),
             qPrintable(dialog.LogText()));
  }

  void ClickInReferenceViewerWritesTheRoiFields() {
    TempCwd cwd;
    SaveSample(4.0, {160, 100, 200, 140});
    CLumetDlg dialog;
    dialog.CreateViewerWindow(Viewer::Reference, QStringLiteral("frame"), ScreenRect{0, 0, 300, 300});
    DibRaster picture(0);
    picture.Create(300, 240, 24, 1);
    dialog.refViewer->SetImage(picture);
    dialog.refViewer->FitTo(300, 240);
    dialog.AttachRoiTo(Viewer::Reference);
    QTest::mouseClick(dialog.refViewer, Qt::LeftButton, Qt::NoModifier, QPoint(50, 60));
    for (const auto& [id, text] : {std::pair{1016, "30"}, {1017, "40"}, {1018, "40"}, {1019, "40"}}) {
      QCOMPARE(Field(dialog, id)->text(), QString::fromUtf8(text));
    }
    TypeInto(Field(dialog, 1016), QStringLiteral("7"));  // the outline follows the fields at once
    QCOMPARE(dialog.refViewer->Rendered().pixel(7, 40), qRgb(128, 128, 0));
  }

  void DoublesKeepTheirDigits() {
    TempCwd cwd;
    SaveSample(4.0, {10, 20, 50, 60}, 0.0004);
    CLumetDlg dialog;
    QCOMPARE(Field(dialog, 1015)->text(), QStringLiteral("0.0004"));
    QVERIFY(dialog.ReadControls());
    QCOMPARE(ParamLine(12), QStringLiteral("0.0004"));
    // Reading a field back never changes the value, whatever its magnitude.
    for (const double v : {0.6, 0.1 + 0.2, 0.12345, 1e-7, 1234567.891, -2.125, 1e-300, 123e200, 0.30000001}) {
      const QString text = FormatDoubleField(v);
      QVERIFY2(ParseDoubleField(text) == v && text.size() <= 24, qPrintable(text));
    }
  }

  // A refused field gives the words the command line gives for the same value, and neither
  // front end changes param.txt.
  void RefusedValuesReadAsOnTheCommandLine() {
    for (const auto& [id, text, option] : {std::tuple{1010, "0", "--psf-sigma=0"}, {1023, "-5", "--sad-size=-5"},
                                           {1021, "30", "--ransac=30/25"}, {1016, "-3", "--roi=-3,100,40,40"},
                                           {1026, "-1", "--start-index=-1"}}) {
      TempCwd cwd;
      CLumetDlg dialog;
      const QByteArray stored = ReadBytes(QStringLiteral("param.txt"));
      TypeInto(Field(dialog, id), QString::fromUtf8(text));
      QVERIFY(!dialog.ReadControls());
      QProcess cli;
      cli.start(QStringLiteral(LUMET_CLI_PATH), {QStringLiteral("params"), QString::fromUtf8(option)});
      QVERIFY(cli.waitForFinished(30000));
      QCOMPARE(cli.exitCode(), 1);
      const QString cliError = QString::fromUtf8(cli.readAllStandardError()).trimmed();
      QVERIFY2(cliError.startsWith(QStringLiteral("Error: ")), qPrintable(cliError));
      QCOMPARE(LogLines(dialog).last(), cliError);
      QCOMPARE(ReadBytes(QStringLiteral("param.txt")), stored);
    }
  }

  // The number fields take only what can become a number of their row's kind: letters
  // never reach them, typed or pasted; a number out of range is marked at once in the
  // field's own words and takes its mark off when corrected; a text set that is no number
  // is refused with the field's name, never read as its leading digits.
  void NumberFieldsRefuseBadTextAsTyped() {
    TempCwd cwd;
    CLumetDlg dialog;
    const QByteArray stored = ReadBytes(QStringLiteral("param.txt"));
    QLineEdit* sigma = Field(dialog, 1010);
    QLineEdit* count = Field(dialog, 1009);
    TypeInto(sigma, QStringLiteral("abc"));
    QCOMPARE(sigma->text(), QStringLiteral("0.600"));
    TypeInto(count, QStringLiteral("12abc"));
    QCOMPARE(count->text(), QStringLiteral("12"));
    count->selectAll();
    count->insert(QStringLiteral("7x"));  // a paste
    QCOMPARE(count->text(), QStringLiteral("12"));
    for (const auto& [id, good, bad] : {std::tuple{1009, "30", "1.5"}, {1010, "1e-1", "0.6.1"}, {1016, "+4", "4-"},
                                        {1021, "20", "2e1"}, {1015, "-2.5E-3", "1e2e"}, {1026, "0", "0x10"},
                                        {1028, "60", "6o"}, {1029, "0.0001", "inf"}}) {
      QLineEdit* field = Field(dialog, id);
      QVERIFY2(field != nullptr && field->validator() != nullptr, qPrintable(QString::number(id)));
      QString text = QString::fromUtf8(bad);
      int pos = 0;
      QVERIFY2(field->validator()->validate(text, pos) == QValidator::Invalid, bad);
      text = QString::fromUtf8(good);
      QVERIFY2(field->validator()->validate(text, pos) == QValidator::Acceptable, good);
    }
    for (int id : {1007, 1008}) QVERIFY(Field(dialog, id)->validator() == nullptr);  // names, not numbers

    // Out of range: typed, marked at once with the label's words, unmarked when corrected.
    TypeInto(sigma, QStringLiteral("0"));
    QVERIFY(!sigma->hasAcceptableInput() && IsMarkedRefused(sigma));
    QVERIFY2(sigma->toolTip().startsWith(QStringLiteral("Camera blur (PSF sigma): 0 is out of range (allowed: above 0")),
             qPrintable(sigma->toolTip()));
    QTest::keyClicks(sigma, QStringLiteral(".5"));
    QVERIFY(sigma->hasAcceptableInput() && !IsMarkedRefused(sigma));
    TypeInto(Field(dialog, 1028), QStringLiteral("0"));
    QVERIFY2(Field(dialog, 1028)->toolTip().startsWith(QStringLiteral("Iterations (iteration cap): 0 is out of range (allowed: 1 to ")),
             qPrintable(Field(dialog, 1028)->toolTip()));
    TypeInto(Field(dialog, 1028), QStringLiteral("60"));
    QVERIFY(!IsMarkedRefused(Field(dialog, 1028)));

    // Set by a program: refused by name before anything is written.
    count->setText(QStringLiteral("12abc"));
    QVERIFY(!dialog.ReadControls());
    QCOMPARE(LogLines(dialog).last(), QStringLiteral("Error: Frames after 0 (LR count): \"12abc\" is not a whole number (allowed: 1 to 100000)"));
    count->setText(QString());
    QVERIFY(!dialog.ReadControls());
    QCOMPARE(LogLines(dialog).last(), QStringLiteral("Error: Frames after 0 (LR count) is empty: type a whole number, 1 to 100000"));
    QCOMPARE(ReadBytes(QStringLiteral("param.txt")), stored);
    count->setText(QStringLiteral("12"));
    QVERIFY(dialog.ReadControls());
    QCOMPARE(dialog.Params().lrCount, 12);
    QCOMPARE(dialog.Params().psfSigma, 0.5);
  }

  // The values stored after line 17: the method's list offers the description's words, and
  // each value reaches param.txt only when it is not the default, so a default file is
  // written byte for byte as before; a new dialog shows what the last one stored.
  void MethodAndStartIndexRoundTripThroughTheFile() {
    TempCwd cwd;
    {
      CLumetDlg dialog;
      QComboBox* method = Choice(dialog, 1025);
      QVERIFY(method != nullptr && Field(dialog, 1026) != nullptr);
      QCOMPARE(QStringList({method->itemText(0), method->itemText(1)}), QStringList({"classic", "enhanced"}));
      QCOMPARE(method->count(), 2);
      QCOMPARE(method->currentText(), QStringLiteral("classic"));
      QCOMPARE(Field(dialog, 1026)->text(), QStringLiteral("0"));
      QCOMPARE(ParamFile(), InitFile());
      Choose(method, QStringLiteral("enhanced"));
      TypeInto(Field(dialog, 1026), QStringLiteral("7"));
      QVERIFY(dialog.ReadControls());
      QCOMPARE(dialog.Params().method, std::string("enhanced"));
      QCOMPARE(dialog.Params().startIndex, 7);
      QCOMPARE(ParamFile().section(u'\n', 17), QStringLiteral("startIndex 7\nmethod enhanced"));
      QCOMPARE(ParamFile().section(u'\n', 0, 16), InitFile().section(u'\n', 0, 16));
    }
    const QByteArray stored = ReadBytes(QStringLiteral("param.txt"));
    {
      CLumetDlg dialog;  // start-up shows the stored values and rewrites the file unchanged
      QCOMPARE(Choice(dialog, 1025)->currentText(), QStringLiteral("enhanced"));
      QCOMPARE(Field(dialog, 1026)->text(), QStringLiteral("7"));
      QCOMPARE(ReadBytes(QStringLiteral("param.txt")), stored);
      // Each value alone: only its own line.
      TypeInto(Field(dialog, 1026), QStringLiteral("0"));
      QVERIFY(dialog.ReadControls());
      QCOMPARE(ParamFile().section(u'\n', 17), QStringLiteral("method enhanced"));
      Choose(Choice(dialog, 1025), QStringLiteral("classic"));
      TypeInto(Field(dialog, 1026), QStringLiteral("12"));
      QVERIFY(dialog.ReadControls());
      QCOMPARE(ParamFile().section(u'\n', 17), QStringLiteral("startIndex 12"));
      Button(dialog, 1005)->click();  // Init params resets both
      QCOMPARE(Choice(dialog, 1025)->currentText(), QStringLiteral("classic"));
      QCOMPARE(Field(dialog, 1026)->text(), QStringLiteral("0"));
      QCOMPARE(ParamFile(), InitFile());
      Choose(Choice(dialog, 1025), QStringLiteral("enhanced"));
      Choose(Choice(dialog, 1025), QStringLiteral("classic"));
      QVERIFY(dialog.ReadControls());
      QCOMPARE(ParamFile(), InitFile());  // classic writes nothing
    }
  }

  // A stored method the list does not hold selects nothing and stays refused, with the
  // words of the command line, until one is chosen; the fields of refused values are the
  // ones their rows name, so whoever marks refused fields finds these two.
  void UnknownStoredMethodStaysRefusedUntilChosen() {
    TempCwd cwd;
    {
      QFile file(QStringLiteral("param.txt"));
      const QByteArray text = InitFile().toUtf8() + "\nmethod fancy";
      QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    }
    CLumetDlg dialog;
    QComboBox* method = Choice(dialog, 1025);
    QCOMPARE(method->currentIndex(), -1);
    QVERIFY2(dialog.LogText().contains(QStringLiteral("method \"fancy\" is out of range (allowed: classic or enhanced)")),
             qPrintable(dialog.LogText()));
    QVERIFY(!dialog.ReadControls());
    QVERIFY(!dialog.StartCommand(CLumetDlg::Command::ShowReference) && !dialog.CommandRunning());
    Choose(method, QStringLiteral("enhanced"));
    QVERIFY2(dialog.ReadControls(), qPrintable(dialog.LogText()));
    QCOMPARE(ParamFile().section(u'\n', 17), QStringLiteral("method enhanced"));

    for (const auto& [name, id] : {std::pair{"startIndex", 1026}, {"method", 1025}}) {
      ParamSet p = InitParams();
      name == std::string("method") ? void(p.method = "fancy") : void(p.startIndex = -1);
      try {
        CheckParams(p);
        QFAIL(name);
      } catch (const ParamError& error) {
        QCOMPARE(error.Row(), FindParam(name));
        const int control = ControlsOf(ParamRows()[error.Row()])[static_cast<size_t>(error.Part())];
        QCOMPARE(control, id);
        QVERIFY(dialog.findChild<QWidget*>(QString::number(control)) != nullptr);
      }
    }
  }

  // A param.txt with an unreadable value is kept as param.txt.bad, the log says what was reset.
  void UnreadableFileIsKeptAsBadAndReported() {
    TempCwd cwd;
    QByteArray old = InitFile().toUtf8().replace("\n0.7\n", "\n1e999\n");
    QFile file(QStringLiteral("param.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
    file.close();
    CLumetDlg dialog;
    QCOMPARE(ReadBytes(QStringLiteral("param.txt.bad")), old);
    QCOMPARE(ParamFile(), InitFile());
    QVERIFY2(dialog.LogText().startsWith(QStringLiteral("Warning: param.txt line 10 (alpha): \"1e999\" cannot be read")),
             qPrintable(dialog.LogText()));
    QVERIFY(dialog.LogText().contains(QStringLiteral("alpha 0.7, beta 1")));
  }

  // Start-up in an empty folder, Init params, a refused value, the log pane and the keys.
  void StartUpWithoutFileThenInitParamsAndRefusals() {
    TempCwd cwd;
    CLumetDlg dialog;
    dialog.show();
    QCOMPARE(ParamFile(), InitFile());
    QVERIFY(Radio(dialog, 1012)->isChecked() && dialog.LogText().isEmpty());
    TypeInto(Field(dialog, 1016), QStringLiteral("25"));
    Radio(dialog, 1011)->click();
    QVERIFY(dialog.ReadControls());
    Button(dialog, 1005)->click();  // the radio buttons stay as they are
    QVERIFY(Radio(dialog, 1011)->isChecked() && !Radio(dialog, 1012)->isChecked());
    QCOMPARE(ParamFile(), InitFile());  // line 8: scale 4
    Radio(dialog, 1027)->click();  // x2 unchecks x3 and reaches line 8
    QVERIFY(Radio(dialog, 1027)->isChecked() && !Radio(dialog, 1011)->isChecked());
    QVERIFY(dialog.ReadControls());
    QCOMPARE(ParamLine(8), QStringLiteral("2"));
    Radio(dialog, 1011)->click();
    QCOMPARE(Field(dialog, 1016)->text(), QStringLiteral("160"));
    QVERIFY(dialog.ReadControls());
    QCOMPARE(ParamLine(8), QStringLiteral("3"));
    TypeInto(Field(dialog, 1007), QStringLiteral("./images/lr-%s.bmp"));
    QVERIFY(!dialog.StartCommand(CLumetDlg::Command::ShowReference) && !dialog.CommandRunning());
    QVERIFY2(dialog.LogText().startsWith(QStringLiteral("Error: ")) && LogLines(dialog).size() == 1,
             qPrintable(dialog.LogText()));
    for (const char* text : {"MAE(3) = 4.5->4.25\r\n\n", "\n", "MAE(0) = 0.000000\r\n", "Cancelled"}) {
      dialog.AppendLog(text);  // one line each, line ends stripped, empty texts add nothing
    }
    QCOMPARE(dialog.LogText().section(u'\n', 1), QStringLiteral("MAE(3) = 4.5->4.25\nMAE(0) = 0.000000\nCancelled"));
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(Field(dialog, 1009), Qt::Key_Return);  // Enter neither runs a command nor ends the program
    QVERIFY(dialog.isVisible() && !dialog.CommandRunning());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
  }
};

LUMET_QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
