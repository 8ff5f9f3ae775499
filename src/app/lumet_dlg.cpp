#include "app/lumet_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStringList>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <vector>

#include "app/dialog_controls.h"
#include "app/dialog_units.h"
#include "app/field_format.h"
#include "app/field_help.h"
#include "app/field_marker.h"
#include "app/field_validator.h"
#include "app/frame_reconstruction.h"
#include "app/gui_port.h"
#include "app/version_info_dlg.h"
#include "app/video_export.h"
#include "app/viewer_titles.h"
#include "params/param_description.h"
#include "params/param_file.h"
#include "util/error.h"
#include "util/text_format.h"
#include "view/img_wnd.h"
#include "workbench/frame_source.h"

namespace lumet {

namespace {

// The dialog template, in dialog units. The last row (progress bar and Cancel button)
// extends the 327 x 298 layout of the fields for the worker thread.
constexpr int kDialogWidth = 327;
constexpr int kDialogHeight = 316;

struct TemplateRect {
  int x, y, w, h;
};

struct ButtonItem {
  int id;
  const char* text;
  TemplateRect rect;
};

// The commands in plain words; their tool tips say what they do.
constexpr ButtonItem kButtons[] = {
    {kIdShowReference, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Show Reference"), {17, 21, 82, 14}},
    {kIdRegistration, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Register Frames"), {17, 41, 82, 14}},
    {kIdReconstruction, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Reconstruct"), {17, 62, 82, 14}},
    {kIdInitParams, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Reset Parameters\u2026"), {17, 81, 82, 14}},
};

constexpr const char* kButtonTips[] = {
    QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Show frame 0 in the Reference viewer, where a click or a drag places the region of interest"),
    QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Show frame 0 again, then find how each frame 1 .. N lies against it (writes one homography file each)"),
    QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Combine the registered frames into the enlarged result of the region of interest (writes the result file)"),
    QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Put every parameter back to its default, after saying what changes (Ctrl+Z undoes it)"),
};

// An edit field with its label, placed to its left and right-aligned against it.
struct EditItem {
  int id;
  const char* label;
  TemplateRect rect;
  TemplateRect labelRect;
  bool numeric;
};

// Labels a newcomer reads; the stored names, the messages and the log keep theirs.
constexpr EditItem kEdits[] = {
    {kIdLrPattern, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Frame files"), {171, 37, 126, 13}, {124, 39, 44, 8}, false},
    {kIdOutputBase, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Output"), {171, 56, 126, 13}, {124, 58, 44, 8}, false},
    {kIdLrCount, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Frames after 0"), {171, 78, 20, 13}, {124, 80, 44, 8}, true},
    // 28 units instead of 20: "0.600" does not fit 20 units of a sans-serif fallback font.
    {kIdPsfSigma, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Camera blur"), {171, 97, 28, 13}, {124, 99, 44, 8}, true},
    // Frame 0's file number, in the column of the frame files and their count.
    {kIdStartIndex, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "First frame"), {171, 115, 28, 13}, {124, 117, 44, 8}, true},
    {kIdAlpha, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Decay \u03b1"), {170, 133, 25, 13}, {124, 135, 43, 8}, true},
    {kIdBeta, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Edges \u03b2"), {170, 151, 25, 13}, {124, 153, 43, 8}, true},
    {kIdLambda, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Smooth \u03bb"), {170, 168, 25, 13}, {124, 170, 43, 8}, true},
    {kIdRoiX, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "x"), {221, 149, 25, 13}, {208, 151, 10, 8}, true},
    {kIdRoiY, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "y"), {266, 149, 25, 13}, {253, 151, 10, 8}, true},
    {kIdRoiW, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "w"), {221, 165, 25, 13}, {208, 167, 10, 8}, true},
    {kIdRoiH, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "h"), {266, 165, 25, 13}, {253, 167, 10, 8}, true},
    {kIdFilterSigma, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Smoothing"), {60, 118, 28, 13}, {10, 120, 47, 8}, true},
    {kIdRansacFirst, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "RANSAC"), {60, 137, 20, 13}, {10, 139, 47, 8}, true},
    {kIdRansacSecond, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "/"), {93, 137, 20, 13}, {82, 139, 9, 8}, true},
    {kIdSadSize, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Block size"), {60, 155, 25, 13}, {10, 157, 47, 8}, true},
    {kIdSearchArea, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Search range"), {60, 171, 25, 13}, {10, 173, 47, 8}, true},
    // The enhanced method's own settings, beside the scale under its list; shown with it.
    {kIdIterations, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Iterations"), {284, 103, 26, 12}, {259, 105, 24, 8}, true},
    {kIdTolerance, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Tolerance"), {284, 118, 26, 12}, {259, 120, 24, 8}, true},
};

// A check box of a switch, which names itself.
constexpr EditItem kSwitches[] = {
    // Under the enhanced method's own fields; shown with them.
    {kIdPsfCheck, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "PSF check"), {259, 132, 52, 10}, {0, 0, 0, 0}, false},
    {kIdLocalMotion, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Local motion"), {259, 143, 52, 10}, {0, 0, 0, 0}, false},
};

// A drop-down list of a Choice row's words, its label above it.
constexpr EditItem kChoiceFields[] = {
    // Beside the scale: the method is chosen with it for every command.
    {kIdMethod, QT_TRANSLATE_NOOP("lumet::CLumetDlg", "Method"), {258, 89, 52, 13}, {259, 79, 50, 8}, false},
};

// A text of the tables above in the user's language (English when there is no translation).
QString Text(const char* utf8) { return QCoreApplication::translate("lumet::CLumetDlg", utf8); }

// How messages about a field name it: its label, with the name the log and the command
// line use when that differs ("Camera blur (PSF sigma)").
QString FieldName(int id) {
  const auto item = std::find_if(std::begin(kEdits), std::end(kEdits), [id](const EditItem& e) { return e.id == id; });
  int part = 0;
  const ParamDescription* row = RowShownBy(id, &part);
  if (row == nullptr || item == std::end(kEdits)) return {};
  const QString label = Text(item->label), stored = QString::fromUtf8(row->label);
  if (row->kind == ParamKind::Roi) return QCoreApplication::translate("lumet::CLumetDlg", "Region (ROI) %1").arg(label);
  if (row->kind == ParamKind::Ransac) {
    return part == 0 ? QCoreApplication::translate("lumet::CLumetDlg", "RANSAC sample size")
                     : QCoreApplication::translate("lumet::CLumetDlg", "RANSAC pool size");
  }
  return label.compare(stored, Qt::CaseInsensitive) == 0 ? label : QStringLiteral("%1 (%2)").arg(label, stored);
}

// The row whose first control is id.
const ParamDescription& RowOfControl(int id) {
  return *std::find_if(ParamRows().begin(), ParamRows().end(), [id](const ParamDescription& row) { return ControlsOf(row)[0] == id; });
}

// The texts of a row's edit fields, in the order of its controls (none for the scale,
// whose radio buttons only start-up sets, nor for the values without a field).
std::vector<QString> FieldTexts(const ParamDescription& row, const ParamSet& p) {
  if (ControlsOf(row)[0] == 0) return {};  // a value the dialog has no field for
  switch (row.kind) {
    case ParamKind::Text:
    case ParamKind::Choice:
      return {QString::fromStdString(p.*row.text)};
    case ParamKind::Int:
      if (row.onOff) return {QString::fromStdString(ParamValueText(row, p))};
      return {FormatIntField(static_cast<int32_t>(NumberOf(row, p)))};
    case ParamKind::Double:
      return {FormatDoubleField(NumberOf(row, p))};
    case ParamKind::Roi: {
      const RoiRect& roi = p.*row.roi;
      // A stored ROI may span more than int32 (left -2^31, right 2^31 - 1); the field shows
      // the nearest int32 and the adoption refuses it with its range.
      const auto extent = [](int64_t v) {
        return FormatIntField(static_cast<int32_t>(
            std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max())));
      };
      return {FormatIntField(roi.left), FormatIntField(roi.top), extent(roi.Width()), extent(roi.Height())};
    }
    case ParamKind::Ransac:
      return {FormatIntField(p.*row.integer), FormatIntField(p.*row.integer2)};
    case ParamKind::Scale:
      break;
  }
  return {};
}

}  // namespace

CLumetDlg::CLumetDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CLumetDlg"));
  setWindowTitle(QStringLiteral("Lumet"));
  setWindowIcon(QApplication::windowIcon());
  BuildControls();
  OnInitDialog();
  ShowMethodFields();
  SetBusy(false);
}

CLumetDlg::~CLumetDlg() {
  // Normally the dialog ends only after its command; this covers a forced shutdown.
  if (worker_ != nullptr) {
    CancelCommand();
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
  }
}

void CLumetDlg::BuildControls() {
  setFont(DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.X(kDialogWidth), du.Y(kDialogHeight));
  // Group boxes first so that they stay below the controls they enclose.
  auto* reconstructionGroup = new QGroupBox(tr("Reconstruction"), this);
  reconstructionGroup->setObjectName(QStringLiteral("reconstructionGroup"));
  reconstructionGroup->setGeometry(du.Rect(121, 19, 191, 176));
  auto* registrationGroup = new QGroupBox(tr("Registration"), this);
  registrationGroup->setObjectName(QStringLiteral("registrationGroup"));
  registrationGroup->setGeometry(du.Rect(7, 103, 111, 92));
  BuildButtons();
  BuildFields();
  BuildScaleAndLog();
}

QString CLumetDlg::CommandText(int index) { return Text(kButtons[static_cast<size_t>(index)].text); }

void CLumetDlg::BuildButtons() {
  const DialogUnits du(font());
  for (size_t i = 0; i < std::size(kButtons); ++i) {
    const ButtonItem& item = kButtons[i];
    auto* button = new QPushButton(Text(item.text), this);
    button->setObjectName(QString::number(item.id));
    button->setToolTip(Text(kButtonTips[i]));
    // Enter in a field must neither start a command nor end the program.
    button->setAutoDefault(false);
    button->setGeometry(du.Rect(item.rect.x, item.rect.y, item.rect.w, item.rect.h));
    commandButtons_[i] = button;
  }
  connect(commandButtons_[0], &QPushButton::clicked, this, &CLumetDlg::OnShowReference);
  connect(commandButtons_[1], &QPushButton::clicked, this, &CLumetDlg::OnRegistration);
  connect(commandButtons_[2], &QPushButton::clicked, this, &CLumetDlg::OnReconstruction);
  connect(commandButtons_[3], &QPushButton::clicked, this, &CLumetDlg::OnInitParams);
}

void CLumetDlg::BuildFields() {
  const DialogUnits du(font());
  auto place = [&du](QWidget* widget, const TemplateRect& r) { widget->setGeometry(du.Rect(r.x, r.y, r.w, r.h)); };
  // A field and its label, placed, named after the control and explained by the same tip.
  auto labelled = [&](const EditItem& item, QWidget* field) {
    auto* label = new QLabel(Text(item.label), this);
    label->setObjectName(QStringLiteral("label%1").arg(item.id));
    place(label, item.labelRect);
    field->setObjectName(QString::number(item.id));
    place(field, item.rect);
    label->setBuddy(field);
    field->setToolTip(item.id == kIdLrCount ? tr("How many frames follow frame 0, the reference: frames 1 .. N. "
                                                 "The log counts frame 0 too (N + 1 frames).\n") +
                                                  FieldToolTip(item.id)
                                            : FieldToolTip(item.id));
    label->setToolTip(field->toolTip());
    return label;
  };
  for (const EditItem& item : kEdits) {
    auto* edit = new QLineEdit(this);
    if (item.numeric) edit->setAlignment(Qt::AlignRight);
    QLabel* label = labelled(item, edit);
    label->setAlignment(item.id == kIdRansacSecond ? Qt::AlignCenter : (Qt::AlignRight | Qt::AlignVCenter));
    edits_[item.id] = edit;
    if (item.numeric) {
      // What cannot become a number is refused as it is typed; a number out of range is
      // marked at once, in the words of the field's label.
      if (auto* validator = ParamFieldValidator::ForControl(item.id, FieldName(item.id), edit)) {
        edit->setValidator(validator);
        connect(edit, &QLineEdit::textEdited, this, [edit, validator](const QString& text) {
          const QString problem = validator->Problem(text);
          problem.isEmpty() ? ClearRefusedMark(edit) : MarkRefusedField(edit, problem);
        });
      }
    }
    connect(edit, &QLineEdit::textEdited, this, [this, id = item.id] { emit fieldsEdited(id); });
  }
  for (const EditItem& item : kChoiceFields) {
    auto* list = new QComboBox(this);
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);  // every word whole
    list->addItems(QString::fromStdString(RowOfControl(item.id).choices()).split(u'|'));
    labelled(item, list);
    choices_[item.id] = list;
    connect(list, &QComboBox::activated, this, [this, id = item.id] { emit fieldsEdited(id); });
  }
  for (const EditItem& item : kSwitches) {
    auto* box = new QCheckBox(Text(item.label), this);
    box->setObjectName(QString::number(item.id));
    place(box, item.rect);
    box->setToolTip(FieldToolTip(item.id));
    switches_[item.id] = box;
    connect(box, &QCheckBox::clicked, this, [this, id = item.id] { emit fieldsEdited(id); });
  }
  // A method's own settings show only while it is chosen.
  connect(choices_.at(kIdMethod), &QComboBox::currentTextChanged, this, &CLumetDlg::ShowMethodFields);
  auto* roiLabel = new QLabel(tr("Region (ROI)"), this);
  roiLabel->setObjectName(QStringLiteral("labelRoi"));
  roiLabel->setToolTip(ParamToolTip("roi"));
  place(roiLabel, {208, 137, 80, 8});
  connect(Edit(kIdRoiX), &QLineEdit::textChanged, this, &CLumetDlg::OnUpdateRoiX);
  connect(Edit(kIdRoiY), &QLineEdit::textChanged, this, &CLumetDlg::OnUpdateRoiY);
  connect(Edit(kIdRoiW), &QLineEdit::textChanged, this, &CLumetDlg::OnUpdateRoiW);
  connect(Edit(kIdRoiH), &QLineEdit::textChanged, this, &CLumetDlg::OnUpdateRoiH);
  // A typed ROI that reaches off the frame moves onto it when the field is left.
  for (int id : {kIdRoiX, kIdRoiY, kIdRoiW, kIdRoiH}) {
    connect(Edit(id), &QLineEdit::editingFinished, this, &CLumetDlg::KeepRoiOnFrame);
  }
}

void CLumetDlg::BuildScaleAndLog() {
  const DialogUnits du(font());
  auto place = [&du](QWidget* widget, const TemplateRect& r) { widget->setGeometry(du.Rect(r.x, r.y, r.w, r.h)); };
  auto* scaleLabel = new QLabel(tr("Scale factor"), this);
  scaleLabel->setObjectName(QStringLiteral("labelScale"));
  place(scaleLabel, {207, 79, 60, 8});
  x3_ = new QRadioButton(QStringLiteral("\u00d73"), this);
  x3_->setObjectName(QString::number(kIdScaleX3));
  place(x3_, {207, 91, 37, 9});
  x4_ = new QRadioButton(QStringLiteral("\u00d74"), this);
  x4_->setObjectName(QString::number(kIdScaleX4));
  place(x4_, {207, 105, 51, 9});
  // x2 came later than x3 and x4: below them, so that their places and ids stay.
  x2_ = new QRadioButton(QStringLiteral("\u00d72"), this);
  x2_->setObjectName(QString::number(kIdScaleX2));
  place(x2_, {207, 119, 37, 9});
  connect(x2_, &QRadioButton::clicked, this, [this] { CheckScale(2.0); });
  for (QWidget* w : std::initializer_list<QWidget*>{scaleLabel, x2_, x3_, x4_}) w->setToolTip(ParamToolTip("scale"));
  connect(x3_, &QRadioButton::clicked, this, &CLumetDlg::OnScaleX3);
  connect(x4_, &QRadioButton::clicked, this, &CLumetDlg::OnScaleX4);
  for (QRadioButton* radio : {x2_, x3_, x4_}) {
    connect(radio, &QRadioButton::clicked, this, [this] { emit fieldsEdited(kIdScaleX3); });
  }

  log_ = new QPlainTextEdit(this);
  log_->setObjectName(QString::number(kIdLog));
  log_->setReadOnly(true);
  log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  place(log_, {7, 204, 314, 87});

  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->setTextVisible(true);
  progress_->setFormat(QString());
  place(progress_, {7, 297, 254, 12});
  cancel_ = new QPushButton(tr("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("cancel"));
  cancel_->setToolTip(tr("Stop the running command (Esc)"));
  cancel_->setAutoDefault(false);
  cancel_->setEnabled(false);
  place(cancel_, {267, 296, 54, 14});
  connect(cancel_, &QPushButton::clicked, this, &CLumetDlg::CancelCommand);
}

void CLumetDlg::OnInitDialog() {
  // A missing or short parameter file leaves the Init params values in place. One that
  // cannot be read in full is kept as param.txt.bad before the adoption rewrites it, and
  // the log says what was reset.
  // The radio buttons below select x3 or x4 from the stored scale, as the command line does.
  LoadedParams stored;
  try {
    stored = LoadForCommand();
  } catch (const Error& error) {  // not a regular file, or far too large
    AppendLog(std::string("Error: ") + error.what());
    stored.values = InitParams();
  }
  if (!stored.report.problem.empty()) {
    try {
      KeepUnreadableParamFile(stored.report);
      AppendLog("Warning: " + UnreadableParamFileNotice(stored.report));
    } catch (const Error& error) {
      AppendLog(std::string("Error: ") + error.what());
    }
  }
  // A stored value out of range is named by its line; the fields show it for correction.
  if (stored.refusal) {
    try {
      std::rethrow_exception(stored.refusal);
    } catch (const Error& error) {
      AppendLog(std::string("Error: ") + error.what());
    }
  }
  const ParamSet& loaded = stored.values;
  ApplyParams(loaded, !stored.refusal);
  CheckScale(loaded.scale);
}

void CLumetDlg::SetField(int id, const QString& text) {
  if (const auto list = choices_.find(id); list != choices_.end()) {
    // A word not in the list (read from param.txt) selects nothing; the adoption refuses it.
    list->second->setCurrentIndex(list->second->findText(text));
  } else if (const auto box = switches_.find(id); box != switches_.end()) {
    box->second->setChecked(text == QStringLiteral("on"));
  } else {
    Edit(id)->setText(text);
  }
}

bool CLumetDlg::ApplyParams(const ParamSet& values, bool logRefusal) {
  // Every row with fields, in the order of the parameter file; the ROI handlers run while
  // x, y, w and h are written, and the adoption below sets the ROI in the end.
  for (const ParamDescription& row : ParamRows()) {
    const std::vector<QString> texts = FieldTexts(row, values);
    for (size_t i = 0; i < texts.size(); ++i) SetField(ControlsOf(row)[i], texts[i]);
  }

  ParamSet adopted = values;
  bool ok = true;
  try {
    AdoptParams(adopted);
  } catch (const Error& error) {
    // The values stay on screen and in the set for the user to correct; no command runs
    // on them (every command adopts first).
    if (const auto* refused = dynamic_cast<const ParamError*>(&error)) {
      emit valueRefused(ControlOf(*refused), QString::fromStdString(error.what()));
    }
    if (logRefusal) AppendLog(std::string("Error: ") + error.what());
    adopted = values;
    ok = false;
  }
  params_ = adopted;
  RefreshViewers();
  return ok;
}

ParamSet CLumetDlg::FieldValues() const {
  ParamSet values = params_;  // the ROI follows its fields already; rows without fields keep theirs
  values.scale = x2_->isChecked() ? 2.0 : x3_->isChecked() ? 3.0 : 4.0;
  for (const ParamDescription& row : ParamRows()) {
    // The whole texts: a value the parameter file cannot hold is refused by the adoption
    // instead of being cut short silently.
    if (row.kind == ParamKind::Text && ControlsOf(row)[0] != 0) {
      values.*row.text = Edit(ControlsOf(row)[0])->text().toStdString();
    } else if (row.kind == ParamKind::Int && row.onOff && ControlsOf(row)[0] != 0) {
      SetNumber(row, switches_.at(ControlsOf(row)[0])->isChecked() ? 1.0 : 0.0, values);
    } else if (row.kind == ParamKind::Int && ControlsOf(row)[0] != 0) {
      SetNumber(row, ParseIntField(Edit(ControlsOf(row)[0])->text()), values);
    } else if (row.kind == ParamKind::Double && ControlsOf(row)[0] != 0) {
      SetNumber(row, ParseDoubleField(Edit(ControlsOf(row)[0])->text()), values);
    } else if (row.kind == ParamKind::Choice && ControlsOf(row)[0] != 0) {
      // Nothing selected keeps the stored word, so that its refusal stands until one is.
      const QComboBox* list = choices_.at(ControlsOf(row)[0]);
      if (list->currentIndex() >= 0) values.*row.text = list->currentText().toStdString();
    } else if (row.kind == ParamKind::Ransac) {
      values.*row.integer = ParseIntField(Edit(ControlsOf(row)[0])->text());
      values.*row.integer2 = ParseIntField(Edit(ControlsOf(row)[1])->text());
    }
  }
  values.firstFrame = 1;
  return values;
}

bool CLumetDlg::CheckNumberTexts() {
  // A text that is no number at all (set by a program, or one not finished) is refused
  // with its field's name instead of being read as its leading digits.
  for (const auto& [id, edit] : edits_) {
    const auto* validator = qobject_cast<const ParamFieldValidator*>(edit->validator());
    if (validator == nullptr || validator->IsNumber(edit->text())) continue;
    const QString message = validator->Problem(edit->text());
    emit valueRefused(id, message);
    AppendLog("Error: " + message.toStdString());
    return false;
  }
  return true;
}

void CLumetDlg::ShowMethodFields() {
  const QString chosen = choices_.at(kIdMethod)->currentText();
  QStringList shownMethods;
  for (const ParamDescription& row : ParamRows()) {
    const std::vector<std::string> methods = MethodsOfRow(row);
    if (methods.empty()) continue;
    const bool shown = std::find(methods.begin(), methods.end(), chosen.toStdString()) != methods.end();
    if (shown && !shownMethods.contains(chosen)) shownMethods << chosen;
    for (int id : ControlsOf(row)) {
      if (id == 0) continue;
      if (QWidget* field = findChild<QWidget*>(QString::number(id))) field->setVisible(shown);
      if (QWidget* label = findChild<QWidget*>(QStringLiteral("label%1").arg(id))) label->setVisible(shown);
    }
  }
  if (auto* group = findChild<QGroupBox*>(QStringLiteral("methodGroup"))) {
    group->setVisible(!shownMethods.isEmpty());
    if (!shownMethods.isEmpty()) {
      QString name = shownMethods.first();
      name[0] = name[0].toUpper();
      group->setTitle(tr("%1 method").arg(name));
    }
  }
}

void CLumetDlg::UseFlowingLayout() {
  // One column of groups instead of the template's places: it narrows with the dock, a form
  // row puts its field under its label when the two do not fit side by side, and only the
  // height grows (the dock scrolls it).
  setMinimumSize(0, 0);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  const auto widget = [this](const QString& name) { return findChild<QWidget*>(name); };
  const auto field = [&widget](int id) { return widget(QString::number(id)); };
  const auto label = [&widget](int id) { return widget(QStringLiteral("label%1").arg(id)); };
  const auto form = [](QWidget* group) {
    auto* layout = new QFormLayout(group);
    layout->setRowWrapPolicy(QFormLayout::WrapLongRows);
    layout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    layout->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return layout;
  };
  const auto addRows = [&](QFormLayout* layout, std::initializer_list<int> ids) {
    for (int id : ids) {
      if (auto* text = qobject_cast<QLabel*>(label(id))) text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      layout->addRow(label(id), field(id));
    }
  };
  const int numberWidth = fontMetrics().horizontalAdvance(QStringLiteral("0000000000")) + 12;
  for (const auto& [id, edit] : edits_) {
    edit->setMinimumWidth(0);
    if (edit->validator() != nullptr) edit->setMaximumWidth(numberWidth);
  }

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(6, 6, 6, 6);

  commandGrid_ = new QGridLayout;
  for (QPushButton* button : commandButtons_) {
    button->setMinimumWidth(0);
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  }
  ArrangeCommandButtons(2);
  column->addLayout(commandGrid_);

  auto* frames = new QGroupBox(tr("Frames"), this);
  frames->setObjectName(QStringLiteral("framesGroup"));
  addRows(form(frames), {kIdLrPattern, kIdOutputBase, kIdLrCount, kIdStartIndex});
  column->addWidget(frames);

  auto* reconstruction = findChild<QGroupBox*>(QStringLiteral("reconstructionGroup"));
  QFormLayout* rows = form(reconstruction);
  auto* scales = new QHBoxLayout;
  scales->setContentsMargins(0, 0, 0, 0);
  for (QRadioButton* radio : {x2_, x3_, x4_}) scales->addWidget(radio);  // in the order of the factors
  scales->addStretch(1);
  rows->addRow(widget(QStringLiteral("labelScale")), scales);
  addRows(rows, {kIdMethod, kIdPsfSigma});
  auto* roi = new QGridLayout;
  roi->setContentsMargins(0, 0, 0, 0);
  const int roiIds[4] = {kIdRoiX, kIdRoiY, kIdRoiW, kIdRoiH};
  for (int i = 0; i < 4; ++i) {
    roi->addWidget(label(roiIds[i]), i / 2, (i % 2) * 2);
    roi->addWidget(field(roiIds[i]), i / 2, (i % 2) * 2 + 1);
  }
  rows->addRow(widget(QStringLiteral("labelRoi")), roi);
  addRows(rows, {kIdAlpha, kIdBeta, kIdLambda});
  column->addWidget(reconstruction);

  auto* method = new QGroupBox(this);
  method->setObjectName(QStringLiteral("methodGroup"));
  addRows(form(method), {kIdIterations, kIdTolerance, kIdPsfCheck, kIdLocalMotion});  // the check boxes name themselves
  column->addWidget(method);

  auto* registration = findChild<QGroupBox*>(QStringLiteral("registrationGroup"));
  QFormLayout* registrationRows = form(registration);
  addRows(registrationRows, {kIdFilterSigma});
  auto* ransac = new QHBoxLayout;
  ransac->setContentsMargins(0, 0, 0, 0);
  ransac->addWidget(field(kIdRansacFirst));
  ransac->addWidget(label(kIdRansacSecond));
  ransac->addWidget(field(kIdRansacSecond));
  ransac->addStretch(1);
  registrationRows->addRow(label(kIdRansacFirst), ransac);
  addRows(registrationRows, {kIdSadSize, kIdSearchArea});
  column->addWidget(registration);

  log_->setMinimumHeight(fontMetrics().height() * 6);
  column->addWidget(log_, 1);
  // The progress row went to the window's status bar.
  if (progress_->parentWidget() == this) column->addWidget(progress_);
  if (cancel_->parentWidget() == this) column->addWidget(cancel_);
  OrderTabsDownTheColumn();
  ShowMethodFields();
}

void CLumetDlg::OrderTabsDownTheColumn() {
  // Tab goes down the column as it reads: the commands two by two, then each group's rows
  // (x before y, w before h in the ROI), the log last.
  std::vector<QWidget*> order(std::begin(commandButtons_), std::end(commandButtons_));
  const auto field = [this](int id) { return findChild<QWidget*>(QString::number(id)); };
  for (int id : {kIdLrPattern, kIdOutputBase, kIdLrCount, kIdStartIndex}) order.push_back(field(id));
  for (QWidget* radio : {x2_, x3_, x4_}) order.push_back(radio);
  for (int id : {kIdMethod, kIdPsfSigma, kIdRoiX, kIdRoiY, kIdRoiW, kIdRoiH, kIdAlpha, kIdBeta, kIdLambda, kIdIterations,
                 kIdTolerance, kIdPsfCheck, kIdLocalMotion, kIdFilterSigma, kIdRansacFirst, kIdRansacSecond, kIdSadSize,
                 kIdSearchArea}) {
    order.push_back(field(id));
  }
  order.push_back(log_);
  for (size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

void CLumetDlg::ArrangeCommandButtons(int columns) {
  if (commandGrid_ == nullptr || columns == commandColumns_) return;
  commandColumns_ = columns;
  for (QPushButton* button : commandButtons_) commandGrid_->removeWidget(button);
  for (int i = 0; i < 4; ++i) commandGrid_->addWidget(commandButtons_[i], i / columns, i % columns);
}

void CLumetDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (commandGrid_ == nullptr) return;
  // The buttons two by two where they fit side by side, else one under the other.
  int widest = 0;
  for (QPushButton* button : commandButtons_) widest = std::max(widest, button->sizeHint().width());
  const QMargins margins = layout()->contentsMargins();
  const int twoColumns = 2 * widest + std::max(commandGrid_->horizontalSpacing(), 6) + margins.left() + margins.right();
  ArrangeCommandButtons(width() >= twoColumns ? 2 : 1);
}

bool CLumetDlg::ReadControls() {
  if (!CheckNumberTexts()) return false;
  ParamSet values = FieldValues();
  // A ROI off frame 0 is moved onto it, or refused, before param.txt is rewritten.
  if (!CheckRoiOnFrame(values)) return false;
  return ApplyParams(values);
}

std::optional<QSize> CLumetDlg::FrameSizeOf(const ParamSet& values) {
  const std::string key = values.lrPattern + '\n' + std::to_string(values.startIndex);
  if (const auto known = frameSizes_.find(key); known != frameSizes_.end()) return known->second;
  try {
    CheckParams(values);  // a pattern that cannot name a file is not read
    FrameSource source(values.lrPattern, values.startIndex);
    ColorGrayImage frame;
    source.Read(0, frame);
    const QSize size(frame.channels[0].Width(), frame.channels[0].Height());
    frameSizes_[key] = size;
    return size;
  } catch (const std::exception&) {
    return std::nullopt;  // not remembered: the frames may appear later
  }
}

QString CLumetDlg::RoiMovedMessage(const RoiRect& roi, QSize frame) const {
  return tr("The ROI was moved to %1 to stay on the %2 \u00d7 %3 frame")
      .arg(QString::fromStdString(RoiText(roi)))
      .arg(frame.width())
      .arg(frame.height());
}

bool CLumetDlg::CheckRoiOnFrame(ParamSet& values) {
  try {
    CheckParams(values);
  } catch (const Error&) {
    return true;  // the adoption refuses it with its range
  }
  const std::optional<QSize> frame = FrameSizeOf(values);
  if (!frame) return true;  // the command says why the frame cannot be read
  const RoiRect kept = CImgWnd::KeepInside(values.roi, frame->width(), frame->height());
  if (!(kept == values.roi)) {
    values.roi = kept;
    emit roiKeptInside(RoiMovedMessage(kept, *frame));
  }
  try {
    CheckRoiInsideFrame(values.roi, frame->width(), frame->height());
  } catch (const Error& error) {
    // Larger than the frame: refused here, so that param.txt never holds it.
    const bool wide = values.roi.Width() <= 0 || values.roi.Width() > frame->width();
    emit valueRefused(wide ? kIdRoiW : kIdRoiH, QString::fromStdString(error.what()));
    AppendLog(std::string("Error: ") + error.what());
    return false;
  }
  return true;
}

void CLumetDlg::KeepRoiOnFrame() {
  if (CommandRunning()) return;
  const ParamSet values = FieldValues();
  const std::optional<QSize> frame = FrameSizeOf(values);
  if (!frame) return;
  const RoiRect kept = CImgWnd::KeepInside(values.roi, frame->width(), frame->height());
  if (kept == values.roi) return;
  params_.roi = kept;
  OnRoiChanged();
  emit roiKeptInside(RoiMovedMessage(kept, *frame));
  emit fieldsEdited(kIdRoiX);
}

CLumetDlg::FieldState CLumetDlg::Snapshot() const {
  FieldState state;
  for (const auto& [id, edit] : edits_) state.texts[id] = edit->text();
  for (const auto& [id, list] : choices_) state.texts[id] = list->currentText();
  for (const auto& [id, box] : switches_) state.texts[id] = box->isChecked() ? QStringLiteral("on") : QStringLiteral("off");
  state.scale = x2_->isChecked() ? 2.0 : x3_->isChecked() ? 3.0 : 4.0;
  return state;
}

void CLumetDlg::Restore(const FieldState& state) {
  for (const auto& [id, text] : state.texts) SetField(id, text);
  CheckScale(state.scale);
}

QString CLumetDlg::ResetChanges() const {
  const ParamSet now = FieldValues();
  const ParamSet defaults = InitParams();
  QStringList lines;
  for (const ParamDescription& row : ParamRows()) {
    if (ControlsOf(row)[0] == 0) continue;  // Init params leaves what has no field
    const std::string was = ParamValueText(row, now), will = ParamValueText(row, defaults);
    if (was == will) continue;
    // Named as the field's label names it; the ROI's four fields by their group.
    const QLabel* label = findChild<QLabel*>(QStringLiteral("label%1").arg(ControlsOf(row)[0]));
    const auto* box = findChild<QCheckBox*>(QString::number(ControlsOf(row)[0]));
    const QString name = row.kind == ParamKind::Roi ? tr("Region (ROI)")
                         : label != nullptr      ? label->text()
                         : box != nullptr        ? box->text()
                                                 : QString::fromUtf8(row.label);
    lines << QStringLiteral("%1: %2 \u2192 %3").arg(name, QString::fromStdString(was), QString::fromStdString(will));
  }
  return lines.join(u'\n');
}

void CLumetDlg::OnInitParams() {
  if (CommandRunning()) return;
  const QString changes = ResetChanges();
  if (!changes.isEmpty() && confirmReset && !confirmReset(changes)) return;
  ApplyParams(InitParams());
  emit paramsReset();
}

void CLumetDlg::OnScaleX3() { CheckScale(3.0); }

void CLumetDlg::OnScaleX4() { CheckScale(4.0); }

void CLumetDlg::CheckScale(double scale) {
  x2_->setChecked(scale == 2.0);
  x3_->setChecked(scale == 3.0);
  x4_->setChecked(scale == 4.0);
}

// The ROI handlers work in 64 bits and keep each edge inside int32 (saturating), so that
// no typed number overflows; such a ROI is refused by the adoption with its range.
void CLumetDlg::OnUpdateRoiX() {
  const RoiRect& roi = params_.roi;
  SetRoi(ParseIntField(Edit(kIdRoiX)->text()), roi.top, roi.Width(), roi.Height());
}

void CLumetDlg::OnUpdateRoiY() {
  const RoiRect& roi = params_.roi;
  SetRoi(roi.left, ParseIntField(Edit(kIdRoiY)->text()), roi.Width(), roi.Height());
}

void CLumetDlg::OnUpdateRoiW() {
  const RoiRect& roi = params_.roi;
  SetRoi(roi.left, roi.top, ParseIntField(Edit(kIdRoiW)->text()), roi.Height());
}

void CLumetDlg::OnUpdateRoiH() {
  const RoiRect& roi = params_.roi;
  SetRoi(roi.left, roi.top, roi.Width(), ParseIntField(Edit(kIdRoiH)->text()));
}

void CLumetDlg::SetRoi(int64_t x, int64_t y, int64_t w, int64_t h) {
  const auto clamp = [](int64_t v) {
    return std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
  };
  params_.roi = RoiRect{static_cast<int32_t>(clamp(x)), static_cast<int32_t>(clamp(y)),
                        static_cast<int32_t>(clamp(clamp(x) + w)), static_cast<int32_t>(clamp(clamp(y) + h))};
  RefreshViewers();
}

void CLumetDlg::OnViewerRoiChanged() {
  OnRoiChanged();
  emit fieldsEdited(0);  // a placement in a viewer: one step each
}

void CLumetDlg::OnRoiChanged() {
  // All four texts first: writing each field runs its handler, which moves the ROI.
  const ParamDescription& row = ParamRows()[FindParam("roi")];
  const std::vector<QString> texts = FieldTexts(row, params_);
  for (size_t i = 0; i < texts.size(); ++i) SetField(ControlsOf(row)[i], texts[i]);
}

void CLumetDlg::RefreshViewers() {
  // Both viewers may outline the ROI (registration attaches it to the frame viewer too).
  if (refViewer != nullptr) refViewer->update();
  if (frameViewer != nullptr) frameViewer->update();
}

void CLumetDlg::AppendLog(const std::string& text) {
  QString line = QString::fromStdString(StripLineEnds(text));
  if (line.isEmpty()) return;
  line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  log_->appendPlainText(line);
  log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
  emit logAppended(line);
}

QString CLumetDlg::LogText() const { return log_->toPlainText(); }

void CLumetDlg::CreateViewerWindow(Viewer viewer, const QString& title, const ScreenRect& rect) {
  CImgWnd*& slot = viewer == Viewer::Reference ? refViewer : frameViewer;
  if (slot != nullptr) return;
  const QString plain = PlainViewerTitle(viewer, title, false);
  slot = viewerFactory_ ? viewerFactory_(viewer, plain, rect) : new CImgWnd(this, plain, rect);
  slot->setObjectName(viewer == Viewer::Reference ? QStringLiteral("refViewer") : QStringLiteral("frameViewer"));
  slot->setFont(font());
  slot->SetInteractive(!busy_);
  connect(slot, &CImgWnd::roiChanged, this, &CLumetDlg::OnViewerRoiChanged);
  connect(slot, &CImgWnd::roiKeptInside, this, [this, slot] {
    const QSize frame(slot->Image().Width(), slot->Image().Height());
    emit roiKeptInside(RoiMovedMessage(params_.roi, frame));
  });
}

void CLumetDlg::SetViewerTitle(Viewer viewer, const QString& title) {
  CImgWnd* window = ViewerWindow(viewer);
  if (window == nullptr) return;
  const bool registering = busy_ && running_ == Command::Registration;
  window->setWindowTitle(PlainViewerTitle(viewer, title, registering));
}

void CLumetDlg::ShowBandProgress(const QString& stage, int step, int total, int band, int bandStep) {
  ShowProgress(stage, step, total);
  if (refViewer != nullptr) refViewer->setWindowTitle(PlainBandProgressTitle(band, bandStep, workbench_.params));
}

void CLumetDlg::AttachRoiTo(Viewer viewer) {
  if (CImgWnd* window = ViewerWindow(viewer)) window->AttachRoi(&params_.roi);
}

void CLumetDlg::ShowProgress(const QString& stage, int step, int total) {
  progress_->setRange(0, std::max(total, 1));
  progress_->setValue(std::clamp(step, 0, std::max(total, 1)));
  progress_->setFormat(QStringLiteral("%1 %2/%3").arg(stage).arg(step).arg(total));
}

void CLumetDlg::OnShowReference() { StartCommand(Command::ShowReference); }

void CLumetDlg::OnRegistration() { StartCommand(Command::Registration); }

void CLumetDlg::OnReconstruction() { StartCommand(Command::Reconstruction); }

bool CLumetDlg::StartFrameCommand(int reference, int radius) {
  if (CommandRunning()) return false;
  frameReference_ = reference;
  frameRadius_ = radius;
  return StartCommand(Command::FrameReconstruction);
}

bool CLumetDlg::StartVideoExport(const std::string& output, int radius, bool wholeFrame) {
  if (CommandRunning()) return false;
  frameRadius_ = radius;
  exportOutput_ = output;
  exportWholeFrame_ = wholeFrame;
  return StartCommand(Command::VideoExport);
}

bool CLumetDlg::StartCommand(Command command) {
  if (CommandRunning()) return false;
  emit commandStarting(command);
  if (!ReadControls()) return false;
  running_ = command;
  workbench_.params = params_;
  port_ = std::make_unique<GuiPort>(this, refViewer != nullptr, frameViewer != nullptr);
  SetBusy(true);
  GuiPort* port = port_.get();
  Workbench* bench = &workbench_;
  const int reference = frameReference_, radius = frameRadius_;
  const std::string output = exportOutput_;
  const bool wholeFrame = exportWholeFrame_;
  worker_ = QThread::create([this, command, port, bench, reference, radius, output, wholeFrame] {
    bool ok = false;
    try {
      switch (command) {
        case Command::ShowReference:
          bench->ShowReference(*port);
          break;
        case Command::Registration:
          bench->Registration(*port);
          break;
        case Command::Reconstruction:
          bench->Reconstruction(*port);
          break;
        case Command::FrameReconstruction:
          SuperResolveFrame(*port, bench->params, reference, radius);
          break;
        case Command::VideoExport:
          ExportVideo(*port, bench->params, output, radius, wholeFrame);
          bench->Wrote(output);
          break;
      }
      ok = true;
    } catch (const Cancelled&) {
      port->AppendLog("Cancelled");
    } catch (const std::exception& error) {
      port->AppendLog(std::string("Error: ") + error.what());
    }
    // Posted after every call of the command, so it arrives after all of them.
    QMetaObject::invokeMethod(this, [this, ok] { OnCommandFinished(ok); }, Qt::QueuedConnection);
  });
  worker_->setObjectName(QStringLiteral("lumet-command"));
  worker_->start();
  return true;
}

void CLumetDlg::CancelCommand() {
  if (port_ != nullptr) port_->RequestCancel();
}

void CLumetDlg::OnCommandFinished(bool ok) {
  if (worker_ != nullptr) {
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
  }
  port_.reset();
  SetBusy(false);
  emit commandFinished(ok);
  if (closePending_) {
    closePending_ = false;
    QDialog::reject();
  }
}

void CLumetDlg::SetBusy(bool busy) {
  busy_ = busy;
  for (auto& [id, edit] : edits_) edit->setEnabled(!busy);
  for (auto& [id, list] : choices_) list->setEnabled(!busy);
  for (auto& [id, box] : switches_) box->setEnabled(!busy);
  x2_->setEnabled(!busy);
  x3_->setEnabled(!busy);
  x4_->setEnabled(!busy);
  for (QPushButton* button : commandButtons_) button->setEnabled(!busy);
  cancel_->setEnabled(busy);
  if (refViewer != nullptr) refViewer->SetInteractive(!busy);
  if (frameViewer != nullptr) frameViewer->SetInteractive(!busy);
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->setFormat(QString());
  // Shown only while a command runs: idle, they would take the status messages' room.
  progress_->setVisible(busy);
  cancel_->setVisible(busy);
}

void CLumetDlg::reject() {
  // Closing the window or Esc ends the program; a running command is cancelled and
  // waited for first.
  if (CommandRunning()) {
    closePending_ = true;
    CancelCommand();
    return;
  }
  QDialog::reject();
}

void CLumetDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
    OnVersionInfo();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CLumetDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(tr("&About Lumet\u2026"), this, &CLumetDlg::OnVersionInfo);
  menu.exec(event->globalPos());
}

void CLumetDlg::OnVersionInfo() {
  CVersionInfoDlg about(this);
  about.exec();
}

}  // namespace lumet
