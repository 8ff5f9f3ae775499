#pragma once

#include <array>
#include <cstdint>

namespace lumet {

// The sRGB transfer curve (IEC 61966-2-1) on normalised values, 0 black and 1 white:
// Decode takes an encoded value to linear light, Encode takes it back. Between 0 and 1 the
// curve is the standard's two pieces: linear below its knee, a 2.4 power with offset above.
// Outside 0 .. 1 both continue so that they stay finite, monotone and each other's inverse:
// below 0 the curve is mirrored (f(-v) = -f(v), the linear piece goes on through 0), above 1
// it goes on along its tangent at white. A value that is not a number stays one.
//
// The standard's two pieces miss each other at the knee by kSrgbKneeGap: Decode steps up by
// that much there, and Encode takes the values in the step to the knee itself, so that both
// stay monotone. Encode(Decode(v)) gives v back within kSrgbRoundTrip (relative to
// max(1, |v|)) for every finite v; Decode(Encode(l)) gives l back within the same, or
// within kSrgbKneeGap for l in the step.
inline constexpr double kSrgbRoundTrip = 1.0e-12;
inline constexpr double kSrgbKneeGap = 2.4e-9;

double SrgbDecode(double encoded);
double SrgbEncode(double linear);
// The slopes d Decode / d encoded and d Encode / d linear at a value (the same continuation
// outside 0 .. 1; at the knee, the slope of the piece above it).
double SrgbDecodeSlope(double encoded);
double SrgbEncodeSlope(double linear);

// Decode of the 8-bit code i / 255, for i = 0 .. 255.
const std::array<double, 256>& SrgbDecodeTable();

// The same in grey levels, 0 .. 255 for black .. white, the units the frames' samples are
// held in: 255 * Decode(v / 255) and back, and the slope of the former (dimensionless).
inline double SrgbDecodeLevel(double level) { return 255.0 * SrgbDecode(level / 255.0); }
inline double SrgbEncodeLevel(double level) { return 255.0 * SrgbEncode(level / 255.0); }
inline double SrgbDecodeLevelSlope(double level) { return SrgbDecodeSlope(level / 255.0); }

}  // namespace lumet
