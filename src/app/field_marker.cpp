#include "app/field_marker.h"

#include <QLineEdit>
#include <QVariant>
#include <algorithm>
#include <utility>

#include "app/dialog_controls.h"
#include "params/param_description.h"
#include "params/param_file.h"
#include "util/error.h"

namespace lumet {

namespace {

constexpr const char* kRefusedProperty = "refused";
constexpr const char* kRefusedTextProperty = "refusedText";

// Words the commands use for the frame files, which the "LR files" field names.
constexpr const char* kFrameWords[] = {"frame file", "reference frame", "LR files"};
constexpr int kLrPatternControl = kIdLrPattern;

// The file-name part of the pattern before its frame number ("./images/lr-").
QString PatternPrefix(const QString& lrPattern) {
  const qsizetype percent = lrPattern.indexOf(u'%');
  return percent < 0 ? lrPattern : lrPattern.left(percent);
}

// Copies one row's value from one set to another.
void CopyRow(const ParamDescription& row, const ParamSet& from, ParamSet& to) {
  if (row.text != nullptr) to.*row.text = from.*row.text;
  if (row.integer != nullptr) to.*row.integer = from.*row.integer;
  if (row.integer2 != nullptr) to.*row.integer2 = from.*row.integer2;
  if (row.real != nullptr) to.*row.real = from.*row.real;
  if (row.methodValue) SetNumber(row, NumberOf(row, from), to);
  if (row.roi != nullptr) to.*row.roi = from.*row.roi;
}

}  // namespace

std::vector<int> FieldsNamedBy(const QString& message, const QString& lrPattern) {
  qsizetype bestAt = -1, bestLength = 0;
  std::vector<int> best;
  auto consider = [&](std::vector<int> ids, const QString& name) {
    if (name.isEmpty() || ids.empty()) return;
    const qsizetype at = message.indexOf(name, 0, Qt::CaseInsensitive);
    if (at < 0) return;
    if (best.empty() || at < bestAt || (at == bestAt && name.size() > bestLength)) {
      best = std::move(ids);
      bestAt = at;
      bestLength = name.size();
    }
  };
  // Each value by its key ("psfSigma") and by the label the messages use ("PSF sigma").
  for (const ParamDescription& row : ParamRows()) {
    std::vector<int> ids;
    for (int id : ControlsOf(row)) {
      if (id != 0) ids.push_back(id);
    }
    consider(ids, QString::fromUtf8(row.name));
    consider(ids, QString::fromUtf8(row.label));
  }
  for (const char* words : kFrameWords) consider({kLrPatternControl}, QString::fromUtf8(words));
  const QString prefix = PatternPrefix(lrPattern);
  // "./" alone would match any relative name.
  if (prefix.size() > 2) consider({kLrPatternControl}, prefix);
  return best;
}

int ControlOf(const ParamError& error) {
  if (error.Row() >= ParamRows().size()) return 0;
  const ParamDescription& row = ParamRows()[error.Row()];
  // The ROI is stored as left, top, right, bottom but typed as x, y, w, h: right is w's.
  const int part = std::clamp(error.Part(), 0, 3);
  const std::array<int, 4> ids = ControlsOf(row);
  const int id = ids[static_cast<size_t>(part)];
  return id != 0 ? id : ids[0];
}

void MarkRefusedField(QLineEdit* field, const QString& message) {
  if (field == nullptr) return;
  if (!IsMarkedRefused(field)) {
    field->setProperty("toolTipBeforeRefusal", field->toolTip());
    field->setProperty("styleBeforeRefusal", field->styleSheet());
  }
  field->setProperty(kRefusedProperty, true);
  field->setProperty(kRefusedTextProperty, field->text());
  field->setToolTip(message);
  field->setStyleSheet(QStringLiteral("QLineEdit { border: 2px solid #d0312d; background: #fde8e7; color: black; }"));
  // An edit takes the mark off, unless whoever checks the text as it is typed marked the
  // new text again first.
  QObject::connect(field, &QLineEdit::textEdited, field, [field] {
    if (field->text() != field->property(kRefusedTextProperty).toString()) ClearRefusedMark(field);
  }, Qt::SingleShotConnection);
}

void ClearRefusedMark(QLineEdit* field) {
  if (!IsMarkedRefused(field)) return;
  field->setProperty(kRefusedProperty, false);
  field->setToolTip(field->property("toolTipBeforeRefusal").toString());
  field->setStyleSheet(field->property("styleBeforeRefusal").toString());
}

bool FieldValueValid(int controlId, const ParamSet& values, const std::optional<QSize>& frame) {
  const auto row = std::find_if(ParamRows().begin(), ParamRows().end(), [controlId](const ParamDescription& r) {
    const std::array<int, 4> ids = ControlsOf(r);
    return std::find(ids.begin(), ids.end(), controlId) != ids.end();
  });
  if (controlId == 0 || row == ParamRows().end()) return true;
  ParamSet alone = InitParams();
  CopyRow(*row, values, alone);
  try {
    CheckParams(alone);
    if (row->kind == ParamKind::Roi && frame) CheckRoiInsideFrame(alone.roi, frame->width(), frame->height());
  } catch (const Error&) {
    return false;
  }
  return true;
}

bool IsMarkedRefused(const QLineEdit* field) { return field != nullptr && field->property(kRefusedProperty).toBool(); }

}  // namespace lumet
