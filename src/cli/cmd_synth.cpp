// synth: a synthetic test sequence with its ground truth.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/cli_commands.h"
#include "cli/threads_option.h"
#include "reconstruction/hr_geometry.h"
#include "synth/synth_options.h"
#include "synth/synthetic_sequence.h"
#include "util/error.h"

namespace lumet::cli {

namespace {

// "WxH", e.g. "320x240".
void ParseSize(const std::string& text, int& width, int& height) {
  const size_t x = text.find_first_of("xX");
  bool ok = x != std::string::npos && x > 0 && x + 1 < text.size();
  if (ok) {
    const char* end = text.data() + text.size();
    const auto w = std::from_chars(text.data(), text.data() + x, width);
    const auto h = std::from_chars(text.data() + x + 1, end, height);
    ok = w.ec == std::errc() && w.ptr == text.data() + x && h.ec == std::errc() && h.ptr == end;
  }
  if (!ok) throw Error("--size must be WIDTHxHEIGHT, e.g. 320x240 (got \"" + text + "\")");
}

// A seed is any whole number from 0 to 2^64 - 1; a negative one is refused rather than
// wrapped around.
uint64_t ParseSeed(const std::string& text) {
  uint64_t seed = 0;
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), seed);
  if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) {
    throw Error("--seed must be a whole number from 0 to 18446744073709551615 (got \"" + text + "\")");
  }
  return seed;
}

}  // namespace

void AddSynthCommand(CLI::App& app, CommandSlot& slot) {
  auto options = std::make_shared<SynthOptions>();
  auto dir = std::make_shared<std::string>();
  auto size = std::make_shared<std::string>();
  auto seed = std::make_shared<std::string>("1");
  auto* command = app.add_subcommand(
      "synth",
      "write a synthetic sequence into DIR: images/lr-0.bmp .. lr-N.bmp, the truth (truth/hr.bmp, truth/hom-k.txt) "
      "and param.txt");
  command->add_option("DIR", *dir, "folder to write into (created if missing)")->required()->type_name("DIR");
  command->add_option("--scene", options->scene, "chart (a resolution chart) or texture")->capture_default_str();
  command->add_option("--lr-count", options->lrCount, "N: frames 0..N are written, 1..999")->capture_default_str();
  command->add_option("--size", *size, "frame size WIDTHxHEIGHT (default 320x240)")->type_name("WxH");
  command->add_option("--scale", options->scale, "2, 3 or 4: scale of the truth image and of param.txt")
      ->capture_default_str();
  command->add_option("--psf-sigma", options->psfSigma, "Gaussian blur of the camera in LR pixels")
      ->capture_default_str();
  command->add_option("--noise", options->noise, "sigma of the Gaussian noise in grey levels")->capture_default_str();
  command->add_option("--motion", options->motion, "largest translation between frames in LR pixels")
      ->capture_default_str();
  command->add_option("--seed", *seed, "seed of the motion, the noise and the texture")
      ->capture_default_str()
      ->type_name("UINT");
  AddThreadsOption(*command);
  command->callback([&slot, options, dir, size, seed] {
    slot.run = [options, dir, size, seed] {
      SynthOptions o = *options;
      if (!size->empty()) ParseSize(*size, o.width, o.height);
      o.seed = ParseSeed(*seed);
      o.Check();
      if (dir->empty()) throw Error("the folder name is empty");
      WriteSyntheticSequence(*dir, o);
      const HrGeometry grid = MakeHrGeometry(SynthRoi(), o.scale);
      std::printf("wrote %d frames of %dx%d (scene %s, seed %llu) to %s/images\n", o.lrCount + 1, o.width, o.height,
                  o.scene.c_str(), static_cast<unsigned long long>(o.seed), dir->c_str());
      std::printf("wrote the truth (%dx%d at x%d, homographies of frames 1..%d) to %s/truth\n", grid.width, grid.height,
                  o.scale, o.lrCount, dir->c_str());
      std::printf("wrote %s\n", SynthParamPath(*dir).c_str());
      return kExitOk;
    };
  });
}

}  // namespace lumet::cli
