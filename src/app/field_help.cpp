#include "app/field_help.h"

#include <QCoreApplication>

#include <QStringList>
#include <algorithm>

#include "app/dialog_controls.h"
#include "params/param_description.h"

namespace lumet {

namespace {

// What each part of a row with several fields is.
QString PartName(const ParamDescription& row, size_t part) {
  if (row.kind == ParamKind::Roi) {
    static const char* const kParts[] = {QT_TRANSLATE_NOOP("lumet::FieldHelp", "left edge x"),
                                         QT_TRANSLATE_NOOP("lumet::FieldHelp", "top edge y"),
                                         QT_TRANSLATE_NOOP("lumet::FieldHelp", "width w"),
                                         QT_TRANSLATE_NOOP("lumet::FieldHelp", "height h")};
    return QCoreApplication::translate("lumet::FieldHelp", kParts[part]);
  }
  if (row.kind == ParamKind::Ransac) {
    return part == 0 ? QCoreApplication::translate("lumet::FieldHelp", "pairs per trial (U)") : QCoreApplication::translate("lumet::FieldHelp", "pool of best pairs (N)");
  }
  return QString();
}

// The default of one part: "160,100,40,40" gives 100 for the ROI's y.
QString PartDefault(const ParamDescription& row, size_t part) {
  const QString all = QString::fromUtf8(row.defaultText);
  if (row.kind == ParamKind::Roi) return all.split(u',').value(static_cast<qsizetype>(part));
  if (row.kind == ParamKind::Ransac) return all.split(u'/').value(static_cast<qsizetype>(part));
  return all;
}

QString Capitalised(const char* text) {
  QString s = QString::fromUtf8(text);
  if (!s.isEmpty()) s[0] = s[0].toUpper();
  return s;
}

QString RowToolTip(const ParamDescription& row, size_t part) {
  QString what = Capitalised(row.help);
  const QString partName = PartName(row, part);
  if (!partName.isEmpty()) {
    what = Capitalised(row.label) + QStringLiteral(", ") + partName + QStringLiteral(": ") + QString::fromUtf8(row.help);
  }
  QStringList lines{what + u'.'};
  lines << QCoreApplication::translate("lumet::FieldHelp", "Range: %1. Default: %2.")
               .arg(QString::fromStdString(ParamRangeText(row)), PartDefault(row, part));
  lines << QCoreApplication::translate("lumet::FieldHelp", "In param.txt: %1; on the command line: %2.")
               .arg(QString::fromUtf8(row.name), QString::fromUtf8(row.flag));
  return lines.join(u'\n');
}

}  // namespace

QString FieldToolTip(int controlId) {
  if (controlId == 0) return QString();
  for (const ParamDescription& row : ParamRows()) {
    const std::array<int, 4> ids = ControlsOf(row);
    const auto at = std::find(ids.begin(), ids.end(), controlId);
    if (at != ids.end()) return RowToolTip(row, static_cast<size_t>(at - ids.begin()));
  }
  return QString();
}

QString ParamToolTip(const char* name) {
  const size_t row = FindParam(name);
  return row < ParamRows().size() ? RowToolTip(ParamRows()[row], 0) : QString();
}

}  // namespace lumet
