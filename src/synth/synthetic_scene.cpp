#include "synth/synthetic_scene.h"

#include "synth/chart_scene.h"
#include "synth/texture_scene.h"
#include "util/error.h"

namespace lumet {

std::unique_ptr<SyntheticScene> MakeScene(const std::string& name, uint64_t seed) {
  if (name == "chart") return std::make_unique<ChartScene>();
  if (name == "texture") return std::make_unique<TextureScene>(seed);
  throw Error("unknown scene \"" + name + "\" (chart or texture)");
}

}  // namespace lumet
