// init-params, params, show-reference.
#include <cstdio>
#include <memory>

#include "cli/cli_commands.h"
#include "cli/headless_port.h"
#include "cli/param_options.h"
#include "imageio/bmp_file.h"
#include "params/param_file.h"
#include "workbench/workbench.h"

namespace lumet::cli {

void AddParamCommands(CLI::App& app, CommandSlot& slot) {
  auto* init = app.add_subcommand("init-params", "write ./param.txt with the standard parameter values");
  init->callback([&slot] {
    slot.run = [] {
      KeepParamFileIfUnreadable();
      ParamSet p = InitParams();
      AdoptParams(p);
      std::printf("wrote %s\n", kParamSavePath);
      return kExitOk;
    };
  });

  auto overrides = std::make_shared<ParamOverrides>();
  auto* params = app.add_subcommand("params",
                                    "load param.txt, apply the given options, rewrite ./param.txt and print the set");
  AddParamOptions(*params, *overrides);
  params->callback([&slot, overrides] {
    slot.run = [overrides] {
      const ParamSet p = AdoptWithOverrides(*overrides, Adoption::Params);
      std::fputs(DescribeParams(p).c_str(), stdout);
      return kExitOk;
    };
  });

  auto showOverrides = std::make_shared<ParamOverrides>();
  auto out = std::make_shared<std::string>();
  auto* show = app.add_subcommand("show-reference",
                                  "adopt the parameters, read frame 0 and print its name, size and the ROI");
  AddParamOptions(*show, *showOverrides);
  show->add_option("--out", *out, "write frame 0 with the olive ROI outline as a 24-bit BMP file")->type_name("FILE");
  show->callback([&slot, showOverrides, out] {
    slot.run = [showOverrides, out] {
      Workbench bench;
      bench.params = AdoptWithOverrides(*showOverrides, Adoption::Command);
      HeadlessPort port;
      bench.ShowReference(port);
      std::printf("file = %s\nwidth = %d\nheight = %d\nroi = %s (x,y,w,h)\n", bench.params.referenceFile.c_str(),
                  bench.refWidth, bench.refHeight, RoiText(bench.params.roi).c_str());
      if (!out->empty()) {
        ColorGrayImage image;
        RasterToImage(port.Render(Viewer::Reference), image);
        BmpFile::WriteImage(*out, image, 0, 0, image.Width(), image.Height());
      }
      return kExitOk;
    };
  });
}

}  // namespace lumet::cli
