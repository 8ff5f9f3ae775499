#include "app/field_marker.h"

#include <QLineEdit>
#include <QVariant>
#include <algorithm>
#include <initializer_list>

namespace lumet {

namespace {

constexpr const char* kRefusedProperty = "refused";

struct FieldNames {
  std::initializer_list<int> ids;
  std::initializer_list<const char*> names;  // as the messages spell them, any case
};

// The parameter keys first, then the words the commands' messages use.
const FieldNames kFieldNames[] = {
    {{1007}, {"lrPattern", "LR pattern", "LR files", "frame file", "reference frame"}},
    {{1008}, {"outputBase", "output base", "Output"}},
    {{1009}, {"lrCount", "LR count", "LR num", "frame count"}},
    {{1010}, {"psfSigma", "PSF sigma"}},
    {{1013}, {"alpha"}},
    {{1014}, {"beta"}},
    {{1015}, {"lambda"}},
    {{1016, 1017, 1018, 1019}, {"roi", "region of interest"}},
    {{1020}, {"filterSigma", "filter sigma"}},
    {{1021}, {"ransacFirst", "RANSAC sample"}},
    {{1022}, {"ransacSecond", "RANSAC trials", "pool size"}},
    {{1023}, {"sadSize", "SAD size", "SAD block"}},
    {{1024}, {"searchArea", "search area"}},
};

// The file-name part of the pattern before its frame number ("./images/lr-").
QString PatternPrefix(const QString& lrPattern) {
  const qsizetype percent = lrPattern.indexOf(u'%');
  return percent < 0 ? lrPattern : lrPattern.left(percent);
}

}  // namespace

std::vector<int> FieldsNamedBy(const QString& message, const QString& lrPattern) {
  qsizetype bestAt = -1, bestLength = 0;
  const FieldNames* best = nullptr;
  auto consider = [&](const FieldNames& field, const QString& name) {
    if (name.isEmpty()) return;
    const qsizetype at = message.indexOf(name, 0, Qt::CaseInsensitive);
    if (at < 0) return;
    if (best == nullptr || at < bestAt || (at == bestAt && name.size() > bestLength)) {
      best = &field;
      bestAt = at;
      bestLength = name.size();
    }
  };
  for (const FieldNames& field : kFieldNames) {
    for (const char* name : field.names) consider(field, QString::fromUtf8(name));
  }
  const QString prefix = PatternPrefix(lrPattern);
  // "./" alone would match any relative name.
  if (prefix.size() > 2) consider(kFieldNames[0], prefix);
  if (best == nullptr) return {};
  return std::vector<int>(best->ids.begin(), best->ids.end());
}

void MarkRefusedField(QLineEdit* field, const QString& message) {
  if (field == nullptr) return;
  if (!IsMarkedRefused(field)) {
    field->setProperty("toolTipBeforeRefusal", field->toolTip());
    field->setProperty("styleBeforeRefusal", field->styleSheet());
  }
  field->setProperty(kRefusedProperty, true);
  field->setToolTip(message);
  field->setStyleSheet(QStringLiteral("QLineEdit { border: 2px solid #d0312d; background: #fde8e7; color: black; }"));
  QObject::connect(
      field, &QLineEdit::textChanged, field,
      [field] {
        field->setProperty(kRefusedProperty, false);
        field->setToolTip(field->property("toolTipBeforeRefusal").toString());
        field->setStyleSheet(field->property("styleBeforeRefusal").toString());
      },
      Qt::SingleShotConnection);
}

bool IsMarkedRefused(const QLineEdit* field) { return field != nullptr && field->property(kRefusedProperty).toBool(); }

}  // namespace lumet
