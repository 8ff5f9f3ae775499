// What a first-time user meets in the window: the progress row only while a command runs, a
// folder that cannot be written to, param.txt after a failed Show Reference, Fit on a small
// picture, the ROI on frames other than frame 0, drop-down lists as wide as their words, the
// Tab order down the controls, the count of frames, and the texts in the user's language.
#include <QComboBox>
#include <QDirIterator>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionComboBox>

#include "app/dialog_controls.h"
#include "app/translation.h"
#include "app/version_info_dlg.h"
#include "app/working_folder.h"
#include "params/param_file.h"
#include "window_test_support.h"

using namespace lumet;
using namespace lumet::apptest;

namespace {

// Every file under dir with its size and contents' first bytes: what "nothing was written
// there" compares.
QStringList Listing(const QString& dir) {
  QStringList files;
  QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    files << QStringLiteral("%1 %2 %3").arg(path).arg(QFileInfo(path).size()).arg(QString::fromLatin1(ReadBytes(path).toHex().left(64)));
  }
  files.sort();
  return files;
}

void SetReadOnly(const QString& dir, bool readOnly) {
  const QFileDevice::Permissions folder = readOnly ? (QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup)
                                                   : (QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  QDirIterator it(dir, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  QStringList dirs{dir};
  while (it.hasNext()) dirs << it.next();
  for (const QString& d : dirs) QFile::setPermissions(d, folder);
}

// The width a combo box gives its current text.
int TextRoom(QComboBox* list) {
  QStyleOptionComboBox option;
  option.initFrom(list);
  option.editable = list->isEditable();
  option.frame = list->hasFrame();
  return list->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list).width();
}

}  // namespace

class NewcomerTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QSettings().clear(); }

  // Run with LANG=ja_JP.UTF-8 (test_app_newcomer_ja): the application object loaded the
  // translation of the desktop's language, which holds the About title's original wording.
  void AboutTitleFollowsTheSystemLocale() {
    if (QLocale::system().language() != QLocale::Japanese) QSKIP("the desktop's language is not Japanese");
    CVersionInfoDlg about;
    QCOMPARE(about.windowTitle(), QStringLiteral("Lumet\u306e\uff8a\uff9e\uff70\uff7c\uff9e\uff6e\uff9d\u60c5\u5831"));
  }

  // English is the source; the Japanese translation holds the original About title and the
  // menu item that opens it; texts it does not translate stay English.
  void TranslationFollowsTheLocale() {
    const QString japanese = QStringLiteral("Lumet\u306e\uff8a\uff9e\uff70\uff7c\uff9e\uff6e\uff9d\u60c5\u5831");
    QVERIFY(!InstallTranslation(QLocale(QLocale::English, QLocale::UnitedStates)));
    QCOMPARE(CVersionInfoDlg().windowTitle(), QStringLiteral("About Lumet"));
    QVERIFY(InstallTranslation(QLocale(QLocale::Japanese, QLocale::Japan)));
    QCOMPARE(CVersionInfoDlg().windowTitle(), japanese);
    {
      MainWindow window;
      QCOMPARE(window.findChild<QAction*>(QStringLiteral("actionAbout"))->text(),
               QStringLiteral("Lumet \u306e\uff8a\uff9e\uff70\uff7c\uff9e\uff6e\uff9d\u60c5\u5831(&A)..."));
      QCOMPARE(window.findChild<QAction*>(QStringLiteral("actionOpen"))->text(), QStringLiteral("&Open Frames\u2026"));
    }
    QVERIFY(!InstallTranslation(QLocale(QLocale::English, QLocale::UnitedKingdom)));
    QCOMPARE(CVersionInfoDlg().windowTitle(), QStringLiteral("About Lumet"));
    InstallTranslation(QLocale::system());
  }

  // Idle, the status bar holds the messages alone; the progress bar and Cancel show while a
  // command runs and go when it ends.
  void ProgressAndCancelOnlyWhileRunning() {
    OpenWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    auto* progress = w.window.findChild<QProgressBar*>(QStringLiteral("progress"));
    auto* cancel = w.window.findChild<QPushButton*>(QStringLiteral("cancel"));
    QVERIFY(progress != nullptr && cancel != nullptr);
    QVERIFY(w.window.statusBar()->isAncestorOf(progress) && w.window.statusBar()->isAncestorOf(cancel));
    QVERIFY(!progress->isVisible() && !cancel->isVisible());
    QSignalSpy finished(&w.Dialog(), &CLumetDlg::commandFinished);
    QVERIFY(w.Dialog().StartCommand(CLumetDlg::Command::Registration));
    QVERIFY(progress->isVisible() && cancel->isVisible() && cancel->isEnabled());
    QVERIFY(finished.wait(120000));
    QVERIFY(!progress->isVisible() && !cancel->isVisible());
    // The message has the bar but for the zoom read-out: the pixel read-out shows only over
    // a picture.
    const QString message = w.Status();
    QVERIFY(!message.isEmpty());
    QStatusBar& bar = *w.window.statusBar();
    int taken = 0;
    for (QWidget* child : bar.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (child->isVisible()) taken += child->width();
    }
    QVERIFY(!w.window.findChild<QLabel*>(QStringLiteral("pointerInfo"))->isVisible());
    QVERIFY2(bar.fontMetrics().horizontalAdvance(message) + 16 <= bar.width() - taken,
             qPrintable(QStringLiteral("%1 in %2 - %3").arg(message).arg(bar.width()).arg(taken)));
  }

  // A folder that cannot be written to offers another place; accepted, param.txt, the
  // homographies and the results land there, the frames are read where they are and the
  // read-only folder is left as it was. Declined, nothing is opened.
  void ReadOnlyFolderOffersAnotherPlace() {
    QTemporaryDir frames, elsewhere;
    WriteSmallSequence(frames.path());
    const QString readOnly = QDir::cleanPath(frames.path());
    const QString results = QDir(elsewhere.path()).filePath(QStringLiteral("results"));
    const QStringList before = Listing(readOnly);
    SetReadOnly(readOnly, true);
    QStringList asked;
    {
      MainWindow window;
      // Permissions do not stop an administrator (the tests may run as one): the window is told.
      window.folderWritable = [&readOnly](const QString& folder) {
        const QString clean = QDir::cleanPath(folder);
        return clean != readOnly && !clean.startsWith(readOnly + u'/');
      };
      window.askResultsFolder = [&asked](const QString& from, const QString&) {
        asked << from;
        return QString();
      };
      QVERIFY(!window.Open(readOnly));
      QCOMPARE(asked, QStringList{readOnly});
      QVERIFY(window.Dialog() == nullptr);
      QVERIFY(window.statusBar()->currentMessage().contains(QStringLiteral("cannot be written to")));

      QString proposal;
      window.askResultsFolder = [&](const QString&, const QString& proposed) {
        proposal = proposed;
        return results;
      };
      window.resize(1100, 700);
      window.show();
      QVERIFY(window.Open(readOnly));
      QVERIFY(!proposal.isEmpty() && !proposal.startsWith(readOnly + u'/'));
      QVERIFY(proposal.startsWith(QDir::homePath()));
      QCOMPARE(window.WorkingFolder(), QDir::cleanPath(results));
      QCOMPARE(window.FramesFolder(), readOnly);
      QVERIFY(QString::fromStdString(window.Dialog()->Params().lrPattern).startsWith(readOnly + u'/'));
      QVERIFY(window.Pane(Viewer::Reference) != nullptr && window.Pane(Viewer::Reference)->HasPicture());
      QVERIFY(RunBoth(window));
      QVERIFY(!window.Runs().empty());
    }
    SetReadOnly(readOnly, false);
    QCOMPARE(Listing(readOnly), before);
    const QDir out(results);
    QVERIFY(QFileInfo(out.filePath(QStringLiteral("param.txt"))).isFile());
    QVERIFY(QFileInfo(out.filePath(QStringLiteral("result/hr_hom-1.txt"))).isFile());
    QVERIFY(QFileInfo(out.filePath(QStringLiteral("result/hr.bmp"))).isFile());
    QVERIFY(QFileInfo(out.filePath(QStringLiteral("result/hr-classic-1.png"))).isFile());
  }

  // The proposal for a read-only folder: under home, the folder's name, the same place again
  // for the same frames, another for other frames of the same name.
  void ResultsFolderProposal() {
    QTemporaryDir home, a, b;
    const QString first = ProposedResultsFolder(a.path() + QStringLiteral("/shots"), home.path());
    QCOMPARE(first, QDir(home.path()).filePath(QStringLiteral("Lumet/shots")));
    QVERIFY(QDir().mkpath(first));
    ParamSet values = InitParams();
    values.lrPattern = PatternFrom(a.path() + QStringLiteral("/shots"), QStringLiteral("./images/lr-%d.bmp")).toStdString();
    QCOMPARE(QString::fromStdString(values.lrPattern), QDir::cleanPath(a.path()) + QStringLiteral("/shots/images/lr-%d.bmp"));
    SaveParams((first + QStringLiteral("/param.txt")).toStdString(), values);
    QCOMPARE(ProposedResultsFolder(a.path() + QStringLiteral("/shots"), home.path()), first);
    QCOMPARE(ProposedResultsFolder(b.path() + QStringLiteral("/shots"), home.path()), first + QStringLiteral("-2"));
    QCOMPARE(PatternFrom(QStringLiteral("/data/100%"), QStringLiteral("./f%03d.png")), QStringLiteral("/data/100%%/f%03d.png"));
    QCOMPARE(PatternFrom(QStringLiteral("/data"), QStringLiteral("/else/f%d.png")), QStringLiteral("/else/f%d.png"));
  }

  // Show Reference on a pattern that names no files fails and leaves param.txt as it was.
  void FailedShowReferenceKeepsParamTxt() {
    OpenWindow w;
    const QByteArray before = ReadBytes(QStringLiteral("param.txt"));
    QVERIFY(!before.isEmpty());
    Field(w.Dialog(), kIdLrPattern)->setText(QStringLiteral("./missing/lr-%d.bmp"));
    QVERIFY(!RunCommand(w.window, kIdShowReference));
    QVERIFY2(w.Status().startsWith(QStringLiteral("Error: ")), qPrintable(w.Status()));
    QCOMPARE(ReadBytes(QStringLiteral("param.txt")), before);
    // The field keeps the text for correction; a working one is then written.
    QCOMPARE(Field(w.Dialog(), kIdLrPattern)->text(), QStringLiteral("./missing/lr-%d.bmp"));
    Field(w.Dialog(), kIdLrPattern)->setText(QStringLiteral("./images/lr-%d.bmp"));
    Field(w.Dialog(), kIdLrCount)->setText(QStringLiteral("2"));
    QVERIFY(RunCommand(w.window, kIdShowReference));
    ParamSet now = InitParams();
    QVERIFY(LoadParams("param.txt", now) > 0);
    QCOMPARE(now.lrCount, 2);
  }

  // Fit shows the whole picture as large as the pane: a small one is enlarged, from 100 %
  // too, in a pane of its own and for the result in the window (View > Fit, Ctrl+9).
  void FitEnlargesASmallPicture() {
    QWidget host;
    host.resize(400, 300);
    ViewerPane pane(&host, QStringLiteral("small"));
    pane.setGeometry(0, 0, 400, 300);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    pane.SetImage(Uniform(40, 30, 0x808080));
    pane.ShowActualSize();
    QCOMPARE(pane.Zoom(), 1.0);
    pane.FitToPane();
    QCOMPARE(pane.Zoom(), 10.0);
    QVERIFY(pane.FitsPane());

    OpenWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QVERIFY(RunBoth(w.window));
    ViewerPane& ref = *w.window.Pane(Viewer::Reference);
    QVERIFY(ref.HasResult());
    const QImage result = w.window.Runs().back().result;
    SendMouse(ref, QEvent::MouseMove, QPointF(ref.width() / 2.0, ref.height() / 2.0), Qt::NoButton);
    QCOMPARE(w.window.ActivePane(), &ref);
    w.window.findChild<QAction*>(QStringLiteral("actionActualSize"))->trigger();
    QCOMPARE(ref.Zoom(), 1.0);
    QAction* fit = w.window.findChild<QAction*>(QStringLiteral("actionFit"));
    QCOMPARE(fit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_9));
    fit->trigger();
    const double expected = std::min(ref.width() / double(result.width()), ref.height() / double(result.height()));
    QVERIFY2(expected > 1.0, "the result is smaller than the pane");
    QVERIFY2(std::abs(ref.Zoom() - expected) < 1e-9, qPrintable(QStringLiteral("%1 for %2").arg(ref.Zoom()).arg(expected)));
  }

  // The ROI belongs to frame 0: on another frame the frame viewer shows it but a drag pans
  // instead of moving it, and says where it can be moved; on frame 0 it moves.
  void RoiStaysOnOtherFrames() {
    OpenWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QVERIFY(RunCommand(w.window, kIdRegistration));
    ViewerPane& frames = *w.window.Pane(Viewer::Frame);
    QVERIFY(frames.RoiAttached());
    QVERIFY(w.window.ShowFrame(2));
    QVERIFY(frames.RoiLocked() && !frames.RoiEditable());
    const RoiRect roi = w.Dialog().Params().roi;
    const QPointF inside = frames.PictureToWidget(QPointF((roi.left + roi.right) / 2.0, (roi.top + roi.bottom) / 2.0));
    Drag(frames, inside, inside + QPointF(30, 20));
    QCOMPARE(w.Dialog().Params().roi, roi);
    QVERIFY2(w.Status().contains(QStringLiteral("frame 0")), qPrintable(w.Status()));
    // A click does not place it either.
    SendMouse(frames, QEvent::MouseButtonPress, inside + QPointF(40, 0));
    SendMouse(frames, QEvent::MouseButtonRelease, inside + QPointF(40, 0), Qt::NoButton);
    QCOMPARE(w.Dialog().Params().roi, roi);
    QVERIFY(w.window.ShowFrame(0));
    QVERIFY(frames.RoiEditable());
    const QPointF at = frames.PictureToWidget(QPointF((roi.left + roi.right) / 2.0, (roi.top + roi.bottom) / 2.0));
    Drag(frames, at, at + QPointF(30, 20));
    QVERIFY(!(w.Dialog().Params().roi == roi));
    // The reference viewer shows frame 0: its ROI always moves.
    QVERIFY(w.window.Pane(Viewer::Reference)->RoiEditable());
  }

  // Each drop-down list gives its longest item the room to show whole: the methods, the
  // comparison's runs ("Frame 0 (before)" and "Run N: …") and its views.
  void ListsAsWideAsTheirItems() {
    OpenWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QVERIFY(RunBoth(w.window));
    QVERIFY(RunCommand(w.window, kIdReconstruction));
    QVERIFY(w.window.Compare(-1, 1));
    QTest::qWait(20);
    for (const QSize size : {QSize(1100, 700), w.window.minimumSizeHint().expandedTo(w.window.minimumSize())}) {
      w.window.resize(size);
      QTest::qWait(20);
      const QString lists[] = {QStringLiteral("1025"), QStringLiteral("compareLeft"), QStringLiteral("compareRight"),
                               QStringLiteral("compareView")};
      for (const QString& name : lists) {
        auto* list = w.window.findChild<QComboBox*>(name);
        QVERIFY2(list != nullptr && list->count() >= 2, qPrintable(name));
        for (int i = 0; i < list->count(); ++i) {
          const int needed = list->fontMetrics().horizontalAdvance(list->itemText(i));
          QVERIFY2(TextRoom(list) >= needed, qPrintable(QStringLiteral("%1: \"%2\" needs %3, has %4 at %5 x %6")
                                                           .arg(name, list->itemText(i)).arg(needed).arg(TextRoom(list))
                                                           .arg(size.width()).arg(size.height())));
        }
      }
    }
  }

  // Tab goes down the controls as they read: the commands, Frames, the scale (x2, x3, x4 left
  // to right), the reconstruction's rows, the method's own, Registration, the log.
  void TabOrderGoesDownTheControls() {
    OpenWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    CLumetDlg& dialog = w.Dialog();
    auto* method = dialog.findChild<QComboBox*>(QStringLiteral("1025"));
    method->setCurrentIndex(method->findText(QStringLiteral("enhanced")));
    const int expected[] = {kIdShowReference, kIdRegistration, kIdReconstruction, kIdInitParams, kIdLrPattern,
                            kIdOutputBase, kIdLrCount, kIdStartIndex, kIdScaleX2, kIdScaleX3, kIdScaleX4, kIdMethod,
                            kIdPsfSigma, kIdRoiX, kIdRoiY, kIdRoiW, kIdRoiH, kIdAlpha, kIdBeta, kIdLambda,
                            kIdIterations, kIdTolerance, kIdPsfCheck, kIdLocalMotion, kIdFilterSigma, kIdRansacFirst,
                            kIdRansacSecond, kIdSadSize, kIdSearchArea, kIdLog};
    QWidget* start = dialog.findChild<QWidget*>(QString::number(kIdShowReference));
    QStringList chain;
    QWidget* at = start;
    do {
      if (at->isVisibleTo(&dialog) && (at->focusPolicy() & Qt::TabFocus) && dialog.isAncestorOf(at)) chain << at->objectName();
      at = at->nextInFocusChain();
    } while (at != start && chain.size() < 500);
    QStringList wanted;
    for (int id : expected) wanted << QString::number(id);
    QStringList found;
    for (const QString& name : chain) {
      if (wanted.contains(name)) found << name;
    }
    QCOMPARE(found, wanted);
    // Nothing else of the dialog comes in between.
    QCOMPARE(chain.mid(0, wanted.size()), wanted);
    const auto left = [&dialog](int id) { return dialog.findChild<QWidget*>(QString::number(id))->mapTo(&dialog, QPoint()).x(); };
    QVERIFY(left(kIdScaleX2) < left(kIdScaleX3) && left(kIdScaleX3) < left(kIdScaleX4));
  }

  // The Frames field counts the frames after frame 0, as its label and tip say, and the
  // frame slider ends at that count; the log counts frame 0 too.
  void FramesCountAgrees() {
    OpenWindow w;
    CLumetDlg& dialog = w.Dialog();
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("label%1").arg(kIdLrCount));
    QVERIFY(label->text().contains(QStringLiteral("after 0")));
    QVERIFY(Field(dialog, kIdLrCount)->toolTip().contains(QStringLiteral("N + 1")));
    QCOMPARE(Field(dialog, kIdLrCount)->text(), QString::number(kFrames));
    auto* count = w.window.findChild<QSpinBox*>(QStringLiteral("frameSpin"));
    QCOMPARE(count->maximum(), kFrames);
  }
};

LUMET_QTEST_MAIN_WITH_SETTINGS(NewcomerTest)
#include "newcomer_test.moc"
