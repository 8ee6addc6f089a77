// Texts every part of the command line shares: status texts, codec labels,
// quoted codes and offsets.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/Driver.h"

namespace cli {

// Members in the order they are set, so that the output reads like the
// documented interface.
using Json = nlohmann::ordered_json;

inline constexpr const char* kProgram = "tovacrex-cli";

// The English interface's status texts.
inline const char* StatusText(std::uint8_t status) {
  static const char* const kTexts[] = {"",
                                       "File no found",
                                       "Can't open file",
                                       "Can't write to file",
                                       "File isn't AVI-file",
                                       "Can't create stream",
                                       "Can't create Avi Reader"};
  return status < std::size(kTexts) ? kTexts[status] : "Unknown failure";
}

inline std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

inline bool InCatalogue(TCodecId id) { return id >= kFirstCodec && id <= kLastCodec; }
inline std::string CodecLabel(TCodecId id) { return InCatalogue(id) ? CodecNames[id] : "Unknown codec"; }
inline std::string Quoted(FourCC v) { return "\"" + FourCCText(v) + "\""; }

inline std::string Hex(std::int64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

inline std::string Dump(const Json& j) { return j.dump(2, ' ', false, Json::error_handler_t::replace); }

}  // namespace cli
