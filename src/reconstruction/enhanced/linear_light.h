#pragma once

#include <vector>

#include "numeric/image_plane.h"
#include "reconstruction/enhanced/backend.h"
#include "reconstruction/enhanced/forward_model.h"

namespace lumet {

// The enhanced method's solve in linear light. Frames are usually stored sRGB encoded, but
// the camera blurred and integrated the scene's light before it encoded it, so the forward
// model (PSF, pixel area, interpolation, averages of frames) holds for decoded values: solved
// on encoded ones, a blurred edge between dark and bright is not the blur of the scene's
// edge (the encoded blur is darker on the dark side, and its deconvolution rims the edge). The solve in linear light decodes the
// observations and the start estimate, solves, and encodes the estimate back.
//
// Everything measured in grey levels of the data stays in encoded units, where the noise
// of a camera's frames is about the same at every level: the noise, the brightness match,
// the agreement with frame 0 and its thresholds are read on the encoded frames before the
// decoding, and the solve's residuals are taken back to encoded units, each multiplied by
// the slope of the encoding at its observation's luma (in linear light the noise of a dark
// pixel is a small fraction of a bright one's, and unscaled residuals would let the bright
// places decide alone). The prior, too, acts on encoded values: on the encoded luma itself,
// and on the colour differences scaled by the slope at the start's luma (in linear light it
// would hardly smooth the shadows and flatten the highlights). The held-out errors, which
// stop the bands and decide whether the estimate is kept, are then in encoded grey levels
// like the ones of frame 0 enlarged they are compared with.

// Whether a frame's samples are sRGB encoded, to be decoded for the solve: 8- and 16-bit
// integer samples; floating-point and camera raw samples are linear already.
bool SrgbEncodedFrame(const ColorGrayImage& frame);

// The values of the model's observations (red, green, blue, grey levels) decoded to linear
// light (255 * SrgbDecode(v / 255)) for the frames whose encoded[k] is set, those of the
// other frames kept; returns per observation the slope of the encoding at its luma in
// linear light (kToLumaChroma's), by which a residual in linear light becomes one in
// encoded grey levels.
std::vector<double> DecodeObservations(ObservationModel& model, const std::vector<char>& encoded);

// Red, green and blue planes (grey levels) from encoded values to linear light, and back.
void DecodePlanes(Plane (&planes)[3]);
void EncodePlanes(Plane (&planes)[3]);

// The encoding's slope (encoded grey levels per linear one) at every pixel of a luma plane
// in linear light.
Plane EncodingSlopes(const Plane& luma);

// The solve in linear light around another backend. Its planes are not linear light
// itself: the luma band (lumaBand) holds the encoded luma z = Encode(x), the colour
// differences z = k x with k a fixed slope of the encoding per pixel (pixelScale:
// EncodingSlopes of the start's luma, smoothed). So every pixel is about as stiff as in the
// solve of encoded values and a pixel of the start far off its neighbours (the median's
// outliers) is as far off as there (in linear light a dark pixel is a hundred times stiffer
// than a bright one, and a white speck in the dark five times further off: the steps then
// leave such specks standing), and the prior acts on those values as on encoded ones. The
// forward model and its adjoint are the inner backend's on x; the data term's residual of
// observation o is multiplied by residualScale[o] (smoothed absolute value, held-out error
// alike). Forward and Adjoint take the luma band (FrameResiduals reads luma).
class LinearLightBackend final : public EnhancedBackend {
 public:
  LinearLightBackend(const EnhancedBackend& inner, const std::vector<double>& residualScale, const Plane& pixelScale,
                     int lumaBand)
      : inner_(inner), scale_(residualScale), k_(pixelScale), lumaBand_(lumaBand) {}
  std::string Name() const override { return inner_.Name(); }
  void Forward(const ObservationModel& model, const Plane& z, ObjectiveScratch& scratch) const override;
  // The adjoint of Forward at the luma band's z = Encode(x) held by the last Forward.
  void Adjoint(const ObservationModel& model, const std::vector<double>& r, Plane& out,
               ObjectiveScratch& scratch) const override;
  double Objective(const ObservationModel& model, int c, const EnhancedWeights& weights, const Plane& z,
                   Plane& gradient, ObjectiveScratch& scratch) const override;
  const std::vector<double>& ResidualScale() const { return scale_; }
  // Band c's plane from linear light to the solve's values, and back, in place.
  void ToSolved(int c, Plane& x) const;
  void ToLinear(int c, Plane& z) const;

 private:
  // dx / dz of band c at z.
  double Slope(int c, size_t i, double z) const;
  const EnhancedBackend& inner_;
  const std::vector<double>& scale_;
  const Plane& k_;
  int lumaBand_;
};

}  // namespace lumet
