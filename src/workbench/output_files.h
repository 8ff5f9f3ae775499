#pragma once

#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "params/param_set.h"

namespace lumet {

// The result file in the given format: resultFile for BMP, outputBase + ".png" / ".tif".
std::string ResultPath(const ParamSet& params, ImageFormat format);

// "./result/first_lr" with the format's extension.
std::string FirstFramePath(ImageFormat format);

// The files in order, separated by ", ", runs of names that differ only in a number
// counting up by one written as "first … last": "./param.txt, ./result/hr_hom-1.txt …
// ./result/hr_hom-30.txt, ./steet_rms.txt". A name that appears again is left out.
std::string SummarizeFiles(const std::vector<std::string>& files);

}  // namespace lumet
