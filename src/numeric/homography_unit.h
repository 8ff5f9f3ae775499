#pragma once

namespace lumet {

// Homographies act on pixel coordinates divided by this and their results are multiplied
// by it again (see numeric/projection.h). A header of its own so that the vector kernels,
// which include nothing of the standard library, can use it.
inline constexpr double HomographyUnit = 600.0;

}  // namespace lumet
