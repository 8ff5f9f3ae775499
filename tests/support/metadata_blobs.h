#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumet::testing {

inline void PutBigEndian32(std::string& bytes, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
}

// A small well-formed ICC profile of size bytes (at least 144): the 128-byte header (display
// class, colourSpace samples such as "RGB " or "GRAY", XYZ connection space, D50 illuminant),
// a tag table of one tag whose data fills the rest with bytes that vary with seed, so that
// profiles of different seeds differ and a byte out of place shows.
inline std::string TestIccProfile(size_t size, const char* colourSpace = "RGB ", int seed = 1) {
  std::string p(size, '\0');
  PutBigEndian32(p, 0, static_cast<uint32_t>(size));
  PutBigEndian32(p, 8, 0x02100000);  // version 2.1
  p.replace(12, 4, "mntr");
  p.replace(16, 4, colourSpace);
  p.replace(20, 4, "XYZ ");
  p.replace(36, 4, "acsp");
  PutBigEndian32(p, 68, 0x0000F6D6);  // D50: X 0.9642, Y 1.0, Z 0.8249 in s15.16
  PutBigEndian32(p, 72, 0x00010000);
  PutBigEndian32(p, 76, 0x0000D32D);
  PutBigEndian32(p, 128, 1);  // one tag
  p.replace(132, 4, "zzzz");
  PutBigEndian32(p, 136, 144);
  PutBigEndian32(p, 140, static_cast<uint32_t>(size - 144));
  for (size_t i = 144; i < size; ++i) p[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed) * 13) & 0xFF);
  return p;
}

// A big-endian EXIF block (TIFF-structured, as a PNG eXIf chunk holds it) with one entry:
// Orientation, the given value.
inline std::string TestExif(uint16_t orientation = 1) {
  std::string e("MM\0*\0\0\0\x08", 8);
  e += std::string("\0\x01", 2);                      // one entry
  e += std::string("\x01\x12\0\x03\0\0\0\x01", 8);    // tag 0x0112, SHORT, count 1
  e += std::string(1, static_cast<char>(orientation >> 8)) + std::string(1, static_cast<char>(orientation & 0xFF));
  e += std::string("\0\0", 2);
  e += std::string("\0\0\0\0", 4);  // no next directory
  return e;
}

// One entry of an EXIF directory; value in big-endian order (count elements of the type).
struct ExifTag {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  std::string value;
  bool operator==(const ExifTag&) const = default;
};

inline std::string BigEndian16(uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }
inline std::string BigEndian32(uint32_t v) { return BigEndian16(static_cast<uint16_t>(v >> 16)) + BigEndian16(v & 0xFFFF); }
inline ExifTag AsciiTag(uint16_t tag, const std::string& text) {
  return {tag, 2, static_cast<uint32_t>(text.size() + 1), text + std::string(1, '\0')};
}
inline ExifTag ShortTag(uint16_t tag, uint16_t v) { return {tag, 3, 1, BigEndian16(v)}; }
inline ExifTag RationalTag(uint16_t tag, uint32_t numerator, uint32_t denominator) {
  return {tag, 5, 1, BigEndian32(numerator) + BigEndian32(denominator)};
}

// A big-endian EXIF block laid out by hand: a first directory of `first` and a pointer
// (0x8769) to an EXIF directory of `exif`, which points (0xA005) to an interoperability
// directory of `interop` when that is not empty, and (0x8825) to a GPS directory of `gps`
// when that is not empty; then, with thumbnail, a second directory (a thumbnail's
// compression).
inline std::string CameraExif(const std::vector<ExifTag>& first, const std::vector<ExifTag>& exif,
                              const std::vector<ExifTag>& interop, bool thumbnail,
                              const std::vector<ExifTag>& gps = {}) {
  std::string block("MM\0*\0\0\0\x08", 8);
  // Each directory at the block's end, its long values after it; where each entry's value
  // field sits is kept, for the pointers, patched once their directories are placed.
  std::vector<std::pair<uint16_t, size_t>> valueAt;
  auto directory = [&](std::vector<ExifTag> tags) {
    std::sort(tags.begin(), tags.end(), [](const ExifTag& a, const ExifTag& b) { return a.tag < b.tag; });
    if (block.size() % 2 != 0) block.push_back('\0');
    const size_t start = block.size();
    block += BigEndian16(static_cast<uint16_t>(tags.size()));
    std::string values;
    const size_t valuesAt = start + 2 + 12 * tags.size() + 4;
    for (const ExifTag& t : tags) {
      block += BigEndian16(t.tag) + BigEndian16(t.type) + BigEndian32(t.count);
      valueAt.emplace_back(t.tag, block.size());
      if (t.value.size() <= 4) {
        block += t.value + std::string(4 - t.value.size(), '\0');
      } else {
        block += BigEndian32(static_cast<uint32_t>(valuesAt + values.size()));
        values += t.value + (t.value.size() % 2 != 0 ? std::string(1, '\0') : std::string());
      }
    }
    const size_t nextAt = block.size();
    block += BigEndian32(0) + values;
    return nextAt;
  };
  // Points the last entry `tag` placed at the block's end, where the next directory goes.
  auto point = [&](uint16_t tag) {
    if (block.size() % 2 != 0) block.push_back('\0');
    for (auto it = valueAt.rbegin(); it != valueAt.rend(); ++it) {
      if (it->first == tag) {
        block.replace(it->second, 4, BigEndian32(static_cast<uint32_t>(block.size())));
        return;
      }
    }
  };
  std::vector<ExifTag> firstTags = first;
  firstTags.push_back({0x8769, 4, 1, BigEndian32(0)});
  if (!gps.empty()) firstTags.push_back({0x8825, 4, 1, BigEndian32(0)});
  const size_t firstNext = directory(firstTags);
  point(0x8769);
  std::vector<ExifTag> exifTags = exif;
  if (!interop.empty()) exifTags.push_back({0xA005, 4, 1, BigEndian32(0)});
  directory(exifTags);
  if (!interop.empty()) {
    point(0xA005);
    directory(interop);
  }
  if (!gps.empty()) {
    point(0x8825);
    directory(gps);
  }
  if (thumbnail) {
    if (block.size() % 2 != 0) block.push_back('\0');
    block.replace(firstNext, 4, BigEndian32(static_cast<uint32_t>(block.size())));
    directory({ShortTag(0x0103, 6)});
  }
  return block;
}

// Entry `tag` of an EXIF block's first directory (directoryTag 0) or of the directory the
// first points to by directoryTag (0x8769 EXIF, 0x8825 GPS; 0xA005 through the EXIF one),
// its value turned big-endian; nothing when the block has no such entry. Blocks of either
// byte order, whose offsets are taken to be within it.
inline std::optional<ExifTag> ExifEntry(const std::string& block, uint16_t directoryTag, uint16_t tag) {
  if (block.size() < 8) return std::nullopt;
  const bool big = block[0] == 'M';
  auto get = [&](size_t at, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint32_t{static_cast<uint8_t>(block.at(at + i))} << (8 * (big ? n - 1 - i : i));
    return v;
  };
  auto find = [&](size_t ifd, uint16_t wanted) -> std::optional<std::pair<size_t, ExifTag>> {
    const size_t n = get(ifd, 2);
    for (size_t i = 0; i < n; ++i) {
      const size_t at = ifd + 2 + 12 * i;
      if (get(at, 2) != wanted) continue;
      ExifTag e{wanted, static_cast<uint16_t>(get(at + 2, 2)), get(at + 4, 4), {}};
      const size_t word = e.type == 3 || e.type == 8 ? 2 : e.type == 4 || e.type == 5 || e.type == 9 || e.type == 10 ? 4 : 1;
      const size_t bytes = word * e.count * (e.type == 5 || e.type == 10 ? 2 : 1);
      const size_t from = bytes <= 4 ? at + 8 : get(at + 8, 4);
      for (size_t w = 0; w < bytes; w += word) {
        const uint32_t v = get(from + w, word);
        e.value += word == 1 ? std::string(1, static_cast<char>(v)) : word == 2 ? BigEndian16(static_cast<uint16_t>(v)) : BigEndian32(v);
      }
      return std::make_pair(at, e);
    }
    return std::nullopt;
  };
  size_t ifd = get(4, 4);
  const uint16_t path[] = {directoryTag == 0xA005 ? uint16_t{0x8769} : directoryTag, directoryTag == 0xA005 ? uint16_t{0xA005} : uint16_t{0}};
  for (uint16_t step : path) {
    if (step == 0) continue;
    const auto pointer = find(ifd, step);
    if (!pointer) return std::nullopt;
    ifd = get(pointer->first + 8, 4);
  }
  const auto entry = find(ifd, tag);
  return entry ? std::optional<ExifTag>(entry->second) : std::nullopt;
}

}  // namespace lumet::testing
