#include "app/dialog_controls.h"

#include <string_view>

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
};

}  // namespace

std::array<int, 4> ControlsOf(const ParamDescription& row) {
  for (const RowControls& entry : kRowControls) {
    if (std::string_view(entry.name) == row.name) return entry.ids;
  }
  return {};
}

}  // namespace lumet
