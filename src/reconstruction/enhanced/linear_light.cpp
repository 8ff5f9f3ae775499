#include "reconstruction/enhanced/linear_light.h"

#include <cmath>
#include <limits>

#include "numeric/srgb.h"
#include "reconstruction/enhanced/luma_chroma.h"

namespace lumet {

namespace {

// The slope of the encoding (encoded grey levels per linear one) at a linear level.
double EncodeSlopeAt(double linear) { return 1.0 / SrgbDecodeLevelSlope(SrgbEncodeLevel(linear)); }

// The data term with every residual in encoded units (LinearLightBackend); r holds the
// predictions and is replaced by the derivative of the term in each.
double ScaledDataTerm(const ObservationModel& model, int c, const EnhancedWeights& weights,
                      const std::vector<double>& scale, ObjectiveScratch& scratch) {
  const std::vector<double>& values = model.Values(c);
  std::vector<double>& r = scratch.predicted;
  const double eps = weights.dataSmoothing;
  const bool perObservation = !weights.observation.empty();
  double energy = 0.0;
  double heldOutSum = 0.0;
  double heldOutWeight = 0.0;
  for (int k = 0; k < model.FrameCount(); ++k) {
    const size_t i = static_cast<size_t>(k);
    const double wk = i < weights.frame.size() ? weights.frame[i] : 1.0;
    const bool measured = i < weights.heldOut.size() && weights.heldOut[i] != 0;
    for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); ++o) {
      const double wo = perObservation ? weights.observation[o] : 1.0;
      const double d = (r[o] - values[o]) * scale[o];
      if (measured) {
        heldOutSum += wo * std::fabs(d);
        heldOutWeight += wo;
      }
      if (wk == 0.0) {
        r[o] = 0.0;
        continue;
      }
      const double root = std::sqrt(d * d + eps * eps);
      energy += wk * wo * (root - eps);
      r[o] = wk * wo * d / root * scale[o];
    }
  }
  scratch.heldOutError = heldOutWeight > 0.0 ? heldOutSum / heldOutWeight : std::numeric_limits<double>::quiet_NaN();
  scratch.heldOutWeight = heldOutWeight;
  return energy;
}

}  // namespace

bool SrgbEncodedFrame(const ColorGrayImage& frame) {
  return !(frame.deep && (frame.deep->floatSamples || frame.deep->linearSamples));
}

std::vector<double> DecodeObservations(ObservationModel& model, const std::vector<char>& encoded) {
  std::vector<double> scale(model.ObservationCount(), 1.0);
  for (int k = 0; k < model.FrameCount(); ++k) {
    const bool decode = static_cast<size_t>(k) < encoded.size() && encoded[static_cast<size_t>(k)] != 0;
    model.MapValues(model.FrameBegin(k), model.FrameEnd(k), [&](size_t o, double (&v)[3]) {
      if (decode) {
        for (double& value : v) value = SrgbDecodeLevel(value);
      }
      scale[o] = EncodeSlopeAt(kToLumaChroma[3] * v[0] + kToLumaChroma[4] * v[1] + kToLumaChroma[5] * v[2]);
    });
  }
  return scale;
}

void DecodePlanes(Plane (&planes)[3]) {
  for (Plane& p : planes) {
    for (double& v : p.v) v = SrgbDecodeLevel(v);
  }
}

void EncodePlanes(Plane (&planes)[3]) {
  for (Plane& p : planes) {
    for (double& v : p.v) v = SrgbEncodeLevel(v);
  }
}

Plane EncodingSlopes(const Plane& luma) {
  Plane k(luma.width, luma.height);
  for (size_t i = 0; i < luma.v.size(); ++i) k.v[i] = EncodeSlopeAt(luma.v[i]);
  return k;
}

void LinearLightBackend::ToSolved(int c, Plane& x) const {
  for (size_t i = 0; i < x.v.size(); ++i) x.v[i] = c == lumaBand_ ? SrgbEncodeLevel(x.v[i]) : x.v[i] * k_.v[i];
}

void LinearLightBackend::ToLinear(int c, Plane& z) const {
  for (size_t i = 0; i < z.v.size(); ++i) z.v[i] = c == lumaBand_ ? SrgbDecodeLevel(z.v[i]) : z.v[i] / k_.v[i];
}

double LinearLightBackend::Slope(int c, size_t i, double z) const {
  return c == lumaBand_ ? SrgbDecodeLevelSlope(z) : 1.0 / k_.v[i];
}

void LinearLightBackend::Forward(const ObservationModel& model, const Plane& z, ObjectiveScratch& scratch) const {
  Plane x = z;
  ToLinear(lumaBand_, x);
  inner_.Forward(model, x, scratch);
}

void LinearLightBackend::Adjoint(const ObservationModel& model, const std::vector<double>& r, Plane& out,
                                 ObjectiveScratch& scratch) const {
  inner_.Adjoint(model, r, out, scratch);
}

double LinearLightBackend::Objective(const ObservationModel& model, int c, const EnhancedWeights& weights,
                                     const Plane& z, Plane& gradient, ObjectiveScratch& scratch) const {
  Plane x = z;
  ToLinear(c, x);
  inner_.Forward(model, x, scratch);
  double energy = ScaledDataTerm(model, c, weights, scale_, scratch);
  inner_.Adjoint(model, scratch.predicted, gradient, scratch);
  for (size_t i = 0; i < z.v.size(); ++i) gradient.v[i] *= Slope(c, i, z.v[i]);  // d / dz = dx / dz d / dx
  if (weights.lambda != 0.0) energy += EnhancedPrior(weights, z, gradient);
  return energy;
}

}  // namespace lumet
