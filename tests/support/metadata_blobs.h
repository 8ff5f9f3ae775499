#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

}  // namespace lumet::testing
