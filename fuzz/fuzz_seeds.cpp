// Writes the seed inputs of every fuzz target with the engine's own writers:
//   lumet-fuzz-seeds DIR  ->  DIR/bmp_reader, DIR/param_file, DIR/homography_file,
//                             DIR/command_line, DIR/still_reader, DIR/video_reader
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

// clang-format off: jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
// clang-format on

#include "imageio/bmp_file.h"
#include "imageio/homography_file.h"
#include "imageio/image_file.h"
#include "imageio/test_video.h"
#include "imageio/video_writer.h"
#include "support/metadata_blobs.h"
#include "numeric/projection.h"
#include "params/param_file.h"
#include "params/param_set.h"
#include "registration/homography_refinement.h"

namespace {

namespace fs = std::filesystem;
using namespace lumet;

void Put(const fs::path& folder, const std::string& name, const std::string& bytes) {
  fs::create_directories(folder);
  std::ofstream(folder / name, std::ios::binary | std::ios::trunc) << bytes;
}

ColorGrayImage Pattern(int width, int height) {
  ColorGrayImage image;
  image.Create(width, height);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) image.channels[c].Row(y)[x] = static_cast<uint8_t>(x * 40 + y * 90 + c * 60);
    }
  }
  image.mask.Fill(0);
  return image;
}

void PutU32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The other layouts the reader accepts, made from a written 24-bit file by rewriting its
// header fields and pixel array.
std::string TopDown(std::string bmp) {
  const int32_t height = static_cast<int32_t>(static_cast<uint8_t>(bmp[22]) | static_cast<uint8_t>(bmp[23]) << 8);
  PutU32(bmp, 22, static_cast<uint32_t>(-height));
  return bmp;
}

std::string WithPixelBits(int bits, int width, int height) {
  const int stride = ((width * bits / 8) + 3) & ~3;
  const int palette = bits == 8 ? 4 * 4 : 0;  // four colours
  const int offBits = 54 + palette;
  std::string b(static_cast<size_t>(offBits + stride * height), '\0');
  b[0] = 'B';
  b[1] = 'M';
  PutU32(b, 2, static_cast<uint32_t>(b.size()));
  PutU32(b, 10, static_cast<uint32_t>(offBits));
  PutU32(b, 14, 40);
  PutU32(b, 18, static_cast<uint32_t>(width));
  PutU32(b, 22, static_cast<uint32_t>(height));
  b[26] = 1;
  b[28] = static_cast<char>(bits);
  if (bits == 8) {
    PutU32(b, 46, 4);
    for (int c = 0; c < 4; ++c) PutU32(b, static_cast<size_t>(54 + 4 * c), 0x00406080u * static_cast<uint32_t>(c));
  }
  for (size_t i = static_cast<size_t>(offBits); i < b.size(); ++i) b[i] = static_cast<char>((i * 7) & (bits == 8 ? 3 : 0xFF));
  return b;
}

// A small JPEG (grey or colour) of the pattern, through the format's own library.
std::string Jpeg(const ColorGrayImage& image, bool grey, bool progressive) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(image.Width());
  info.image_height = static_cast<JDIMENSION>(image.Height());
  info.input_components = grey ? 1 : 3;
  info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(image.Width()) * 3);
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      for (int c = 0; c < (grey ? 1 : 3); ++c) {
        row[static_cast<size_t>(x) * (grey ? 1 : 3) + static_cast<size_t>(c)] = image.channels[static_cast<size_t>(c)].Row(y)[x];
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string bytes(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return bytes;
}

std::string Arguments(const std::vector<std::string>& args) {
  std::string joined;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) joined.push_back('\0');
    joined += args[i];
  }
  return joined;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lumet-fuzz-seeds DIR\n");
    return 2;
  }
  const fs::path out(argv[1]);

  const fs::path bmp = out / "bmp_reader";
  Put(bmp, "24bit-4x3.bmp", BmpFile::EncodeImage(Pattern(4, 3), 0, 0, 4, 3));
  Put(bmp, "24bit-5x2-padded.bmp", BmpFile::EncodeImage(Pattern(5, 2), 0, 0, 5, 2));
  Put(bmp, "24bit-1x1.bmp", BmpFile::EncodeImage(Pattern(1, 1), 0, 0, 1, 1));
  Put(bmp, "24bit-top-down.bmp", TopDown(BmpFile::EncodeImage(Pattern(3, 3), 0, 0, 3, 3)));
  Put(bmp, "8bit-palette.bmp", WithPixelBits(8, 6, 3));
  Put(bmp, "32bit.bmp", WithPixelBits(32, 3, 2));

  const fs::path param = out / "param_file";
  ParamSet p = InitParams();
  Put(param, "standard.txt", FormatParamFile(p));
  p.lrPattern = "frames/f%03d.bmp";
  p.outputBase = "out/x";
  p.roi = RoiRect{-5, 0, 2147483000, 12};
  p.scale = 3.0;
  p.psfSigma = 1.25e-5;
  p.lambda = 1e+30;
  Put(param, "other.txt", FormatParamFile(p));
  std::string crlf;
  for (char c : FormatParamFile(InitParams())) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  Put(param, "crlf.txt", crlf);
  Put(param, "short.txt", "./images/lr-%d.bmp\n./result/hr\n30\n160");

  const fs::path hom = out / "homography_file";
  Put(hom, "identity.txt", FormatHomographyFile(IdentityHomography()));
  Matrix shift = IdentityHomography();
  shift.At1(1, 3) = 3.0 / 600.0;
  shift.At1(2, 3) = -2.0 / 600.0;
  Put(hom, "shift.txt", FormatHomographyFile(shift));
  Matrix general = shift;
  general.At1(1, 1) = 1.01;
  general.At1(1, 2) = -0.02;
  general.At1(2, 1) = 0.015;
  general.At1(3, 1) = 1.5e-5;
  general.At1(3, 2) = -2e-6;
  Put(hom, "perspective.txt", FormatHomographyFile(general));

  const fs::path cli = out / "command_line";
  const std::vector<std::vector<std::string>> lines = {
      {"init-params"},
      {"params", "--lr-count", "12", "--roi", "10,20,30,40", "--scale", "3", "--ransac", "20/25"},
      {"-C", "dir", "register", "--sad-size", "8", "--search-area", "30", "--snapshots", "snap"},
      {"reconstruct", "--psf-sigma", "0.6", "--alpha", "0.7", "--beta", "1", "--lambda", "0.003"},
      {"run", "--lr-pattern", "./images/lr-%d.bmp", "--output", "./result/hr", "--filter-sigma", "1.5"},
      {"show-reference", "--out", "ref.bmp"},
      {"synth", "seq", "--lr-count", "6", "--size", "220x160", "--seed", "3"},
      {"compare", "a.bmp", "b.bmp"},
      {"demo", "d"},
      {"register", "--help"},
      {"--version"},
  };
  for (size_t i = 0; i < lines.size(); ++i) Put(cli, "args-" + std::to_string(i), Arguments(lines[i]));
  // Still frames: PNG, 16-bit and float TIFF through the program's own writers, JPEG through
  // libjpeg.
  const fs::path still = out / "still_reader";
  fs::create_directories(still);
  WriteImageFile((still / "rgb.png").string(), Pattern(7, 5), ImageFormat::Png);
  WriteImageFile((still / "rgb16.tif").string(), Pattern(6, 4), ImageFormat::Tiff);
  WriteSamplesFloat((still / "float.tif").string(), 2, 2,
                    {0.f, 0.5f, 1.f, 1.5f, -0.25f, 2.f, 0.1f, 0.2f, 0.3f, 9.f, 1e-3f, 0.75f}, ImageFormat::Tiff);
  Put(still, "rgb.jpg", Jpeg(Pattern(16, 9), false, false));
  // A TIFF with EXIF, GPS and interoperability directories beside its own, and the PNG of it.
  {
    using namespace lumet::testing;
    ColorGrayImage camera = Pattern(6, 4);
    camera.metadata = std::make_shared<const lumet::FileMetadata>(lumet::FileMetadata{
        "", CameraExif({AsciiTag(0x010F, "Lumet Optics"), ShortTag(0x0112, 6), RationalTag(0x011A, 72, 1)},
                       {RationalTag(0x829A, 1, 250), AsciiTag(0x9003, "2026:12:09 10:11:12"), {0x927C, 7, 6, "makern"}},
                       {AsciiTag(0x0001, "R98")}, false, {AsciiTag(0x0001, "N")})});
    WriteImageFile((still / "exif.tif").string(), camera, ImageFormat::Tiff);
    WriteImageFile((still / "exif.png").string(), camera, ImageFormat::Png);
  }
  Put(still, "grey-progressive.jpg", Jpeg(Pattern(9, 17), true, true));

  // Video: lossless clips in two containers through FFmpeg's own muxers.
  const fs::path video = out / "video_reader";
  fs::create_directories(video);
  const std::vector<ColorGrayImage> frames = {Pattern(16, 8), Pattern(16, 8), Pattern(16, 8)};
  lumet::testing::WriteLosslessVideo((video / "ffv1.mkv").string(), frames);
  lumet::testing::WriteLosslessVideo((video / "ffv1.nut").string(), frames);
  // Deep streams, read through the 16-bit conversion.
  for (const int bits : {10, 16}) {
    lumet::VideoWriter::Options deep;
    deep.bitsPerSample = bits;
    lumet::VideoWriter writer((video / ("ffv1-" + std::to_string(bits) + ".mkv")).string(), 16, 8,
                              lumet::VideoTiming{1, 25, 25, 1}, deep);
    for (int k = 0; k < 2; ++k) writer.Write(frames[static_cast<size_t>(k)], k);
    writer.Finish();
  }
  std::printf("seeds written to %s\n", out.string().c_str());
  return 0;
}
