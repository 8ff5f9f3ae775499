#pragma once

#include <QString>
#include <cstdint>

namespace lumet {

// How the dialog's numeric fields show their values. Integers: "%d". Doubles: "%.3f" when
// that reads back as the same value, otherwise the fewest digits that do ("%.Nf", or "%.Pg"
// for very large or small magnitudes), so that reading the fields back never changes a
// stored value. No line feed follows the number: a single-line field cannot show it.
QString FormatIntField(int32_t value);
QString FormatDoubleField(double value);

// The standard conversions the fields are read with: the leading number of at most the
// first 255 characters, 0 when there is none.
int32_t ParseIntField(const QString& text);
double ParseDoubleField(const QString& text);

}  // namespace lumet
