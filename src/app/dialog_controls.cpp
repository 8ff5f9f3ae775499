#include "app/dialog_controls.h"

#include <string_view>

#include "reconstruction/reconstruction_method.h"

namespace lumet {

namespace {

struct RowControls {
  const char* name;  // the row's name in ParamRows()
  std::array<int, 4> ids;
};

constexpr RowControls kRowControls[] = {
    {"lrPattern", {kIdLrPattern}},
    {"outputBase", {kIdOutputBase}},
    {"lrCount", {kIdLrCount}},
    {"roi", {kIdRoiX, kIdRoiY, kIdRoiW, kIdRoiH}},
    {"psfSigma", {kIdPsfSigma}},
    {"alpha", {kIdAlpha}},
    {"beta", {kIdBeta}},
    {"lambda", {kIdLambda}},
    {"filterSigma", {kIdFilterSigma}},
    {"ransac", {kIdRansacFirst, kIdRansacSecond}},
    {"sadSize", {kIdSadSize}},
    {"searchArea", {kIdSearchArea}},
    {"startIndex", {kIdStartIndex}},
    {"method", {kIdMethod}},
    {"iterations", {kIdIterations}},
    {"tolerance", {kIdTolerance}},
    {"psfCheck", {kIdPsfCheck}},
    {"localMotion", {kIdLocalMotion}},
};

}  // namespace

std::array<int, 4> ControlsOf(const ParamDescription& row) {
  for (const RowControls& entry : kRowControls) {
    if (std::string_view(entry.name) == row.name) return entry.ids;
  }
  return {};
}

const ParamDescription* RowShownBy(int controlId, int* part) {
  if (controlId == 0) return nullptr;
  for (const ParamDescription& row : ParamRows()) {
    const std::array<int, 4> ids = ControlsOf(row);
    for (size_t i = 0; i < ids.size(); ++i) {
      if (ids[i] != controlId) continue;
      if (part != nullptr) *part = static_cast<int>(i);
      return &row;
    }
  }
  return nullptr;
}

std::vector<std::string> MethodsOfRow(const ParamDescription& row) {
  std::vector<std::string> words;
  if (!row.methodValue) return words;
  for (const ReconstructionMethod* method : ReconstructionMethods()) {
    for (const MethodParam& own : method->Params()) {
      if (std::string_view(own.name) == row.name) words.push_back(method->Word());
    }
  }
  return words;
}

}  // namespace lumet
