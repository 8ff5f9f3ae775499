#pragma once

#include <QString>
#include <QValidator>

namespace lumet {

struct ParamDescription;

// The validator of a number field, made from its parameter row: characters that can never
// make a number of the row's kind (letters, a second point, a sign inside) are refused as
// they are typed; a number not finished yet ("-", "1e") or out of the row's range may stand
// while the user types, but is not acceptable, and Problem says why in the field's words.
class ParamFieldValidator : public QValidator {
  Q_OBJECT

 public:
  enum class Kind { Whole, Real };

  // label: how the field is named on screen ("Camera blur (PSF sigma)"); range: the
  // allowed values in words ("above 0, at most 10").
  ParamFieldValidator(Kind kind, double minimum, double maximum, bool minimumExcluded, QString label, QString range,
                      QObject* parent);
  // The validator of a dialog control from its row (the part of the ROI or of RANSAC it
  // shows), or nullptr for a control that is not a number field.
  static ParamFieldValidator* ForControl(int controlId, const QString& label, QObject* parent);

  State validate(QString& input, int& pos) const override;

  // Whether the whole text is a number of the field's kind (in range or not).
  bool IsNumber(const QString& text) const;
  bool InRange(const QString& text) const;
  // What is wrong with the text in the field's words; empty when it is acceptable.
  QString Problem(const QString& text) const;
  QString Label() const { return label_; }

 private:
  Kind kind_;
  double minimum_, maximum_;
  bool minimumExcluded_;
  QString label_, range_;
};

}  // namespace lumet
