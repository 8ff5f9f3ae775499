#pragma once

// DNG files as cameras lay them out (a small RGB preview first, with the DNG tags; the
// colour-filter mosaic in a sub-directory), made with libtiff for the camera raw tests.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumet::testing {

inline constexpr int kBlack = 64;
inline constexpr int kWhite = 4095;
// The camera's white balance as the file states it: red and blue are recorded at these
// shares of green for a grey scene.
inline constexpr double kRedShare = 0.5;
inline constexpr double kBlueShare = 0.8;

struct DngLayout {
  int width = 64;
  int height = 48;
  bool raw = true;  // false: a DNG with its preview alone
  // The scene's linear level (0 black .. 1 white) of the colour (0 red, 1 green, 2 blue)
  // a sensor pixel records.
  std::function<double(int x, int y, int colour)> scene = [](int x, int, int) { return x < 32 ? 0.25 : 0.75; };
};

// Writes a DNG: IFD0 a 16 x 12 preview of level 200, with the DNG tags; its sub-directory an
// RGGB mosaic of the scene, 12 bits over a black level of 64. False when libtiff failed.
inline bool WriteDng(const std::string& path, const DngLayout& layout) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  if (t == nullptr) return false;
  constexpr int kPreviewWidth = 16, kPreviewHeight = 12;
  TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kPreviewWidth);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, kPreviewHeight);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_MAKE, "Lumet");
  TIFFSetField(t, TIFFTAG_MODEL, "Test camera");
  static const uint8_t kVersion[4] = {1, 4, 0, 0}, kBackward[4] = {1, 1, 0, 0};
  TIFFSetField(t, TIFFTAG_DNGVERSION, kVersion);
  TIFFSetField(t, TIFFTAG_DNGBACKWARDVERSION, kBackward);
  TIFFSetField(t, TIFFTAG_UNIQUECAMERAMODEL, "Lumet Test camera");
  // XYZ to the camera's colours: those of linear sRGB, so that developing into the sRGB
  // primaries gives back the levels written.
  float matrix[9] = {3.2406f, -1.5372f, -0.4986f, -0.9689f, 1.8758f, 0.0415f, 0.0557f, -0.2040f, 1.0570f};
  TIFFSetField(t, TIFFTAG_COLORMATRIX1, 9, matrix);
  float neutral[3] = {static_cast<float>(kRedShare), 1.0f, static_cast<float>(kBlueShare)};
  TIFFSetField(t, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
  TIFFSetField(t, TIFFTAG_CALIBRATIONILLUMINANT1, 21);
  uint64_t subIfd[1] = {0};
  if (layout.raw) TIFFSetField(t, TIFFTAG_SUBIFD, 1, subIfd);
  std::vector<uint8_t> previewRow(kPreviewWidth * 3, 200);
  for (int y = 0; y < kPreviewHeight; ++y) TIFFWriteScanline(t, previewRow.data(), static_cast<uint32_t>(y), 0);
  bool written = TIFFWriteDirectory(t) != 0;
  if (layout.raw) {
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, layout.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, layout.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, 32803);  // colour-filter array
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    uint16_t repeat[2] = {2, 2};
    TIFFSetField(t, TIFFTAG_CFAREPEATPATTERNDIM, repeat);
    uint8_t pattern[4] = {0, 1, 1, 2};  // R G / G B
    TIFFSetField(t, TIFFTAG_CFAPATTERN, 4, pattern);
    float black = kBlack;
    TIFFSetField(t, TIFFTAG_BLACKLEVEL, 1, &black);
    uint32_t white = kWhite;
    TIFFSetField(t, TIFFTAG_WHITELEVEL, 1, &white);
    std::vector<uint16_t> row(static_cast<size_t>(layout.width));
    for (int y = 0; y < layout.height; ++y) {
      for (int x = 0; x < layout.width; ++x) {
        const bool red = y % 2 == 0 && x % 2 == 0, blue = y % 2 == 1 && x % 2 == 1;
        const double share = red ? kRedShare : blue ? kBlueShare : 1.0;
        const double level = std::clamp(layout.scene(x, y, red ? 0 : blue ? 2 : 1), 0.0, 1.0);
        row[static_cast<size_t>(x)] = static_cast<uint16_t>(std::lround(kBlack + level * share * (kWhite - kBlack)));
      }
      TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0);
    }
    written = TIFFWriteDirectory(t) != 0 && written;
  }
  TIFFClose(t);
  return written;
}

}  // namespace lumet::testing
