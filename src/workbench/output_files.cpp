#include "workbench/output_files.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "workbench/workbench.h"

namespace lumet {

namespace {

// A name split around its last run of digits.
struct NumberedName {
  std::string prefix;
  long long number = 0;
  std::string suffix;
};

std::optional<NumberedName> SplitNumber(const std::string& name) {
  size_t end = name.size();
  while (end > 0 && !std::isdigit(static_cast<unsigned char>(name[end - 1]))) --end;
  if (end == 0) return std::nullopt;
  size_t begin = end;
  while (begin > 0 && std::isdigit(static_cast<unsigned char>(name[begin - 1]))) --begin;
  // Zero-padded or very long numbers are left as they are.
  if (end - begin > 9 || (end - begin > 1 && name[begin] == '0')) return std::nullopt;
  return NumberedName{name.substr(0, begin), std::stoll(name.substr(begin, end - begin)), name.substr(end)};
}

bool Follows(const std::string& previous, const std::string& next) {
  const auto a = SplitNumber(previous);
  const auto b = SplitNumber(next);
  return a && b && a->prefix == b->prefix && a->suffix == b->suffix && b->number == a->number + 1;
}

}  // namespace

std::string ResultPath(const ParamSet& params, ImageFormat format) {
  if (format == ImageFormat::Bmp) return params.resultFile;
  return params.outputBase + ImageFormatExtension(format);
}

std::string FirstFramePath(ImageFormat format) {
  if (format == ImageFormat::Bmp) return kFirstFramePath;
  std::string path = kFirstFramePath;
  return path.substr(0, path.rfind('.')) + ImageFormatExtension(format);
}

std::string SummarizeFiles(const std::vector<std::string>& files) {
  std::vector<std::string> unique;
  for (const std::string& f : files) {
    if (std::find(unique.begin(), unique.end(), f) == unique.end()) unique.push_back(f);
  }
  std::string text;
  for (size_t i = 0; i < unique.size();) {
    size_t j = i;
    while (j + 1 < unique.size() && Follows(unique[j], unique[j + 1])) ++j;
    if (!text.empty()) text += ", ";
    text += unique[i];
    if (j > i) text += (j == i + 1 ? ", " : " … ") + unique[j];
    i = j + 1;
  }
  return text;
}

}  // namespace lumet
