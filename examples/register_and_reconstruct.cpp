// Registers a numbered frame sequence against its frame 0 and reconstructs the region of
// interest, through the Lumet library's public headers only:
//
//   register_and_reconstruct PATTERN COUNT OUTPUT [--method M] [--roi X,Y,W,H] [--scale S]
//
// PATTERN names the frames ("images/lr-%d.bmp"), COUNT the frames after frame 0, OUTPUT the
// result (.bmp, .png or .tif).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lumet/lumet.h"

namespace {

// Prints each stage's progress in steps of a tenth, and the warnings as they come.
class ConsoleObserver : public lumet::Observer {
 public:
  void OnProgress(const lumet::Progress& p) override {
    const int tenth = p.total > 0 ? 10 * p.step / p.total : 0;
    if (p.stage == stage_ && tenth == tenth_) return;
    stage_ = p.stage;
    tenth_ = tenth;
    std::fprintf(stderr, "%s: %d %%\n", p.stage.c_str(), 10 * tenth);
  }
  void OnWarning(const lumet::Warning& w) override { std::fprintf(stderr, "Warning: %s\n", w.Text().c_str()); }

 private:
  std::string stage_;
  int tenth_ = -1;
};

int Usage() {
  std::fprintf(stderr, "usage: register_and_reconstruct PATTERN COUNT OUTPUT [--method M] [--roi X,Y,W,H] [--scale S]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  const std::string pattern = argv[1];
  const int count = std::atoi(argv[2]);
  const std::string output = argv[3];
  lumet::Settings settings;
  for (int i = 4; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--method") {
      settings.method = argv[i + 1];
    } else if (option == "--scale") {
      settings.scale = std::atof(argv[i + 1]);
    } else if (option == "--roi" && std::sscanf(argv[i + 1], "%d,%d,%d,%d", &settings.roi.x, &settings.roi.y,
                                                  &settings.roi.width, &settings.roi.height) == 4) {
    } else {
      return Usage();
    }
  }
  try {
    const lumet::Sequence sequence = lumet::Sequence::FromPattern(pattern);
    std::vector<int> frames;
    for (int k = 1; k <= count; ++k) frames.push_back(k);
    ConsoleObserver observer;
    const lumet::Registration registration = lumet::Register(sequence, 0, frames, settings, &observer);
    const lumet::PixelHomography h = registration.Pixels(0, count);
    std::printf("frame %d against frame 0: [%g %g %g; %g %g %g; %g %g %g]\n", count, h(0, 0), h(0, 1), h(0, 2),
                h(1, 0), h(1, 1), h(1, 2), h(2, 0), h(2, 1), h(2, 2));
    const lumet::Result result = lumet::Reconstruct(sequence, registration, 0, {}, settings, &observer);
    lumet::WriteFrame(output, lumet::ToFrame(result.estimate));
    std::printf("%s: %d x %d from %d of %zu frames (%s, Lumet %s)\n", output.c_str(), result.estimate.width,
                result.estimate.height, result.outcome.framesUsed, result.outcome.frames.size(),
                result.outcome.method.c_str(), lumet::Version());
  } catch (const lumet::Error& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    return 1;
  }
  return 0;
}
