// Texts every front end shares: status texts, codec labels, quoted codes and
// offsets, and the JSON type of the objects they print.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "ProgramTexts.h"
#include "core/Driver.h"

namespace core {

// Members in the order they are set, so that the output reads like the
// documented interface.
using Json = nlohmann::ordered_json;

// The English interface's text of each failure status: the string the
// dialog shows for it.
inline const char* StatusText(std::uint8_t status) {
  static constexpr int kStringOf[] = {0, 2, 3, 4, 5, 15, 16};
  return status < std::size(kStringOf) ? kEnglishTexts[kStringOf[status]] : "Unknown failure";
}
inline const char* UnknownCodecText() { return kEnglishTexts[6]; }

inline std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

inline bool InCatalogue(TCodecId id) { return id >= kFirstCodec && id <= kLastCodec; }
inline std::string CodecLabel(TCodecId id) { return InCatalogue(id) ? CodecNames[id] : UnknownCodecText(); }
inline std::string Quoted(FourCC v) { return "\"" + FourCCText(v) + "\""; }

inline std::string Hex(std::int64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

inline std::string Dump(const Json& j) { return j.dump(2, ' ', false, Json::error_handler_t::replace); }

}  // namespace core
