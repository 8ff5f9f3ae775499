#pragma once

// The directories of an EXIF block, read and written entry by entry. An EXIF block is laid
// out as a TIFF file is (a header, then directories of 12-byte entries whose values sit
// inline or at an offset), so the same code reads a PNG's eXIf chunk and the directories of
// a TIFF file, and writes a block or a TIFF result's EXIF directory. The program and the
// still module both include it: standard headers only, nothing thrown.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lumet::exif {

// Tags of the directories an EXIF block points to from its first one (EXIF, GPS) and from
// its EXIF directory (interoperability).
inline constexpr uint16_t kExifDirectoryTag = 0x8769;
inline constexpr uint16_t kGpsDirectoryTag = 0x8825;
inline constexpr uint16_t kInteropDirectoryTag = 0xA005;
inline constexpr uint16_t kExifVersionTag = 0x9000;

// Value types: 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL, 6 SBYTE, 7 UNDEFINED, 8 SSHORT,
// 9 SLONG, 10 SRATIONAL, 11 FLOAT, 12 DOUBLE, 13 IFD. The bytes of one element of a value
// (a rational's two halves each 4): 0 for a type this code does not know.
inline size_t ElementSize(uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

// The bytes swapped within each word of a value of type (a rational's two halves apart).
inline size_t WordSize(uint16_t type) { return type == 5 || type == 10 ? 4 : ElementSize(type); }

struct Directory;

// One entry. value holds its count * ElementSize bytes in the byte order of the block it
// came from (empty for a type of ElementSize 0); an entry pointing to a directory this code
// follows holds that directory in sub instead.
struct Entry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  std::string value;
  std::vector<Directory> sub;  // one directory, or none
};

struct Directory {
  std::vector<Entry> entries;
  const Entry* Find(uint16_t tag) const {
    for (const Entry& e : entries) {
      if (e.tag == tag) return &e;
    }
    return nullptr;
  }
};

// A block, or a TIFF file, as read: its byte order, its first directory and whether another
// directory follows it (an EXIF block's thumbnail, a TIFF file's next page).
struct Layout {
  bool bigEndian = false;
  Directory first;
  bool followed = false;
};

namespace detail {

inline uint32_t Get(const uint8_t* p, size_t bytes, bool big) {
  uint32_t v = 0;
  for (size_t i = 0; i < bytes; ++i) v |= uint32_t{p[big ? i : bytes - 1 - i]} << (8 * (bytes - 1 - i));
  return v;
}

inline void Put(std::string& out, size_t at, uint32_t v, size_t bytes, bool big) {
  for (size_t i = 0; i < bytes; ++i) {
    const size_t shift = 8 * (big ? bytes - 1 - i : i);
    out[at + i] = static_cast<char>((v >> shift) & 0xFF);
  }
}

struct Reader {
  const uint8_t* data;
  size_t size;
  bool big;
  std::set<uint32_t> seen;  // directories already read: a loop of offsets ends the read
  // Value bytes copied so far: no more than the bytes hold, however many entries point to
  // the same ones.
  uint64_t copied = 0;

  uint32_t U16(size_t at) const { return Get(data + at, 2, big); }
  uint32_t U32(size_t at) const { return Get(data + at, 4, big); }

  static bool Followed(uint16_t tag, int depth) {
    return depth == 0 ? tag == kExifDirectoryTag || tag == kGpsDirectoryTag : depth == 1 && tag == kInteropDirectoryTag;
  }

  // The directory at offset (depth 0 the first, 1 the EXIF or GPS one, 2 interoperability);
  // next receives the offset of the directory after it. False when it does not fit the bytes.
  bool Read(uint32_t offset, int depth, Directory& out, uint32_t* next) {
    if (!seen.insert(offset).second || uint64_t{offset} + 2 > size) return false;
    const uint32_t n = U16(offset);
    if (uint64_t{offset} + 2 + 12ull * n + 4 > size) return false;
    for (uint32_t i = 0; i < n; ++i) {
      const size_t at = offset + 2 + 12 * size_t{i};
      Entry e;
      e.tag = static_cast<uint16_t>(U16(at));
      e.type = static_cast<uint16_t>(U16(at + 2));
      e.count = U32(at + 4);
      const size_t unit = ElementSize(e.type);
      const uint64_t bytes = uint64_t{unit} * e.count;
      if (Followed(e.tag, depth) && (e.type == 4 || e.type == 13) && e.count == 1) {
        e.sub.emplace_back();
        if (!Read(U32(at + 8), depth + 1, e.sub[0], nullptr)) return false;
      } else if (unit != 0) {
        const uint64_t from = bytes <= 4 ? at + 8 : U32(at + 8);
        copied += bytes;
        if (from + bytes > size || copied > size) return false;
        e.value.assign(reinterpret_cast<const char*>(data + from), static_cast<size_t>(bytes));
      }
      out.entries.push_back(std::move(e));
    }
    if (next != nullptr) *next = U32(offset + 2 + 12 * size_t{n});
    return true;
  }
};

}  // namespace detail

// The layout of a block or a classic TIFF file ("II*\0" or "MM\0*"), or nothing when its
// header or a directory it reaches does not fit its bytes.
inline std::optional<Layout> Read(const uint8_t* data, size_t size) {
  if (size < 8) return std::nullopt;
  const bool big = data[0] == 'M' && data[1] == 'M';
  if (!(big || (data[0] == 'I' && data[1] == 'I')) || detail::Get(data + 2, 2, big) != 42) return std::nullopt;
  detail::Reader reader{data, size, big, {}, 0};
  Layout layout;
  layout.bigEndian = big;
  uint32_t next = 0;
  if (!reader.Read(detail::Get(data + 4, 4, big), 0, layout.first, &next)) return std::nullopt;
  layout.followed = next != 0;
  return layout;
}

inline std::optional<Layout> Read(const std::string& bytes) {
  return Read(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Appends directory d to out (whose byte 0 is the header offsets count from) in byte order
// toBig, its values converted from fromBig, then the directories it points to; entries of a
// type without an ElementSize are left out. Gives d's offset, or nothing when out would
// pass the 4 GiB an offset reaches.
inline std::optional<uint32_t> Append(std::string& out, const Directory& d, bool fromBig, bool toBig) {
  std::vector<const Entry*> kept;
  for (const Entry& e : d.entries) {
    if (!e.sub.empty() || ElementSize(e.type) != 0) kept.push_back(&e);
  }
  // A directory's entries go in ascending order of their tags.
  std::stable_sort(kept.begin(), kept.end(), [](const Entry* a, const Entry* b) { return a->tag < b->tag; });
  if (out.size() % 2 != 0) out.push_back('\0');
  const size_t start = out.size();
  if (start + 6 + 12 * kept.size() > 0xFFFFFFFFu) return std::nullopt;
  out.resize(start + 6 + 12 * kept.size(), '\0');
  detail::Put(out, start, static_cast<uint32_t>(kept.size()), 2, toBig);
  for (size_t i = 0; i < kept.size(); ++i) {
    const Entry& e = *kept[i];
    const size_t at = start + 2 + 12 * i;
    detail::Put(out, at, e.tag, 2, toBig);
    detail::Put(out, at + 2, e.sub.empty() ? e.type : 4u, 2, toBig);
    detail::Put(out, at + 4, e.sub.empty() ? e.count : 1u, 4, toBig);
    if (!e.sub.empty()) {
      const std::optional<uint32_t> child = Append(out, e.sub[0], fromBig, toBig);
      if (!child) return std::nullopt;
      detail::Put(out, at + 8, *child, 4, toBig);
      continue;
    }
    std::string value = e.value;
    const size_t word = WordSize(e.type);
    if (fromBig != toBig && word > 1) {
      for (size_t w = 0; w + word <= value.size(); w += word) std::reverse(value.begin() + w, value.begin() + w + word);
    }
    if (value.size() <= 4) {
      out.replace(at + 8, value.size(), value);
      continue;
    }
    if (out.size() % 2 != 0) out.push_back('\0');
    if (out.size() + value.size() > 0xFFFFFFFFu) return std::nullopt;
    detail::Put(out, at + 8, static_cast<uint32_t>(out.size()), 4, toBig);
    out += value;
  }
  return static_cast<uint32_t>(start);
}

// A block of one directory (and those it points to), in byte order big.
inline std::string Write(const Directory& first, bool fromBig, bool big) {
  std::string out(big ? std::string("MM\0*\0\0\0\x08", 8) : std::string("II*\0\x08\0\0\0", 8));
  Append(out, first, fromBig, big);  // a block's directories are small
  return out;
}

// The tags of a first directory a TIFF result carries into its own first directory (as
// TIFF defines them, with the type and count given; count 0: any), beside the EXIF, GPS and
// interoperability directories, which it carries whole: the picture's description and where
// it came from.
struct CarriedTag {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
};
inline constexpr CarriedTag kTiffCarriedTags[] = {
    // Texts of any length: ImageDescription, Make, Model, Software, DateTime, Artist,
    // HostComputer, Copyright.
    {0x010E, 2, 0}, {0x010F, 2, 0}, {0x0110, 2, 0}, {0x0131, 2, 0},
    {0x0132, 2, 0}, {0x013B, 2, 0}, {0x013C, 2, 0}, {0x8298, 2, 0},
    // One short each: Orientation, ResolutionUnit.
    {0x0112, 3, 1}, {0x0128, 3, 1},
    // One rational each: XResolution, YResolution.
    {0x011A, 5, 1}, {0x011B, 5, 1},
};

// Whether a TIFF result carries entry e of a first directory in byte order big: one of
// kTiffCarriedTags of its type and count, with a value TIFF allows (an orientation of 1 to 8,
// a resolution unit of 1 to 3, a resolution of a non-zero denominator), or the EXIF or GPS
// directory.
inline bool TiffCarries(const Entry& e, bool big) {
  if (e.tag == kExifDirectoryTag || e.tag == kGpsDirectoryTag) return !e.sub.empty();
  const auto* data = reinterpret_cast<const uint8_t*>(e.value.data());
  for (const CarriedTag& c : kTiffCarriedTags) {
    if (c.tag != e.tag) continue;
    if (e.type != c.type || (c.count != 0 && e.count != c.count) || e.value.empty()) return false;
    if (e.tag == 0x0112) return detail::Get(data, 2, big) >= 1 && detail::Get(data, 2, big) <= 8;
    if (e.tag == 0x0128) return detail::Get(data, 2, big) >= 1 && detail::Get(data, 2, big) <= 3;
    return e.type != 5 || detail::Get(data + 4, 4, big) != 0;
  }
  return false;
}

// Tags of a first directory that describe frame 0's own pixels (its size, samples, strips,
// compression, a JPEG's YCbCr layout) or its ICC profile, which goes on its own: a result's
// file has its own, so they are left out without a word.
inline bool DescribesThePixels(uint16_t tag) {
  static const std::set<uint16_t> kLayout = {0x00FE, 0x00FF, 0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x0107, 0x0111,
                                             0x0115, 0x0116, 0x0117, 0x011C, 0x013D, 0x0140, 0x0142, 0x0143, 0x0144,
                                             0x0145, 0x0152, 0x0153, 0x0201, 0x0202, 0x0211, 0x0212, 0x0213, 0x0214,
                                             0x8773};
  return kLayout.count(tag) != 0;
}

inline std::string TagName(uint16_t tag) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string s = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) s += kDigits[(tag >> shift) & 0xF];
  return s;
}

// What of a block a TIFF result cannot carry, for a warning: "thumbnail" when the block has
// one, then each tag left out, as "tag 0x9C9B" ("" when it carries everything). nullopt for
// bytes that are not a block at all.
inline std::optional<std::vector<std::string>> TiffDrops(const std::string& block) {
  const std::optional<Layout> layout = Read(block);
  if (!layout) return std::nullopt;
  std::vector<std::string> dropped;
  if (layout->followed) dropped.push_back("thumbnail");
  for (const Entry& e : layout->first.entries) {
    if (!TiffCarries(e, layout->bigEndian) && !DescribesThePixels(e.tag)) dropped.push_back("tag " + TagName(e.tag));
    for (const Directory& d : e.sub) {
      for (const Entry& inner : d.entries) {
        if (inner.sub.empty() && ElementSize(inner.type) == 0) dropped.push_back("tag " + TagName(inner.tag));
        for (const Directory& interop : inner.sub) {
          for (const Entry& i : interop.entries) {
            if (ElementSize(i.type) == 0) dropped.push_back("tag " + TagName(i.tag));
          }
        }
      }
    }
  }
  return dropped;
}

// The EXIF block of a TIFF file read whole: the tags of its first directory that a TIFF
// result carries and the EXIF and GPS directories, in the file's byte order. Empty when the
// file has neither directory (its own first directory is the picture's, not a camera's
// record) or when they do not fit its bytes.
inline std::string BlockOfTiff(const uint8_t* data, size_t size) {
  const std::optional<Layout> file = Read(data, size);
  if (!file) return {};
  Directory first;
  bool record = false;
  for (const Entry& e : file->first.entries) {
    if (!TiffCarries(e, file->bigEndian)) continue;
    record = record || !e.sub.empty();
    first.entries.push_back(e);
  }
  return record ? Write(first, file->bigEndian, file->bigEndian) : std::string();
}

}  // namespace lumet::exif
