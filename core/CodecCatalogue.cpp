#include "CodecCatalogue.h"

const std::array<const char*, 14> CodecNames = {
    "",
    "Microsoft MPEG4 V1",
    "Microsoft MPEG4 V2",
    "Microsoft MPEG4 V3",
    "DivX V1",
    "DivX V2",
    "DivX V3 Low",
    "DivX V3 Fast",
    "Angel Potion V1",
    "Angel Potion V2",
    "XviD",
    "DivX 4",
    "DivX 5",
    "3ivx",
};

namespace {

// The groups by CodecId (0 none): "Angel Potion V1" belongs to the V3 group.
constexpr std::array<TCodecGroup, 14> kGroups = {
    TCodecGroup::None, TCodecGroup::V1,   TCodecGroup::V2,   TCodecGroup::V3,   TCodecGroup::V1,
    TCodecGroup::V2,   TCodecGroup::V3,   TCodecGroup::V3,   TCodecGroup::V3,   TCodecGroup::V2,
    TCodecGroup::XviD, TCodecGroup::XviD, TCodecGroup::XviD, TCodecGroup::XviD,
};

// Offered targets per recognised codec, in list order; 0 ends a list.
constexpr std::array<std::array<TCodecId, 3>, 15> kOffered = {{
    {0, 0, 0},     // 0
    {4, 0, 0},     // 1 Microsoft MPEG4 V1
    {5, 9, 0},     // 2 Microsoft MPEG4 V2
    {6, 7, 8},     // 3 Microsoft MPEG4 V3
    {1, 0, 0},     // 4 DivX V1
    {2, 9, 0},     // 5 DivX V2
    {3, 8, 7},     // 6 DivX V3 Low
    {3, 8, 6},     // 7 DivX V3 Fast
    {3, 6, 7},     // 8 Angel Potion V1
    {2, 5, 0},     // 9 Angel Potion V2
    {11, 12, 13},  // 10 XviD
    {12, 10, 13},  // 11 DivX 4
    {11, 10, 13},  // 12 DivX 5
    {11, 12, 10},  // 13 3ivx
    {0, 0, 0},     // 14 unknown
}};

}  // namespace

TFourCCPair TargetFourCCs(TCodecId id) {
  if (id < kFirstCodec || id > kLastCodec) return {0, 0};
  return {kVideoCodes[id - 1].Handler, kVideoCodes[id - 1].Compression};
}

TCodecGroup CodecGroup(TCodecId id) { return id <= kLastCodec ? kGroups[id] : TCodecGroup::None; }

const char* CodecGroupName(TCodecGroup group) {
  switch (group) {
    case TCodecGroup::V1:
      return "V1 group";
    case TCodecGroup::V2:
      return "V2 group";
    case TCodecGroup::V3:
      return "V3 group";
    case TCodecGroup::XviD:
      return "XviD group";
    case TCodecGroup::None:
      break;
  }
  return "no group";
}

TCodecId DetectCodec(FourCC handler, FourCC compression) {
  // The handler decides; the compression counts for handler "divx" only.
  if (handler == MakeFourCC("divx")) {
    if (compression == MakeFourCC("DX50")) return 12;
    if (compression == MakeFourCC("DIVX")) return 11;
    return kUnknownCodec;
  }
  for (TCodecId id = kFirstCodec; id <= kLastCodec; ++id)
    if (kVideoCodes[id - 1].Handler == handler) return id;
  // Upper-case handlers that other writers use for three of them.
  if (handler == MakeFourCC("XVID")) return 10;
  if (handler == MakeFourCC("DIVX")) return 11;
  if (handler == MakeFourCC("DX50")) return 12;
  return kUnknownCodec;
}

TCodecId DetectCodec(FourCC handler, FourCC compression, bool anyCase) {
  const TCodecId id = DetectCodec(handler, compression);
  if (!anyCase || id != kUnknownCodec) return id;
  FourCC lower = 0;
  for (int i = 0; i < 32; i += 8) {
    const auto c = static_cast<std::uint8_t>(handler >> i);
    lower |= static_cast<FourCC>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) << i;
  }
  if (lower == MakeFourCC("divx") || lower == MakeFourCC("dx50")) return kUnknownCodec;
  return DetectCodec(lower, compression);
}

std::span<const TCodecId> OfferedTargets(TCodecId id) {
  if (id > kUnknownCodec) return {};
  const auto& row = kOffered[id];
  std::size_t n = 0;
  while (n < row.size() && row[n] != 0) ++n;
  return {row.data(), n};
}

TCodecId DetectCodecByCompression(FourCC compression, bool anyCase) {
  if (anyCase) {
    FourCC upper = 0;
    for (int i = 0; i < 32; i += 8) {
      const auto c = static_cast<std::uint8_t>(compression >> i);
      upper |= static_cast<FourCC>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c) << i;
    }
    compression = upper;
  }
  for (TCodecId id = kFirstCodec; id <= kLastCodec; ++id)
    if (kVideoCodes[id - 1].Compression == compression) return id;  // "DIV3": DivX V3 Low, the first
  return kUnknownCodec;
}

std::vector<TCodecId> OfferedTargetsByCompression(TCodecId id) {
  std::vector<TCodecId> targets;
  for (TCodecId t : OfferedTargets(id))
    if (DetectCodecByCompression(TargetFourCCs(t).Compression, false) == t) targets.push_back(t);
  return targets;
}
