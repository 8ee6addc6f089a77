// Chunk ids and list types that both the chunk walker and the AVI reader
// test.
#pragma once

#include "FourCC.h"

namespace riffid {
inline constexpr FourCC kRIFF = MakeFourCC("RIFF");
inline constexpr FourCC kLIST = MakeFourCC("LIST");
inline constexpr FourCC kIdx1 = MakeFourCC("idx1");
inline constexpr FourCC kMovi = MakeFourCC("movi");

// "RIFF" and "LIST" hold a type field and further chunks.
constexpr bool IsContainer(FourCC id) { return id == kRIFF || id == kLIST; }
}  // namespace riffid
