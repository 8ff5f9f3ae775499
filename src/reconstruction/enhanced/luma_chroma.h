#pragma once

namespace lumet {

// The solve's colour coordinates: luma in the green band's place, the two colour
// differences (those of video coding, without offsets) in red's and blue's, and back. Luma
// carries the detail; the colour differences, which compression and colour subsampling
// damage most and which change slowly in most scenes, get more of the prior (kChromaPrior,
// solver.h).
inline constexpr double kToLumaChroma[9] = {0.5,       -0.418688, -0.081312,   // red - luma, scaled
                                            0.299,     0.587,     0.114,       // luma
                                            -0.168736, -0.331264, 0.5};        // blue - luma, scaled
inline constexpr double kToRgb[9] = {1.402, 1.0, 0.0, -0.714136, 1.0, -0.344136, 0.0, 1.0, 1.772};

}  // namespace lumet
