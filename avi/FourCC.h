// Four-character codes: four bytes in file order read little-endian, so the
// first character is the lowest byte. Compared as whole values, case counts.
#pragma once

#include <cstdint>
#include <optional>
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

// Text form for messages and the command line's output: printable ASCII as
// itself, any other byte and the backslash as \xNN (upper-case hex), so that
// the text always maps back to exactly four bytes ("x\x00\x00\x00" is not
// "x...").
inline std::string FourCCText(FourCC v) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (int i = 0; i < 4; ++i) {
    auto c = static_cast<unsigned char>(v >> (8 * i));
    if (c >= 0x20 && c <= 0x7E && c != '\\') {
      s += static_cast<char>(c);
    } else {
      s += "\\x";
      s += kHex[c >> 4];
      s += kHex[c & 0xF];
    }
  }
  return s;
}

// The four bytes of a FourCCText text; nothing for any other text, so that a
// text read from outside stands for exactly one value.
inline std::optional<FourCC> FourCCFromText(const std::string& text) {
  auto hex = [](char h) { return h >= '0' && h <= '9' ? h - '0' : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1; };
  FourCC v = 0;
  std::size_t at = 0;
  for (int i = 0; i < 4 && at < text.size(); ++i, ++at) {
    int c = static_cast<unsigned char>(text[at]);
    if (c == '\\') {
      if (at + 3 >= text.size() || text[at + 1] != 'x' || hex(text[at + 2]) < 0 || hex(text[at + 3]) < 0)
        return std::nullopt;
      c = hex(text[at + 2]) * 16 + hex(text[at + 3]);
      at += 3;
    }
    v |= static_cast<FourCC>(c) << (8 * i);
  }
  if (FourCCText(v) != text) return std::nullopt;  // short, long, or not written as FourCCText writes it
  return v;
}
