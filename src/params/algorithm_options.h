#pragma once

#include <string>

#include "params/param_set.h"
#include "reconstruction/reconstruction_options.h"
#include "registration/registration_options.h"

namespace lumet {

// The parameters as the algorithms take them. The stored method word is read here, once:
// nothing below the parameter table compares method names.

// The method the stored word chooses (a word CheckParams refuses gives Classic).
Method MethodOf(const ParamSet& params);
// The word that names a method in param.txt, on the command line and in the dialog.
std::string MethodName(Method method);

RegistrationOptions ToRegistrationOptions(const ParamSet& params);
ReconstructionOptions ToReconstructionOptions(const ParamSet& params);

// Runs both options' Check() on the set; a refusal becomes the ParamError of the field at
// fault, the message starting with the label and value the user knows ("PSF sigma 3 is ...").
void CheckAlgorithmOptions(const ParamSet& params);

// Every rule that depends on the values alone: text rules, ranges (CheckParamValues), then
// the algorithms' options' own checks (the RANSAC sample within its pool, the HR grid large
// enough for the PSF kernel, the method's rules). Throws ParamError naming the value by its
// label, with the allowed range.
void CheckParams(const ParamSet& params);

}  // namespace lumet
