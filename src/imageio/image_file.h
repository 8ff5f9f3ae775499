#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "numeric/image_plane.h"

namespace lumet {

// File formats a result image can be written in.
enum class ImageFormat { Bmp, Png, Tiff, Exr };

// "bmp", "png", "tiff" (or "tif") or "exr", in any case; none for another word.
std::optional<ImageFormat> ImageFormatOf(const std::string& word);
// The same, lumet::Error otherwise, naming the word and the choices.
ImageFormat ParseImageFormat(const std::string& word);
// The format of an 8-bit frame file by its extension without the dot (as ImageFormatOf
// reads it); none for an unknown one and for "exr", which is for results at depth.
std::optional<ImageFormat> FrameFileFormat(const std::string& extension);
// ".bmp", ".png", ".tif", ".exr".
const char* ImageFormatExtension(ImageFormat format);

// The still formats frames may come in, for messages: "BMP, PNG, JPEG, TIFF, ...".
std::string SupportedStillFormats();

// Reads one still frame into image (channel 0 red, 1 green, 2 blue, row 0 at the top).
// A name ending in ".bmp" (any case) goes to BmpFile, byte for byte as always; every other
// still format goes through a codec module (loaded on first need), which refuses, before
// decoding, frames larger than BMP's limits or whose decoded samples would take more than
// 512 MiB, files of more than 4 channels, TIFF files of several pages, and files that are cut
// short or damaged. Out of memory is a lumet::Error naming the file. 16-bit samples v become
// (v * 255 + 32767) / 65535, the nearest 8-bit value, and are kept as they are in
// image.deep (DeepValue; null for 8-bit files). Floating-point samples (OpenEXR half or
// float, 32-bit float TIFF; 1.0 the nominal white) are kept in image.deep as v * 255,
// unclamped (FloatDeepValue), beside their nearest 8-bit values clamped to 0 .. 255
// (FloatTo8Bit); a file holding a sample that is not a number or infinite is refused,
// naming the file and the pixel. Grey frames fill all three channels and an alpha channel
// is ignored. A file that is missing, unreadable or not a supported format: lumet::Error
// naming it (and the supported formats); image is then unchanged.
void ReadImageFile(const std::string& path, ColorGrayImage& image);

// The nearest 8-bit value of a 16-bit sample.
inline uint8_t To8Bit(uint16_t v) { return static_cast<uint8_t>((static_cast<uint32_t>(v) * 255u + 32767u) / 65535u); }

// A 16-bit sample in 8-bit grey-level units (the deep planes' values): v / 257.
inline float DeepValue(uint16_t v) { return static_cast<float>(v / 257.0); }

// A floating-point sample (1.0 the nominal white) in the deep planes' units: v * 255.
inline float FloatDeepValue(float v) { return static_cast<float>(static_cast<double>(v) * 255.0); }
// The nearest 8-bit value of a finite floating-point sample: v * 255 rounded, clamped to 0 .. 255.
uint8_t FloatTo8Bit(float v);

// A frame of width x height interleaved 16-bit RGB samples (a deep video frame, say): the
// 8-bit channels (To8Bit) and the deep planes (DeepValue), as a 16-bit file gives them.
ColorGrayImage FrameOf16BitRgb(const std::vector<uint16_t>& rgb, int width, int height);

// The 16-bit form of an estimate value v: floor(v * 257) clamped to 0 .. 65535 (not a
// number gives 0). Integer division by 257 gives back exactly the 8-bit value the
// reconstruction writes (v truncated and clamped to 0 .. 255).
uint16_t EstimateTo16Bit(double v);

// Writes the whole image through the atomic writer. BMP: byte for byte what
// BmpFile::WriteImage writes. PNG: 8 bits per channel. TIFF: 16 bits per channel, each
// sample v * 257. OpenEXR: 32-bit floats, each sample v / 255. The image's metadata goes
// along as far as the format keeps it (MetadataDroppedBy says what does not); the writers
// below that take an estimate keep the estimate's alike.
void WriteImageFile(const std::string& path, const ColorGrayImage& image, ImageFormat format);

// Throws the lumet::Error WriteImageFile would give when the writer of format cannot be
// loaded (PNG and TIFF need the still codec module, OpenEXR the media module), so a command
// can refuse before any work;
// context names what asked for the format.
void CheckImageWriter(ImageFormat format, const std::string& context);

// Writes a double-valued estimate as a 16-bit RGB TIFF (EstimateTo16Bit per sample).
void WriteEstimateTiff(const std::string& path, const ColorDoubleImage& estimate);
// The same as a 16-bit RGB PNG or TIFF, as format says (lumet::Error for BMP, which holds 8
// bits alone).
void WriteEstimate16Bit(const std::string& path, const ColorDoubleImage& estimate, ImageFormat format);
// Writes width x height interleaved 16-bit RGB samples as they are, as a PNG or TIFF
// (lumet::Error for BMP and OpenEXR).
void WriteSamples16Bit(const std::string& path, int width, int height, const std::vector<uint16_t>& rgb,
                       ImageFormat format, const FileMetadata* metadata = nullptr);

// Writes a double-valued estimate unquantised as 32-bit floats, each sample v / 255 (so 1.0
// is the nominal white and values beyond 0 .. 1 are kept), as an OpenEXR or TIFF file, as
// format says (lumet::Error for BMP and PNG).
void WriteEstimateFloat(const std::string& path, const ColorDoubleImage& estimate, ImageFormat format);
// The same as 16-bit half floats (11 significant bits: within 1 / 2048 of each value, up to
// 65504), half the size, as an OpenEXR file (lumet::Error for every other format).
void WriteEstimateHalf(const std::string& path, const ColorDoubleImage& estimate, ImageFormat format);
// Writes width x height interleaved floating-point RGB samples as they are, as an OpenEXR or
// 32-bit float TIFF file (lumet::Error for BMP and PNG).
void WriteSamplesFloat(const std::string& path, int width, int height, const std::vector<float>& rgb,
                       ImageFormat format, const FileMetadata* metadata = nullptr);
// The same as half floats, each rounded to the nearest, as an OpenEXR file (lumet::Error for
// every other format).
void WriteSamplesHalf(const std::string& path, int width, int height, const std::vector<float>& rgb,
                      ImageFormat format, const FileMetadata* metadata = nullptr);

// Why an ICC profile cannot go with an RGB result ("" when it can): it is not a whole,
// well-formed profile (its size, signature, connection space or tag table), or it describes
// other samples than RGB ones (a grey frame's profile), or no image's colours at all.
std::string IccProfileProblem(const std::string& profile);

// What of a frame's metadata a file of format leaves out, for a warning: parts is "ICC
// profile", "EXIF" or "ICC profile and EXIF" ("" when everything is kept), reason why, and
// remedy what keeps it. PNG keeps both, TIFF the profile and the EXIF but for what
// exif::TiffDrops names (its thumbnail, tags TIFF has no place for; all of a block that is
// not one), BMP and OpenEXR neither; a profile with an IccProfileProblem is kept by none.
struct DroppedMetadata {
  std::string parts;
  std::string reason;
  std::string remedy;
};
DroppedMetadata MetadataDroppedBy(ImageFormat format, const FileMetadata& metadata);

// The depth a result is written at, as asked: 8 bits (the estimate cut to grey levels), 16
// (the estimate itself, EstimateTo16Bit), float (the estimate itself, WriteEstimateFloat),
// half (the estimate as half floats, WriteEstimateHalf), or Auto: the deepest that frame 0's
// file had and the format holds.
enum class ResultDepth { Auto, Bits8, Bits16, Half, Float };
// "auto", "8", "16", "half" or "float" (lumet::Error otherwise).
ResultDepth ParseResultDepth(const std::string& word);

// The samples of frame 0's file: 8 bits, deeper integers, or floating point.
enum class InputDepth { Bits8, Bits16, Float };
InputDepth InputDepthOf(const ColorGrayImage& frame);

// The samples a result is written with.
enum class ResultSamples { Bits8, Bits16, Half, Float };
// What a result in format is written with. BMP: 8 bits. PNG: 8 or 16, Auto 16 for frames
// deeper than 8 bits. TIFF: 16 or float, Auto float for floating-point frames, 16 otherwise.
// OpenEXR: float or half, Auto float. lumet::Error for a depth the format cannot hold,
// naming the formats that do.
ResultSamples ResultSamplesFor(ImageFormat format, ResultDepth depth, InputDepth input);

}  // namespace lumet
