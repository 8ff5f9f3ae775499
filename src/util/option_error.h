#pragma once

#include <string>

#include "util/error.h"

namespace lumet {

// A value an algorithm's options refuse. `field` names the option the way the parameter
// table does ("psfSigma", "ransac"), `part` which of its stored parts (0 .. 3 for the ROI's
// left, top, right, bottom; 0 .. 1 for the RANSAC pair) is at fault, and `subject` the field
// the message is about (often `field`). The message itself is what follows the subject's
// name and value: " is out of range (allowed: above 0, at most 2)". The parameter layer puts
// the field's label and value in front; code without that layer reads what().
class OptionError : public Error {
 public:
  OptionError(const char* field, int part, const char* subject, const std::string& rest)
      : Error(std::string(subject) + rest), field_(field), part_(part), subject_(subject), rest_(rest) {}
  OptionError(const char* field, int part, const std::string& rest) : OptionError(field, part, field, rest) {}

  const char* Field() const { return field_; }
  int Part() const { return part_; }
  const char* Subject() const { return subject_; }
  const std::string& Rest() const { return rest_; }

 private:
  const char* field_;
  int part_;
  const char* subject_;
  std::string rest_;
};

}  // namespace lumet
