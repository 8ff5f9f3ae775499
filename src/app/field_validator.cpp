#include "app/field_validator.h"

#include <QRegularExpression>
#include <algorithm>
#include <cstdint>
#include <array>
#include <string>
#include <utility>

#include "app/dialog_controls.h"
#include "params/param_description.h"

namespace lumet {

namespace {

// What a field may hold while it is typed: a sign, digits, and for a real number one point
// and an exponent. Anything else cannot become a number, whatever follows.
const QRegularExpression& WholePrefix() {
  static const QRegularExpression pattern(QStringLiteral("^[+-]?[0-9]*$"));
  return pattern;
}
const QRegularExpression& RealPrefix() {
  static const QRegularExpression pattern(QStringLiteral("^[+-]?([0-9]*\\.?[0-9]*|[0-9]*\\.?[0-9]+[eE][+-]?[0-9]*|[0-9]+\\.[eE][+-]?[0-9]*)$"));
  return pattern;
}

// The ROI's parts as typed (x, y, w, h) and the RANSAC pair's, with their own ranges.
struct PartRange {
  int64_t minimum, maximum;
};
constexpr PartRange kRoiParts[4] = {{0, kMaxFrameSide - 1}, {0, kMaxFrameSide - 1}, {1, kMaxFrameSide}, {1, kMaxFrameSide}};

QString IntRange(double minimum, double maximum) {
  return QStringLiteral("%1 to %2").arg(static_cast<qint64>(minimum)).arg(static_cast<qint64>(maximum));
}

}  // namespace

ParamFieldValidator::ParamFieldValidator(Kind kind, double minimum, double maximum, bool minimumExcluded, QString label,
                                         QString range, QObject* parent)
    : QValidator(parent),
      kind_(kind),
      minimum_(minimum),
      maximum_(maximum),
      minimumExcluded_(minimumExcluded),
      label_(std::move(label)),
      range_(std::move(range)) {}

ParamFieldValidator* ParamFieldValidator::ForControl(int controlId, const QString& label, QObject* parent) {
  int part = 0;
  const ParamDescription* row = RowShownBy(controlId, &part);
  if (row == nullptr) return nullptr;
  switch (row->kind) {
    case ParamKind::Int:
    case ParamKind::Ransac:
      return new ParamFieldValidator(Kind::Whole, row->minimum, row->maximum, false, label,
                                     IntRange(row->minimum, row->maximum), parent);
    case ParamKind::Double:
      return new ParamFieldValidator(Kind::Real, row->minimum, row->maximum, row->minimumExcluded, label,
                                     QString::fromStdString(ParamRangeText(*row)), parent);
    case ParamKind::Roi: {
      const PartRange& range = kRoiParts[std::clamp(part, 0, 3)];
      return new ParamFieldValidator(Kind::Whole, double(range.minimum), double(range.maximum), false, label,
                                     IntRange(double(range.minimum), double(range.maximum)), parent);
    }
    case ParamKind::Text:
    case ParamKind::Choice:
    case ParamKind::Scale:
      break;
  }
  return nullptr;
}

bool ParamFieldValidator::IsNumber(const QString& text) const {
  if (kind_ == Kind::Whole) {
    int32_t value = 0;
    return WholePrefix().match(text).hasMatch() && ParseInt32Text(text.toStdString(), value);
  }
  double value = 0;
  return RealPrefix().match(text).hasMatch() && ParseFiniteText(text.toStdString(), value);
}

bool ParamFieldValidator::InRange(const QString& text) const {
  if (!IsNumber(text)) return false;
  double value = 0;
  if (kind_ == Kind::Whole) {
    int32_t whole = 0;
    ParseInt32Text(text.toStdString(), whole);
    value = whole;
  } else {
    ParseFiniteText(text.toStdString(), value);
  }
  return (minimumExcluded_ ? value > minimum_ : value >= minimum_) && value <= maximum_;
}

QValidator::State ParamFieldValidator::validate(QString& input, int&) const {
  const QRegularExpression& prefix = kind_ == Kind::Whole ? WholePrefix() : RealPrefix();
  if (!prefix.match(input).hasMatch()) return Invalid;
  return InRange(input) ? Acceptable : Intermediate;
}

QString ParamFieldValidator::Problem(const QString& text) const {
  if (InRange(text)) return {};
  const QString number = kind_ == Kind::Whole ? tr("a whole number") : tr("a number");
  if (text.isEmpty()) return tr("%1 is empty: type %2, %3").arg(label_, number, range_);
  if (!IsNumber(text)) {
    // Digits beyond 32 bits make a whole number all the same, just out of range.
    if (kind_ == Kind::Whole && WholePrefix().match(text).hasMatch() && text.contains(QRegularExpression(QStringLiteral("[0-9]")))) {
      return tr("%1: %2 is out of range (allowed: %3)").arg(label_, text, range_);
    }
    return tr("%1: \"%2\" is not %3 (allowed: %4)").arg(label_, text, number, range_);
  }
  return tr("%1: %2 is out of range (allowed: %3)").arg(label_, text, range_);
}

}  // namespace lumet
