#include "numeric/srgb.h"

#include <cmath>

namespace lumet {

namespace {

// The standard's constants: the encoded knee and its linear value (the knee divided by the
// linear piece's slope), the power and its offset.
constexpr double kKnee = 0.04045;
constexpr double kLinearSlope = 12.92;
constexpr double kLinearKnee = kKnee / kLinearSlope;
constexpr double kGamma = 2.4;
constexpr double kOffset = 0.055;

// The curves on 0 .. 1 (and on the continuations' starting points).
double DecodeInside(double v) { return v <= kKnee ? v / kLinearSlope : std::pow((v + kOffset) / (1.0 + kOffset), kGamma); }
double EncodeInside(double l) {
  if (l <= kLinearKnee) return l * kLinearSlope;
  const double v = (1.0 + kOffset) * std::pow(l, 1.0 / kGamma) - kOffset;
  return v < kKnee ? kKnee : v;  // within the step at the knee (a not-a-number stays one)
}
double DecodeSlopeInside(double v) {
  return v < kKnee ? 1.0 / kLinearSlope
                   : kGamma / (1.0 + kOffset) * std::pow((v + kOffset) / (1.0 + kOffset), kGamma - 1.0);
}

// Decode's slope at white: the continuation above 1 is Decode(1) + (v - 1) * this.
const double kWhiteSlope = DecodeSlopeInside(1.0);

}  // namespace

double SrgbDecode(double v) {
  if (v < 0.0) return -SrgbDecode(-v);
  if (v > 1.0) return 1.0 + (v - 1.0) * kWhiteSlope;
  return DecodeInside(v);  // also a NaN, which stays one
}

double SrgbEncode(double l) {
  if (l < 0.0) return -SrgbEncode(-l);
  if (l > 1.0) return 1.0 + (l - 1.0) / kWhiteSlope;
  return EncodeInside(l);
}

double SrgbDecodeSlope(double v) {
  v = std::fabs(v);
  return v > 1.0 ? kWhiteSlope : DecodeSlopeInside(v);
}

double SrgbEncodeSlope(double l) { return 1.0 / SrgbDecodeSlope(SrgbEncode(l)); }

const std::array<double, 256>& SrgbDecodeTable() {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> t{};
    for (int i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = DecodeInside(i / 255.0);
    return t;
  }();
  return table;
}

}  // namespace lumet
