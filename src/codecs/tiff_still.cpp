// TIFF through libtiff, from and to memory. Frames are read on several threads at once, so
// each file has its own error handler (no process-wide one).

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "codecs/codec_failure.h"
#include "codecs/still_formats.h"
#include "imageio/exif_layout.h"

namespace lumet::codec {

namespace {

// The bytes a TIFF handle reads or writes; for writing, data grows with the file.
struct TiffMemory {
  const uint8_t* input = nullptr;
  std::string output{};
  size_t size = 0;
  size_t at = 0;
  bool writing = false;
  std::string error{};
};

tmsize_t ReadProc(thandle_t handle, void* out, tmsize_t count) {
  auto* m = static_cast<TiffMemory*>(handle);
  if (count < 0) return -1;
  const size_t n = std::min(static_cast<size_t>(count), m->at < m->size ? m->size - m->at : 0);
  const uint8_t* from = m->writing ? reinterpret_cast<const uint8_t*>(m->output.data()) : m->input;
  if (n > 0) std::memcpy(out, from + m->at, n);
  m->at += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t handle, void* in, tmsize_t count) {
  auto* m = static_cast<TiffMemory*>(handle);
  if (!m->writing || count < 0) return -1;
  try {
    const size_t n = static_cast<size_t>(count);
    if (m->at + n > m->output.size()) m->output.resize(m->at + n);
    std::memcpy(m->output.data() + m->at, in, n);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  m->at += static_cast<size_t>(count);
  m->size = m->output.size();
  return count;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* m = static_cast<TiffMemory*>(handle);
  const unsigned long long base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->size : 0;
  const unsigned long long target = base + offset;
  if (target > (m->writing ? (1ULL << 40) : m->size)) return static_cast<toff_t>(-1);
  m->at = static_cast<size_t>(target);
  return target;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<TiffMemory*>(handle)->size; }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* m = static_cast<TiffMemory*>(user);
  if (m->error.empty()) {
    char text[300];
    std::vsnprintf(text, sizeof text, format, args);
    m->error = text;
    (void)module;
  }
  return 1;
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }  // unknown tags and the like

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle Open(TiffMemory& memory, const char* mode, tmsize_t maxAllocation) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) throw std::bad_alloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &memory);
  TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, &memory);
  if (maxAllocation > 0) TIFFOpenOptionsSetMaxSingleMemAlloc(options, maxAllocation);
  TIFF* tiff = TIFFClientOpenExt("memory", mode, &memory, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                                 MapProc, UnmapProc, options);
  TIFFOpenOptionsFree(options);
  return TiffHandle(tiff);
}

struct TiffLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t samplesPerPixel = 1;
  uint16_t bits = 1;
  uint16_t photometric = 0;
  uint16_t planar = PLANARCONFIG_CONTIG;
  bool floating = false;  // 32-bit IEEE floating-point samples
  int channels = 0;       // the colour channels delivered: 1 or 3
};

std::string Reason(const TiffMemory& memory, const char* fallback) {
  return memory.error.empty() ? std::string(fallback) : memory.error;
}

// A DNG, or a camera's raw file in TIFF form, whose first picture is commonly a small
// preview beside the raw image: such files go to the camera raw reader.
void LeaveCameraRaw(TIFF* tiff) {
  void* dngVersion = nullptr;
  uint16_t photometric = 0;
  uint32_t subfileType = 0;
  constexpr uint16_t kPhotometricCfa = 32803, kPhotometricLinearRaw = 34892;
  const bool dng = TIFFGetField(tiff, TIFFTAG_DNGVERSION, &dngVersion) != 0;
  const bool mosaic = TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) != 0 &&
                      (photometric == kPhotometricCfa || photometric == kPhotometricLinearRaw);
  // A preview with sub-directories beside it (where cameras put the raw image).
  uint16_t subIfds = 0;
  void* subIfdOffsets = nullptr;
  const bool preview = TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &subfileType) != 0 &&
                       (subfileType & FILETYPE_REDUCEDIMAGE) != 0 &&
                       TIFFGetField(tiff, TIFFTAG_SUBIFD, &subIfds, &subIfdOffsets) != 0 && subIfds > 0;
  if (dng || mosaic || preview) FailUnsupported("a camera raw file, or a preview beside other pictures");
}

TiffLayout ReadLayout(TIFF* tiff, const std::string& name, const FrameLimits& limits) {
  TiffLayout l;
  uint16_t sampleFormat = SAMPLEFORMAT_UINT;
  uint16_t compression = COMPRESSION_NONE;
  if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &l.width) || !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &l.height) ||
      !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &l.photometric)) {
    FailUnreadable("the TIFF file lacks its size or colour interpretation");
  }
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &l.samplesPerPixel);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &l.bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &l.planar);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  if (l.samplesPerPixel > kMaxFileChannels) {
    Fail("cannot read " + name + ": it has " + std::to_string(l.samplesPerPixel) + " channels; a frame has 1 to " +
         std::to_string(kMaxFileChannels) + " (grey or RGB, with or without alpha)");
  }
  l.channels = l.photometric == PHOTOMETRIC_RGB ? 3 : 1;
  l.floating = l.bits == 32 && sampleFormat == SAMPLEFORMAT_IEEEFP;
  const bool samples = ((l.bits == 8 || l.bits == 16) && sampleFormat == SAMPLEFORMAT_UINT) || l.floating;
  const bool plain = (l.photometric == PHOTOMETRIC_RGB || l.photometric == PHOTOMETRIC_MINISBLACK) && samples &&
                     !TIFFIsTiled(tiff) &&
                     compression != COMPRESSION_JPEG && compression != COMPRESSION_OJPEG &&
                     l.samplesPerPixel >= l.channels;
  if (!plain) FailUnsupported("a TIFF layout the still module leaves to the imaging library");
  CheckFrameSize(name, l.width, l.height, l.channels, l.bits / 8, limits);
  return l;
}

// Copies the colour samples of rows [row, row + rows) out of one decoded strip. For planar
// files a strip holds one sample of each pixel (plane), else all of them interleaved.
template <typename T>
void CopyStrip(const TiffLayout& l, const T* strip, uint32_t row, uint32_t rows, int plane, std::vector<T>& out) {
  const size_t stride = l.planar == PLANARCONFIG_SEPARATE ? 1 : l.samplesPerPixel;
  for (uint32_t y = 0; y < rows; ++y) {
    const T* in = strip + static_cast<size_t>(y) * l.width * stride;
    T* to = out.data() + (static_cast<size_t>(row + y) * l.width) * static_cast<size_t>(l.channels);
    for (uint32_t x = 0; x < l.width; ++x) {
      if (l.planar == PLANARCONFIG_SEPARATE) {
        to[static_cast<size_t>(x) * static_cast<size_t>(l.channels) + static_cast<size_t>(plane)] = in[x];
      } else {
        for (int c = 0; c < l.channels; ++c) to[static_cast<size_t>(x) * static_cast<size_t>(l.channels) + static_cast<size_t>(c)] = in[x * stride + static_cast<size_t>(c)];
      }
    }
  }
}

template <typename T>
void ReadStrips(TIFF* tiff, const TiffLayout& l, const TiffMemory& memory, std::vector<T>& out,
                const std::string& name) {
  uint32_t rowsPerStrip = l.height;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  if (rowsPerStrip == 0 || rowsPerStrip > l.height) rowsPerStrip = l.height;
  const int planes = l.planar == PLANARCONFIG_SEPARATE ? l.channels : 1;
  const size_t samplesPerRow = static_cast<size_t>(l.width) * (l.planar == PLANARCONFIG_SEPARATE ? 1 : l.samplesPerPixel);
  AllocateSamples(out, static_cast<size_t>(l.width) * l.height * static_cast<size_t>(l.channels), name);
  std::vector<T> strip(samplesPerRow * rowsPerStrip);
  for (int plane = 0; plane < planes; ++plane) {
    for (uint32_t row = 0; row < l.height; row += rowsPerStrip) {
      const uint32_t rows = std::min(rowsPerStrip, l.height - row);
      const tmsize_t expected = static_cast<tmsize_t>(samplesPerRow * rows * sizeof(T));
      const tstrip_t index = TIFFComputeStrip(tiff, row, static_cast<uint16_t>(plane));
      const tmsize_t got = TIFFReadEncodedStrip(tiff, index, strip.data(), expected);
      if (got != expected) {
        FailUnreadable(Reason(memory, ("strip " + std::to_string(index) + " holds less data than its rows need").c_str()));
      }
      CopyStrip(l, strip.data(), row, rows, plane, out);
    }
  }
}

// The ICC profile tag, and the EXIF directory with the camera's tags of the first directory
// as an EXIF block, taken from the file's bytes as they are.
StillMetadata MetadataOf(TIFF* tiff, const uint8_t* bytes, size_t size) {
  StillMetadata metadata;
  uint32_t profileSize = 0;
  void* profile = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &profileSize, &profile) != 0 && profile != nullptr) {
    metadata.iccProfile.assign(static_cast<const char*>(profile), profileSize);
  }
  metadata.exif = exif::BlockOfTiff(bytes, size);
  return metadata;
}

// The tags of an EXIF block's first directory that a TIFF result carries, set in its own
// first directory, with placeholders for the EXIF and GPS directories (AppendExif fills them).
void SetExifTags(TIFF* t, const exif::Layout& record) {
  for (const exif::Entry& e : record.first.entries) {
    if (!exif::TiffCarries(e, record.bigEndian) || !e.sub.empty()) continue;
    const auto* v = reinterpret_cast<const uint8_t*>(e.value.data());
    if (e.type == 2) {
      TIFFSetField(t, e.tag, std::string(e.value.c_str()).c_str());  // up to its first NUL
    } else if (e.type == 3) {
      TIFFSetField(t, e.tag, static_cast<uint16_t>(exif::detail::Get(v, 2, record.bigEndian)));
    } else {
      const double numerator = exif::detail::Get(v, 4, record.bigEndian);
      TIFFSetField(t, e.tag, static_cast<float>(numerator / exif::detail::Get(v + 4, 4, record.bigEndian)));
    }
  }
  TIFFSetField(t, TIFFTAG_EXIFIFD, uint64_t{0});
  const exif::Entry* gps = record.first.Find(exif::kGpsDirectoryTag);
  if (gps != nullptr && !gps->sub.empty()) TIFFSetField(t, TIFFTAG_GPSIFD, uint64_t{0});
}

// Where the value of tag's entry in the first directory of a TIFF file sits (0: no entry).
size_t FirstDirectoryValueAt(const std::string& file, uint16_t tag) {
  const auto* p = reinterpret_cast<const uint8_t*>(file.data());
  const bool big = file[0] == 'M';
  const size_t start = exif::detail::Get(p + 4, 4, big);
  const size_t n = exif::detail::Get(p + start, 2, big);
  for (size_t i = 0; i < n; ++i) {
    const size_t at = start + 2 + 12 * i;
    if (exif::detail::Get(p + at, 2, big) == tag) return at + 8;
  }
  return 0;
}

// Appends the block's EXIF directory (one holding only the EXIF version when it had none)
// and GPS directory, whole, to the file libtiff wrote, and points its placeholders at them.
// The entries' bytes are copied rather than set through libtiff's tags, which would turn
// rationals into floats and leave out every tag it does not know (a maker's note, say).
void AppendExif(std::string& file, const exif::Layout& record, const std::string& path) {
  const bool big = file[0] == 'M';
  exif::Directory own;
  own.entries.push_back({exif::kExifVersionTag, 7, 4, "0232", {}});
  const exif::Entry* exifEntry = record.first.Find(exif::kExifDirectoryTag);
  const exif::Directory& exifDirectory = exifEntry != nullptr && !exifEntry->sub.empty() ? exifEntry->sub[0] : own;
  const std::pair<uint16_t, const exif::Directory*> appended[] = {
      {exif::kExifDirectoryTag, &exifDirectory}, {exif::kGpsDirectoryTag, nullptr}};
  for (auto [tag, directory] : appended) {
    if (tag == exif::kGpsDirectoryTag) {
      const exif::Entry* gps = record.first.Find(tag);
      if (gps == nullptr || gps->sub.empty()) continue;
      directory = &gps->sub[0];
    }
    const size_t at = FirstDirectoryValueAt(file, tag);
    const std::optional<uint32_t> offset = exif::Append(file, *directory, record.bigEndian, big);
    if (at == 0) Fail("cannot write " + path + ": the TIFF encoder left out the EXIF directory's pointer");
    if (!offset) Fail("cannot write " + path + ": its EXIF directory would lie beyond the 4 GiB a TIFF file reaches");
    exif::detail::Put(file, at, *offset, 4, big);
  }
}

}  // namespace

void ReadTiff(const std::string& name, const uint8_t* bytes, size_t size, const FrameLimits& limits,
              StillSamples& out) {
  TiffMemory memory{.input = bytes, .size = size};
  const TiffHandle tiff = Open(memory, "rm", static_cast<tmsize_t>(limits.maxSampleBytes));
  if (!tiff) FailUnreadable(Reason(memory, "not a TIFF file"));
  const tdir_t pages = TIFFNumberOfDirectories(tiff.get());
  if (pages > 1) {
    Fail("cannot read " + name + ": it holds " + std::to_string(pages) +
         " pages; a frame file holds one picture (save each page as its own file)");
  }
  LeaveCameraRaw(tiff.get());
  const TiffLayout layout = ReadLayout(tiff.get(), name, limits);
  StillSamples decoded;
  decoded.width = static_cast<int>(layout.width);
  decoded.height = static_cast<int>(layout.height);
  decoded.channels = layout.channels;
  if (layout.bits == 8) {
    ReadStrips(tiff.get(), layout, memory, decoded.samples8, name);
  } else if (layout.floating) {
    ReadStrips(tiff.get(), layout, memory, decoded.samplesFloat, name);
  } else {
    ReadStrips(tiff.get(), layout, memory, decoded.samples16, name);
  }
  decoded.metadata = MetadataOf(tiff.get(), bytes, size);
  out = std::move(decoded);
}

std::string EncodeTiff(const std::string& path, int width, int height, int bitsPerSample, const void* samples,
                       const StillMetadata* metadata) {
  TiffMemory memory;
  memory.writing = true;
  TiffHandle tiff = Open(memory, "wm", 0);
  if (!tiff) Fail("cannot write " + path + ": " + Reason(memory, "the TIFF encoder failed"));
  TIFF* t = tiff.get();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bitsPerSample);
  const bool floating = bitsPerSample == 32;
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, floating ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(t, TIFFTAG_PREDICTOR, floating ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  if (metadata != nullptr && !metadata->iccProfile.empty()) {
    TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(metadata->iccProfile.size()),
                 metadata->iccProfile.data());
  }
  // A block that is not one is left out (MetadataDroppedBy says so), as is all of it that
  // TIFF cannot carry.
  const std::optional<exif::Layout> record =
      metadata != nullptr && !metadata->exif.empty() ? exif::Read(metadata->exif) : std::nullopt;
  if (record) SetExifTags(t, *record);
  const size_t rowBytes = static_cast<size_t>(width) * 3 * static_cast<size_t>(bitsPerSample / 8);
  std::vector<uint8_t> row(rowBytes);  // the predictor works in place
  for (int y = 0; y < height; ++y) {
    std::memcpy(row.data(), static_cast<const uint8_t*>(samples) + rowBytes * static_cast<size_t>(y), rowBytes);
    if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0) {
      Fail("cannot write " + path + ": " + Reason(memory, "the TIFF encoder failed"));
    }
  }
  if (!TIFFWriteDirectory(t)) Fail("cannot write " + path + ": " + Reason(memory, "the TIFF encoder failed"));
  tiff.reset();
  if (record) AppendExif(memory.output, *record, path);
  return std::move(memory.output);
}

}  // namespace lumet::codec
