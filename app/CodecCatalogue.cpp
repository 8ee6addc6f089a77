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

struct TRow {
  FourCC handler;
  FourCC compression;
  TCodecGroup group;
};

// Indexed by CodecId; row 0 is a placeholder. Handlers are written lower
// case, compressions upper case; "DivX V3 Fast" writes "DIV3", and
// "Angel Potion V1" belongs to the V3 group.
constexpr std::array<TRow, 14> kRows = {{
    {0, 0, TCodecGroup::None},
    {MakeFourCC("mpg4"), MakeFourCC("MPG4"), TCodecGroup::V1},
    {MakeFourCC("mp42"), MakeFourCC("MP42"), TCodecGroup::V2},
    {MakeFourCC("mp43"), MakeFourCC("MP43"), TCodecGroup::V3},
    {MakeFourCC("div1"), MakeFourCC("DIV1"), TCodecGroup::V1},
    {MakeFourCC("div2"), MakeFourCC("DIV2"), TCodecGroup::V2},
    {MakeFourCC("div3"), MakeFourCC("DIV3"), TCodecGroup::V3},
    {MakeFourCC("div4"), MakeFourCC("DIV3"), TCodecGroup::V3},
    {MakeFourCC("ap41"), MakeFourCC("AP41"), TCodecGroup::V3},
    {MakeFourCC("ap42"), MakeFourCC("AP42"), TCodecGroup::V2},
    {MakeFourCC("xvid"), MakeFourCC("XVID"), TCodecGroup::XviD},
    {MakeFourCC("divx"), MakeFourCC("DIVX"), TCodecGroup::XviD},
    {MakeFourCC("divx"), MakeFourCC("DX50"), TCodecGroup::XviD},
    {MakeFourCC("3iv2"), MakeFourCC("3IV2"), TCodecGroup::XviD},
}};

// Offered targets per recognised codec, in list order; 0 ends a list.
constexpr std::array<std::array<TCodecId, 3>, 15> kOffered = {{
    {0, 0, 0},      // 0
    {4, 0, 0},      // 1 Microsoft MPEG4 V1
    {5, 9, 0},      // 2 Microsoft MPEG4 V2
    {6, 7, 8},      // 3 Microsoft MPEG4 V3
    {1, 0, 0},      // 4 DivX V1
    {2, 9, 0},      // 5 DivX V2
    {3, 8, 7},      // 6 DivX V3 Low
    {3, 8, 6},      // 7 DivX V3 Fast
    {3, 6, 7},      // 8 Angel Potion V1
    {2, 5, 0},      // 9 Angel Potion V2
    {11, 12, 13},   // 10 XviD
    {12, 10, 13},   // 11 DivX 4
    {11, 10, 13},   // 12 DivX 5
    {11, 12, 10},   // 13 3ivx
    {0, 0, 0},      // 14 unknown
}};

}  // namespace

TFourCCPair TargetFourCCs(TCodecId id) {
  if (id < kFirstCodec || id > kLastCodec) return {0, 0};
  return {kRows[id].handler, kRows[id].compression};
}

TCodecGroup CodecGroup(TCodecId id) { return id <= kLastCodec ? kRows[id].group : TCodecGroup::None; }

const char* CodecGroupName(TCodecGroup group) {
  switch (group) {
    case TCodecGroup::V1: return "V1 group";
    case TCodecGroup::V2: return "V2 group";
    case TCodecGroup::V3: return "V3 group";
    case TCodecGroup::XviD: return "XviD group";
    case TCodecGroup::None: break;
  }
  return "no group";
}

TCodecId DetectCodec(FourCC handler, FourCC compression) {
  // The handler decides; the compression counts for handler "divx" only.
  struct TRule {
    FourCC handler;
    TCodecId id;
  };
  static constexpr TRule kByHandler[] = {
      {MakeFourCC("mpg4"), 1},  {MakeFourCC("mp42"), 2},  {MakeFourCC("mp43"), 3},  {MakeFourCC("div1"), 4},
      {MakeFourCC("div2"), 5},  {MakeFourCC("div3"), 6},  {MakeFourCC("div4"), 7},  {MakeFourCC("ap41"), 8},
      {MakeFourCC("ap42"), 9},  {MakeFourCC("xvid"), 10}, {MakeFourCC("XVID"), 10}, {MakeFourCC("DIVX"), 11},
      {MakeFourCC("DX50"), 12}, {MakeFourCC("3iv2"), 13},
  };
  if (handler == MakeFourCC("divx")) {
    if (compression == MakeFourCC("DX50")) return 12;
    if (compression == MakeFourCC("DIVX")) return 11;
    return kUnknownCodec;
  }
  for (const TRule& r : kByHandler)
    if (r.handler == handler) return r.id;
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
