// The thirteen codecs the program converts between: names, the FourCC pair
// written for each, conversion groups, recognition and the target list.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "avi/VideoCodes.h"

using TCodecId = std::uint8_t;  // 1..13 catalogue codecs, 14 unknown, 0 none

inline constexpr TCodecId kNoCodec = 0;
inline constexpr TCodecId kFirstCodec = 1;
inline constexpr TCodecId kLastCodec = 13;
inline constexpr TCodecId kUnknownCodec = 14;

extern const std::array<const char*, 14> CodecNames;  // [0] is empty

struct TFourCCPair {
  FourCC Handler;      // strh fccHandler
  FourCC Compression;  // strf biCompression
};

// The pair written for codec 1..13.
TFourCCPair TargetFourCCs(TCodecId id);

enum class TCodecGroup { None, V1, V2, V3, XviD };
TCodecGroup CodecGroup(TCodecId id);
const char* CodecGroupName(TCodecGroup group);  // "V1 group" ...

TCodecId DetectCodec(FourCC handler, FourCC compression);
// With anyCase, a handler that is not recognised as it stands is taken in
// lower case: "MP43" as "mp43", "Xvid" as "xvid". "divx", "DIVX" and "DX50"
// name different codecs by their case, so they are never folded.
TCodecId DetectCodec(FourCC handler, FourCC compression, bool anyCase);

// The targets offered for a recognised codec, in list order (empty for 0, 14).
std::span<const TCodecId> OfferedTargets(TCodecId id);

// A Matroska VfW track has no handler: its compression code alone names the
// codec. DivX V3 Fast writes DivX V3 Low's code, so it is never one, nor
// offered. With anyCase the code is taken in upper case ("xvid" as "XVID").
TCodecId DetectCodecByCompression(FourCC compression, bool anyCase);
std::vector<TCodecId> OfferedTargetsByCompression(TCodecId id);

// The text of a target's list entry: the name, and for the original codec a
// blank and the language's original-format mark.
template <class Str>
Str TargetEntryText(TCodecId target, TCodecId originalCodec, const Str& mark) {
  Str text;
  if (target > kLastCodec) return text;
  for (const char* p = CodecNames[target]; *p; ++p) text.push_back(static_cast<typename Str::value_type>(*p));
  if (target == originalCodec) {
    text.push_back(static_cast<typename Str::value_type>(' '));
    text += mark;
  }
  return text;
}

// The codec 0..13 an entry text stands for: exact, case-sensitive; the first
// id whose name matches alone or with a blank and the mark.
template <class Str>
std::optional<TCodecId> CodecFromText(const Str& text, const Str& mark) {
  for (TCodecId k = 0; k <= kLastCodec; ++k) {
    Str name;
    for (const char* p = CodecNames[k]; *p; ++p) name.push_back(static_cast<typename Str::value_type>(*p));
    if (text == name) return k;
    Str marked = name;
    marked.push_back(static_cast<typename Str::value_type>(' '));
    marked += mark;
    if (text == marked) return k;
  }
  return std::nullopt;
}
