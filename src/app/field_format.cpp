#include "app/field_format.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "util/text_format.h"

namespace lumet {

namespace {

constexpr int kFieldReadLimit = 255;
constexpr double kLargestFixed = 1e15;

std::string FieldBytes(const QString& text) { return text.left(kFieldReadLimit).toStdString(); }

bool ReadsBackAs(const std::string& text, double value) { return std::atof(text.c_str()) == value; }

}  // namespace

QString FormatIntField(int32_t value) { return QString::fromStdString(Format("%d", value)); }

QString FormatDoubleField(double value) {
  if (!std::isfinite(value)) return QString::fromStdString(Format("%g", value));
  std::string text;
  // Fixed notation while the number stays short: three decimals, or a few more; general
  // notation beyond that (tiny or huge magnitudes, where fixed notation would need dozens
  // of digits).
  if (std::fabs(value) < kLargestFixed) {
    for (int decimals = 3; decimals <= 9; ++decimals) {
      text = Format("%.*f", decimals, value);
      if (ReadsBackAs(text, value)) return QString::fromStdString(text);
    }
  }
  for (int precision = 1; precision <= 17; ++precision) {
    text = Format("%.*g", precision, value);
    if (ReadsBackAs(text, value)) return QString::fromStdString(text);
  }
  return QString::fromStdString(Format("%.17g", value));
}

int32_t ParseIntField(const QString& text) { return static_cast<int32_t>(std::atoi(FieldBytes(text).c_str())); }

double ParseDoubleField(const QString& text) { return std::atof(FieldBytes(text).c_str()); }

}  // namespace lumet
