// compare: PSNR and SSIM of two images.
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/cli_commands.h"
#include "cli/output_style.h"
#include "cli/threads_option.h"
#include "imageio/image_file.h"
#include "evaluation/quality.h"
#include "util/error.h"
#include "util/text_format.h"

namespace lumet::cli {

void AddCompareCommand(CLI::App& app, CommandSlot& slot) {
  auto first = std::make_shared<std::string>();
  auto second = std::make_shared<std::string>();
  auto* command = app.add_subcommand("compare", "print the PSNR (dB) and the SSIM of two images of the same size");
  command->add_option("A", *first, "first image (BMP, PNG, TIFF, JPEG or any format frames may have)")
      ->required()
      ->type_name("A");
  command->add_option("B", *second, "second image, of the same size")->required()->type_name("B");
  AddThreadsOption(*command);
  auto json = std::make_shared<bool>(false);
  command->add_flag("--json", *json, "print {\"psnr\": dB or null for identical images, \"ssim\": s} instead");
  command->callback([&slot, first, second, json] {
    slot.run = [first, second, json] {
      ColorGrayImage a;
      ColorGrayImage b;
      ReadImageFile(*first, a);
      ReadImageFile(*second, b);
      if (a.Width() != b.Width() || a.Height() != b.Height()) {
        throw Error(Format("%s is %dx%d but %s is %dx%d: the sizes must match", first->c_str(), a.Width(), a.Height(),
                           second->c_str(), b.Width(), b.Height()));
      }
      double psnr = 0.0;
      double ssim = 0.0;
      try {
        psnr = Psnr(a, b);
        ssim = Ssim(a, b);
      } catch (const Error& e) {
        throw Error(*first + " and " + *second + ": " + e.what());
      }
      if (*json) {
        std::printf("%s\n", CompareJson(psnr, ssim).c_str());
        return kExitOk;
      }
      std::printf("PSNR = %s\n", std::isinf(psnr) ? "inf" : FormatG6(psnr).c_str());
      std::printf("SSIM = %s\n", FormatG6(ssim).c_str());
      return kExitOk;
    };
  });
}

}  // namespace lumet::cli
