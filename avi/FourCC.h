// Four-character codes: four bytes in file order read little-endian, so the
// first character is the lowest byte. Compared as whole values, case counts.
#pragma once

#include <cstdint>
#include <string>

using FourCC = std::uint32_t;

constexpr FourCC MakeFourCC(const char (&s)[5]) {
  return static_cast<FourCC>(static_cast<unsigned char>(s[0])) |
         static_cast<FourCC>(static_cast<unsigned char>(s[1])) << 8 |
         static_cast<FourCC>(static_cast<unsigned char>(s[2])) << 16 |
         static_cast<FourCC>(static_cast<unsigned char>(s[3])) << 24;
}

constexpr FourCC FourCCFromBytes(const std::uint8_t* p) {
  return static_cast<FourCC>(p[0]) | static_cast<FourCC>(p[1]) << 8 | static_cast<FourCC>(p[2]) << 16 |
         static_cast<FourCC>(p[3]) << 24;
}

inline void FourCCToBytes(FourCC v, std::uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Printable form for messages: non-printable bytes become '.'.
inline std::string FourCCText(FourCC v) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) {
    auto c = static_cast<unsigned char>(v >> (8 * i));
    s[i] = (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
  }
  return s;
}
